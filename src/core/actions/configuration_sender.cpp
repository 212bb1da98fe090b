#include "actions/configuration_sender.h"

#include "config/labels.h"

namespace fd {

namespace {

template <typename T>
std::vector<uint8_t> Bytes(const T& block, std::size_t size = sizeof(T)) {
    const auto b = BytesOf(block);
    return {b.begin(), b.begin() + static_cast<std::ptrdiff_t>(std::min(size, b.size()))};
}

}  // namespace

std::vector<ConfigurationCommand> ConfigurationCommands(const PendingConfiguration& p) {
    std::vector<ConfigurationCommand> out;
    if (p.nameChanged) out.push_back({CMD_SET_NAME, Bytes(p.name)});
    if (p.wirelessChanged) out.push_back({CMD_SET_WIRELESS, Bytes(p.wireless)});
    if (p.rebootChanged) out.push_back({CMD_SET_TIMED_REBOOT, Bytes(p.reboot)});
    if (p.vlanChanged) out.push_back({CMD_SET_VLAN, Bytes(p.vlan, p.vlanSize)});
    if (p.ipChanged) out.push_back({CMD_SET_IP, Bytes(p.ip)});
    return out;
}

std::string NewAddressOf(const PendingConfiguration& p) {
    return IpToText(p.ip.ip);
}

std::vector<bool> RunConfigurationSender(std::stop_token st, IDeviceEngine& engine,
                                         const ConfigurationTarget& target,
                                         const PendingConfiguration& p) {
    const std::vector<ConfigurationCommand> commands = ConfigurationCommands(p);
    std::vector<bool> sent(commands.size(), false);
    for (std::size_t i = 0; i < commands.size(); ++i) {
        if (st.stop_requested()) break;
        const ConfigurationCommand& c = commands[i];
        if (c.command == CMD_SET_IP)
            engine.SetPendingAddress(target.mac, target.ip, NewAddressOf(p));
        sent[i] = engine.SendToDevice(target.ip, c.command, c.body.data(),
                                      static_cast<int>(c.body.size()), target.mac, true);
    }
    return sent;
}

void StartConfigurationSender(WorkerSlot& slot, IDeviceEngine& engine, ConfigurationTarget target,
                              PendingConfiguration pending, ReadBack readBack) {
    slot.Start([&engine, target = std::move(target), pending,
                readBack = std::move(readBack)](std::stop_token st) mutable {
        const uint64_t sentAfter = readBack.log ? readBack.log->LastSeq() : 0;
        RunConfigurationSender(st, engine, target, pending);
        if (!readBack.log || !target.record || st.stop_requested()) return;
        const ap_info_stu& rec = *target.record;
        readBack.options.stop = st;
        readBack.options = ConfigurationReadBackOptions(rec, pending, readBack.options);
        std::vector<int> commands;
        for (const ConfigurationCommand& c : ConfigurationCommands(pending))
            commands.push_back(c.command);
        AwaitAndVerify(readBack, engine, target.mac, ConfigurationReadBackAddress(rec, pending),
                       commands, sentAfter, ExpectedRecord(rec, pending), SentGroups(pending));
    });
}

}  // namespace fd
