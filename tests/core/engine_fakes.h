#pragma once
// Recording stand-ins for the engine's surroundings: a device store that remembers every
// call, a sender that records every datagram instead of sending it, and builders for the
// datagrams devices send.

#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/device_protocol.h"

namespace fd::test {

class FakeStore : public IDeviceStore {
public:
    struct StatusCall {
        std::string mac;
        int status;
    };
    struct UpTimeCall {
        std::string ip, mac;
        uint32_t seconds;
    };

    std::vector<ap_info_stu> Saved() const { return Locked(saved); }
    std::vector<StatusCall> Statuses() const { return Locked(statuses); }
    std::vector<std::string> Upgrading() const { return Locked(upgrading); }
    std::vector<std::string> Deleted() const { return Locked(deleted); }
    std::vector<UpTimeCall> UpTimes() const { return Locked(upTimes); }
    std::vector<ScanResult> ScanPackets() const { return Locked(scans); }
    // The rows of status 10 as the store would hold them: the last record per device, in the
    // order the devices first answered, until the device's information replaces it.
    std::vector<ap_info_stu> Discovered() const { return Locked(discovered); }
    // Every SaveDiscoveredDevice call, whatever it changed.
    int DiscoveredWrites() const {
        std::lock_guard l(m);
        return discoveredWrites;
    }
    const ap_info_stu* DiscoveredRow(const std::string& mac) {
        std::lock_guard l(m);
        for (const ap_info_stu& rec : discovered)
            if (mac == rec.mac) return &rec;
        return nullptr;
    }
    void SetStoredMacs(std::vector<std::string> macs) {
        std::lock_guard l(m);
        storedMacs = std::move(macs);
    }

    bool QueryApPage(int, ApInfoList&, int&, int&, int, int, bool, const std::string&) override {
        return false;
    }
    bool QueryApIpList(std::vector<std::string>&) override { return false; }
    bool QueryApMacList(std::vector<std::string>& macs) override {
        std::lock_guard l(m);
        macs.insert(macs.end(), storedMacs.begin(), storedMacs.end());
        return true;
    }
    bool QueryApByMac(const std::string&, ap_info_stu&) override { return false; }
    bool QueryOtherApList(int, OtherApList&, bool) override { return false; }
    bool QueryOtherApByMac(const std::string&, config_otherwl_basic&) override { return false; }
    bool SaveApInfo(const ap_info_stu& rec) override {
        std::lock_guard l(m);
        std::erase_if(discovered, [&](const ap_info_stu& d) { return std::strcmp(d.mac, rec.mac) == 0; });
        saved.push_back(rec);
        return true;
    }
    bool SaveDiscoveredDevice(const ap_info_stu& rec) override {
        std::lock_guard l(m);
        ++discoveredWrites;
        for (const ap_info_stu& s : saved)
            if (std::strcmp(s.mac, rec.mac) == 0) return true;  // a row with information stays
        for (ap_info_stu& d : discovered)
            if (std::strcmp(d.mac, rec.mac) == 0) return (d = rec), true;
        discovered.push_back(rec);
        return true;
    }
    bool DeleteDiscoveredDevices() override {
        std::lock_guard l(m);
        discovered.clear();
        return true;
    }
    bool SaveOtherApList(const ScanResult& scan) override { return Add(scans, scan); }
    bool DeleteApByMac(const std::string& mac) override {
        std::lock_guard l(m);
        std::erase_if(discovered, [&](const ap_info_stu& d) { return mac == d.mac; });
        deleted.push_back(mac);
        return true;
    }
    bool DeleteAllOtherAp() override { return true; }
    bool UpdateApUpTime(const std::string& ip, const std::string& mac, uint32_t s) override {
        return Add(upTimes, UpTimeCall{ip, mac, s});
    }
    bool IsApUpgradeWait(const std::string&) override { return false; }
    bool SetApUpgrading(const std::string& mac) override { return Add(upgrading, mac); }
    bool SetApStatus(const std::string& mac, int status) override {
        return Add(statuses, StatusCall{mac, status});
    }
    bool ResetApUpgradeFail(const std::string&) override { return false; }
    int GetApStatus(const std::string&) override { return 0; }
    bool HasBridgedStation(const std::string&) override { return false; }
    bool FindBridgePeer(const std::string&, std::string&) override { return false; }

private:
    template <typename T>
    std::vector<T> Locked(const std::vector<T>& v) const {
        std::lock_guard l(m);
        return v;
    }
    template <typename T, typename U>
    bool Add(std::vector<T>& v, U&& item) {
        std::lock_guard l(m);
        v.push_back(std::forward<U>(item));
        return true;
    }

    mutable std::mutex m;
    std::vector<ap_info_stu> saved, discovered;
    int discoveredWrites = 0;
    std::vector<StatusCall> statuses;
    std::vector<std::string> upgrading, deleted, storedMacs;
    std::vector<UpTimeCall> upTimes;
    std::vector<ScanResult> scans;
};

// Records what the engine sends; the decoded header makes assertions short.
class Recorder {
public:
    struct Sent {
        OutgoingDatagram out;
        PacketHeader header;
        std::string mac;
    };
    SendHook Hook() {
        return [this](const OutgoingDatagram& out) {
            Sent s{out, {}, {}};
            std::memcpy(&s.header, out.bytes.data(), sizeof s.header);
            s.mac = MacToText(s.header.mac);
            std::lock_guard l(m);
            sent.push_back(std::move(s));
            return succeed;
        };
    }
    std::vector<Sent> All() const {
        std::lock_guard l(m);
        return sent;
    }
    std::vector<Sent> WithCommand(int command) const {
        std::vector<Sent> out;
        for (const Sent& s : All())
            if (s.header.command == command) out.push_back(s);
        return out;
    }
    void Clear() {
        std::lock_guard l(m);
        sent.clear();
    }
    bool succeed = true;

private:
    mutable std::mutex m;
    std::vector<Sent> sent;
};

inline LocalAdapterInfo MakeAdapter(std::vector<std::pair<std::string, std::string>> addrs,
                                    uint8_t up = 1) {
    LocalAdapterInfo a{};
    a.up = up;
    std::snprintf(a.name, sizeof a.name, "veth%zu", addrs.size());
    for (const auto& [ip, mask] : addrs) {
        LocalAdapterAddress& x = a.addrs[a.ip_count++];
        std::snprintf(x.ip, sizeof x.ip, "%s", ip.c_str());
        std::snprintf(x.mask, sizeof x.mask, "%s", mask.c_str());
    }
    return a;
}

// A device datagram: header with the sender's MAC and model, then the body.
inline std::vector<uint8_t> DeviceDatagram(int command, const std::string& mac,
                                           std::vector<uint8_t> body = {}, uint16_t apType = 7) {
    uint8_t m[6] = {};
    MacFromText(mac, m);
    return EncodeDatagram(static_cast<uint16_t>(command), body, m, 0, apType);
}

inline std::vector<uint8_t> BriefBody(const std::string& version, const std::string& name,
                                      uint32_t upTime = 100) {
    BriefInfoBody b{};
    SetFieldText(b.version, sizeof b.version, b.version_len, version);
    SetFieldText(b.ap_name, sizeof b.ap_name, b.ap_name_len, name);
    b.up_time = upTime;
    b.work_mode = WORK_MODE_STATION;
    b.channel = 11;
    b.tdmaEn = 1;
    auto bytes = BytesOf(b);
    return {bytes.begin(), bytes.end()};
}

inline std::vector<uint8_t> InfoBody(const std::string& ip, const std::string& name = "dev",
                                     uint32_t upTime = 500) {
    ap_info_stu rec{};
    IpFromText(ip, rec.ip);
    SetFieldText(rec.ap_name, sizeof rec.ap_name, rec.ap_name_len, name);
    SetFieldText(rec.version, sizeof rec.version, rec.version_len, "V2.1");
    rec.up_time = upTime;
    rec.work_mode = WORK_MODE_AP;
    rec.bridge_transparent = 1;
    rec.tdmaEn = 1;
    return EncodeDeviceInfo(rec);
}

// Polls until pred() holds or the time is up; the result of the last check.
template <typename Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace fd::test
