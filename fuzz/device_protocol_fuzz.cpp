// The engine's receive path over arbitrary datagrams: the port filter, the three handlers and
// what they write to the store, with nothing sent on any socket. The input is a sequence of
// datagrams, each as [port selector][length, 2 bytes][bytes], so the handlers see devices
// that answer, deliver info and go on talking in any order.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "engine/device_protocol.h"

namespace {

// A store that checks what the engine hands it instead of storing it.
class CheckingStore : public IDeviceStore {
public:
    bool QueryApPage(int, ApInfoList&, int&, int&, int, int, bool, const std::string&) override {
        return false;
    }
    bool QueryApIpList(std::vector<std::string>&) override { return false; }
    bool QueryApMacList(std::vector<std::string>& macs) override {
        macs.push_back("00:00:00:00:00:01");
        return true;
    }
    bool QueryApByMac(const std::string&, ap_info_stu&) override { return false; }
    bool QueryOtherApList(int, OtherApList&, bool) override { return false; }
    bool QueryOtherApByMac(const std::string&, config_otherwl_basic&) override { return false; }
    bool SaveApInfo(const ap_info_stu& rec) override {
        // Converted texts always fit their fields, and the mac text is terminated.
        if (rec.ap_name_len > 32 || rec.ssid_len > 32 || rec.bridge_ssid_len > 32) __builtin_trap();
        if (std::memchr(rec.mac, 0, sizeof rec.mac) == nullptr) __builtin_trap();
        return true;
    }
    bool SaveOtherApList(std::span<const uint8_t> body) override {
        if (body.size() > fd::kScanForwardBytes) __builtin_trap();
        // Only whole entries are handed on, and the codec reads every one of them.
        const auto scan = fd::DecodeScanResult(body);
        if (body.size() != fd::kScanHeaderSize + scan.entries.size() * sizeof(config_otherwl_basic))
            __builtin_trap();
        return true;
    }
    bool DeleteApByMac(const std::string&) override { return true; }
    bool DeleteAllOtherAp() override { return true; }
    bool UpdateApUpTime(const std::string&, const std::string&, uint32_t) override { return true; }
    bool IsApUpgradeWait(const std::string&) override { return false; }
    bool SetApUpgrading(const std::string&) override { return true; }
    bool SetApStatus(const std::string&, int status) override {
        if (status < 0 || status > 9) __builtin_trap();
        return true;
    }
    bool ResetApUpgradeFail(const std::string&) override { return false; }
    int GetApStatus(const std::string&) override { return 0; }
    bool HasBridgedStation(const std::string&) override { return false; }
    bool FindBridgePeer(const std::string&, std::string&) override { return false; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CheckingStore store;
    fd::DeviceProtocolOptions o;
    o.store = &store;
    o.openSockets = false;
    o.sendHook = [](const fd::OutgoingDatagram& out) {
        if (out.bytes.size() < fd::kHeaderSize || out.bytes.size() > fd::kMaxDatagram)
            __builtin_trap();
        return true;
    };
    o.adapterSource = [] {
        LocalAdapterInfo a{};
        a.up = 1;
        a.ip_count = 1;
        std::memcpy(a.addrs[0].ip, "198.18.0.1", 11);
        std::memcpy(a.addrs[0].mask, "255.254.0.0", 12);
        return std::vector<LocalAdapterInfo>{a};
    };
    CDeviceProtocol engine(o);
    std::vector<LocalAdapterInfo> adapters;
    engine.ReadLocalAdapters(adapters);

    std::span<const uint8_t> in(data, size);
    int round = 0;
    while (in.size() >= 3 && round++ < 64) {
        const auto port = static_cast<CDeviceProtocol::Port>(in[0] % 3);
        const bool fromSecond = in[0] & 0x80;
        std::size_t len = in[1] | (in[2] << 8);
        in = in.subspan(3);
        if (len > in.size()) len = in.size();
        engine.InjectDatagram(port, in.first(len), fromSecond ? "198.18.1.2" : "198.18.1.1");
        engine.ProcessQueue(port);
        in = in.subspan(len);
        if (round % 8 == 0) {
            engine.RetransmitPending();
            engine.SweepLiveness();
            ApInfoList list;
            engine.GetDiscoveredDevices(list, 100);
            for (const ap_info_stu& rec : list)
                if (rec.version_len > 32) __builtin_trap();
            engine.PurgeStaleDevices();
        }
    }
    for (const fd::PeerEntry& p : engine.GetPeers()) {
        if (std::memchr(p.ip, 0, sizeof p.ip) == nullptr) __builtin_trap();
        if (p.state != 1 && p.state != 2) __builtin_trap();
    }
    return 0;
}
