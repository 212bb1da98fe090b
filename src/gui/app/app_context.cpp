#include "app/app_context.h"

#include <utility>

#include "engine/device_engine.h"

namespace fd {

namespace {

// Stands in for a missing engine: sends nothing, knows no one.
class SilentEngine final : public IDeviceEngine {
public:
    void ProbeDiscoveredDevices() override {}
    void ForgetDiscoveredDevices() override {}
    void PurgeStaleDevices() override {}
    void SendSearch() override {}
    bool SendToDevice(const std::string&, int, const void*, int, const std::string&,
                      bool) override {
        return false;
    }
    void SetPendingAddress(const std::string&, const std::string&, const std::string&) override {}
};

// Stands in for a missing store: every query finds nothing.
class EmptyStore final : public IDeviceStore {
public:
    bool QueryApPage(int, ApInfoList& list, int& pageCount, int&, int, int, bool,
                     const std::string&) override {
        list.clear();
        pageCount = 0;
        return true;
    }
    bool QueryApIpList(std::vector<std::string>& ips) override {
        ips.clear();
        return true;
    }
    bool QueryApMacList(std::vector<std::string>& macs) override {
        macs.clear();
        return true;
    }
    bool QueryApByMac(const std::string&, ap_info_stu&) override { return false; }
    bool QueryOtherApList(int, OtherApList& list, bool) override {
        list.clear();
        return true;
    }
    bool QueryOtherApByMac(const std::string&, config_otherwl_basic&) override { return false; }
    bool SaveApInfo(const ap_info_stu&) override { return false; }
    bool SaveDiscoveredDevice(const ap_info_stu&) override { return false; }
    bool DeleteDiscoveredDevices() override { return false; }
    bool SaveOtherApList(const ScanResult&) override { return false; }
    bool DeleteApByMac(const std::string&) override { return false; }
    bool DeleteAllOtherAp() override { return false; }
    bool UpdateApUpTime(const std::string&, const std::string&, uint32_t) override { return false; }
    bool IsApUpgradeWait(const std::string&) override { return false; }
    bool SetApUpgrading(const std::string&) override { return false; }
    bool SetApStatus(const std::string&, int) override { return false; }
    bool ResetApUpgradeFail(const std::string&) override { return false; }
    int GetApStatus(const std::string&) override { return 0; }
    bool HasBridgedStation(const std::string&) override { return false; }
    bool FindBridgePeer(const std::string&, std::string&) override { return false; }
};

AppServices& Installed() {
    static AppServices services;
    return services;
}

}  // namespace

const AppServices& Services() {
    return Installed();
}

AppServices InstallServices(AppServices services) {
    return std::exchange(Installed(), std::move(services));
}

IDeviceEngine& EngineOrSilent() {
    static SilentEngine silent;
    return Installed().engine != nullptr ? *Installed().engine : silent;
}

IDeviceStore& StoreOrEmpty() {
    static EmptyStore empty;
    return Installed().store != nullptr ? *Installed().store : empty;
}

std::vector<LocalAdapterInfo> ReadAdapters() {
    return Installed().adapters ? Installed().adapters() : ListLocalAdapters();
}

ReadBack ServicesReadBack() {
    ReadBack rb;
    rb.log = Services().commands;
    const Retransmission r = RetransmissionOf(Services().settings);
    rb.options.answerDeadline = r.AnswerDeadline();
    rb.options.requestInterval = std::chrono::milliseconds(r.intervalMs);
    return rb;
}

}  // namespace fd
