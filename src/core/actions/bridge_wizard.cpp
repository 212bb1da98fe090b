#include "actions/bridge_wizard.h"

namespace fd {

bool ApScanWait::Start(const std::string& ip, const std::string& mac) {
    m_seconds = 0;
    m_completed = false;
    m_store.DeleteAllOtherAp();
    // The engine lowers its scan-complete flag before the request leaves, so a flag seen
    // from here on belongs to this scan.
    const bool sent = m_engine.SendToDevice(ip, CMD_SCAN, nullptr, 0, mac, true);
    m_scanning = sent;
    return sent;
}

bool ApScanWait::Tick() {
    if (!m_scanning) return true;
    ++m_seconds;
    if (m_engine.IsScanComplete()) {
        m_completed = true;
        m_scanning = false;
    } else if (m_seconds >= kLimitSeconds) {
        m_scanning = false;
    }
    return !m_scanning;
}

void RunBridgeSendWorker(std::stop_token st, IDeviceEngine& engine, const std::string& ip,
                         const std::string& mac, const BridgeConfigBody& body, ReadBack readBack,
                         std::optional<ap_info_stu> station) {
    if (st.stop_requested()) return;
    const uint64_t sentAfter = readBack.log ? readBack.log->LastSeq() : 0;
    engine.SendToDevice(ip, CMD_BRIDGE_CONFIG, &body, static_cast<int>(sizeof body), mac, true);
    if (!station) return;
    readBack.options.stop = st;
    AwaitAndVerify(readBack, engine, mac, IpToText(body.ip.ip), {CMD_BRIDGE_CONFIG}, sentAfter,
                   ExpectedAfterBridge(*station, body),
                   {SettingGroup::Bridge, SettingGroup::Address});
}

void StartBridgeSendWorker(WorkerSlot& slot, IDeviceEngine& engine, std::string ip, std::string mac,
                           BridgeConfigBody body, ReadBack readBack,
                           std::optional<ap_info_stu> station) {
    slot.Start([&engine, ip = std::move(ip), mac = std::move(mac), body,
                readBack = std::move(readBack), station](std::stop_token st) {
        RunBridgeSendWorker(st, engine, ip, mac, body, readBack, station);
    });
}

}  // namespace fd
