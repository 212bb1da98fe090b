// How fast the engine takes in a burst: a search of a large network answered at once.
// No sockets: datagrams go through the receiving filter and one worker wake-up, and what
// the engine sends is dropped by the send hook.
#include <benchmark/benchmark.h>

#include <cstring>

#include "engine/device_protocol.h"

namespace {

class NullStore : public IDeviceStore {
public:
    bool QueryApPage(int, ApInfoList&, int&, int&, int, int, bool, const std::string&) override {
        return false;
    }
    bool QueryApIpList(std::vector<std::string>&) override { return false; }
    bool QueryApMacList(std::vector<std::string>&) override { return false; }
    bool QueryApByMac(const std::string&, ap_info_stu&) override { return false; }
    bool QueryOtherApList(int, OtherApList&, bool) override { return false; }
    bool QueryOtherApByMac(const std::string&, config_otherwl_basic&) override { return false; }
    bool SaveApInfo(const ap_info_stu&) override { return true; }
    bool SaveDiscoveredDevice(const ap_info_stu&) override { return true; }
    bool DeleteDiscoveredDevices() override { return true; }
    bool SaveOtherApList(const fd::ScanResult&) override { return true; }
    bool DeleteApByMac(const std::string&) override { return true; }
    bool DeleteAllOtherAp() override { return true; }
    bool UpdateApUpTime(const std::string&, const std::string&, uint32_t) override { return true; }
    bool IsApUpgradeWait(const std::string&) override { return false; }
    bool SetApUpgrading(const std::string&) override { return true; }
    bool SetApStatus(const std::string&, int) override { return true; }
    bool ResetApUpgradeFail(const std::string&) override { return false; }
    int GetApStatus(const std::string&) override { return 0; }
    bool HasBridgedStation(const std::string&) override { return false; }
    bool FindBridgePeer(const std::string&, std::string&) override { return false; }
};

fd::DeviceProtocolOptions Options(NullStore& store) {
    fd::DeviceProtocolOptions o;
    o.store = &store;
    o.openSockets = false;
    o.queueCapacity = 1 << 20;
    o.sendHook = [](const fd::OutgoingDatagram&) { return true; };
    o.adapterSource = [] {
        LocalAdapterInfo a{};
        a.up = 1;
        a.ip_count = 1;
        std::memcpy(a.addrs[0].ip, "198.18.0.1", 11);
        std::memcpy(a.addrs[0].mask, "255.254.0.0", 12);
        return std::vector<LocalAdapterInfo>{a};
    };
    return o;
}

std::vector<uint8_t> Datagram(int command, int device, std::span<const uint8_t> body) {
    uint8_t mac[6] = {
        0x02, 0, 0, 0, static_cast<uint8_t>(device >> 8), static_cast<uint8_t>(device)};
    return fd::EncodeDatagram(static_cast<uint16_t>(command), body, mac, 0, 7);
}

std::string DeviceIp(int device) {
    return "198.18." + std::to_string(1 + device / 250) + "." + std::to_string(1 + device % 250);
}

// N devices answer one search: search replies, then their device infos.
void BM_DiscoveryBurst(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    std::vector<std::vector<uint8_t>> replies, infos;
    BriefInfoBody brief{};
    fd::SetFieldText(brief.version, 32, brief.version_len, "V2.1.0");
    fd::SetFieldText(brief.ap_name, 32, brief.ap_name_len, "CPE on the mast");
    for (int i = 0; i < n; ++i) {
        replies.push_back(Datagram(fd::CMD_SEARCH, i, fd::BytesOf(brief)));
        ap_info_stu rec{};
        fd::IpFromText(DeviceIp(i), rec.ip);
        infos.push_back(Datagram(fd::CMD_DEVICE_INFO, i, fd::EncodeDeviceInfo(rec)));
    }
    NullStore store;
    for (auto _ : state) {
        CDeviceProtocol engine(Options(store));
        std::vector<LocalAdapterInfo> a;
        engine.ReadLocalAdapters(a);
        for (int i = 0; i < n; ++i)
            engine.InjectDatagram(CDeviceProtocol::PORT_SEARCH_REPLY, replies[i], DeviceIp(i));
        engine.ProcessQueue(CDeviceProtocol::PORT_SEARCH_REPLY);
        for (int i = 0; i < n; ++i)
            engine.InjectDatagram(CDeviceProtocol::PORT_REPLY, infos[i], DeviceIp(i));
        engine.ProcessQueue(CDeviceProtocol::PORT_REPLY);
        benchmark::DoNotOptimize(engine.GetStats());
    }
    state.SetItemsProcessed(state.iterations() * n * 2);
}
BENCHMARK(BM_DiscoveryBurst)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond);

// The receiving threads' share: filter and queue only.
void BM_FilterAndQueue(benchmark::State& state) {
    NullStore store;
    CDeviceProtocol engine(Options(store));
    auto d = Datagram(fd::CMD_REBOOT, 1, {});
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i)
            engine.InjectDatagram(CDeviceProtocol::PORT_REPLY, d, "198.18.1.1");
        state.PauseTiming();
        engine.ProcessQueue(CDeviceProtocol::PORT_REPLY);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_FilterAndQueue);

}  // namespace
