#pragma once
// A device engine that sends nothing: it records every call with the time it was made and
// hands out the discovered devices a test gives it.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/device_engine.h"

namespace fd::test {

class RecordingEngine : public IDeviceEngine {
public:
    using Clock = std::chrono::steady_clock;

    struct Send {
        std::string ip;
        int command = 0;
        std::vector<uint8_t> body;
        std::string mac;
        bool retransmit = false;
        Clock::time_point at;
    };
    struct Pending {
        std::string mac, currentIp, newIp;
        Clock::time_point at;
    };

    // Devices GetDiscoveredDevices hands out (before the count limit and the filter).
    void SetDiscovered(ApInfoList devices) {
        std::lock_guard l(m_lock);
        m_discovered = std::move(devices);
    }
    // Runs inside every SendToDevice, after it was recorded (to make sends slow, or to
    // observe the order of calls).
    void SetSendHook(std::function<void(const Send&)> hook) {
        std::lock_guard l(m_lock);
        m_sendHook = std::move(hook);
    }

    // What IsScanComplete answers (false until set).
    void SetScanComplete(bool on) { m_scanComplete = on; }
    bool IsScanComplete() const override { return m_scanComplete.load(); }

    std::vector<Send> Sends() const {
        std::lock_guard l(m_lock);
        return m_sends;
    }
    std::vector<Pending> PendingAddresses() const {
        std::lock_guard l(m_lock);
        return m_pending;
    }
    // Every call by name, in order ("probe", "forget", "purge", "search", "send", "pending",
    // "discovered").
    std::vector<std::string> Calls() const {
        std::lock_guard l(m_lock);
        return m_calls;
    }
    // The arguments of the last GetDiscoveredDevices.
    int LastDiscoveredMax() const {
        std::lock_guard l(m_lock);
        return m_lastMax;
    }
    std::string LastDiscoveredFilter() const {
        std::lock_guard l(m_lock);
        return m_lastFilter;
    }

    void ProbeDiscoveredDevices() override { Note("probe"); }
    void ForgetDiscoveredDevices() override { Note("forget"); }
    void PurgeStaleDevices() override { Note("purge"); }
    void SendSearch() override { Note("search"); }

    bool SendToDevice(const std::string& ip, int command, const void* body, int length,
                      const std::string& mac, bool retransmit) override {
        Send s;
        s.ip = ip;
        s.command = command;
        if (body != nullptr && length > 0) {
            const auto* p = static_cast<const uint8_t*>(body);
            s.body.assign(p, p + length);
        }
        s.mac = mac;
        s.retransmit = retransmit;
        s.at = Clock::now();
        std::function<void(const Send&)> hook;
        {
            std::lock_guard l(m_lock);
            m_sends.push_back(s);
            m_calls.emplace_back("send");
            hook = m_sendHook;
        }
        if (hook) hook(s);
        return true;
    }

    void SetPendingAddress(const std::string& mac, const std::string& currentIp,
                           const std::string& newIp) override {
        std::lock_guard l(m_lock);
        m_pending.push_back({mac, currentIp, newIp, Clock::now()});
        m_calls.emplace_back("pending");
    }

    // Like the engine: at most the first maxCount discovered devices are looked at, then the
    // filter (substring of ip, mac or version) keeps some of them.
    ApInfoList& GetDiscoveredDevices(ApInfoList& list, int maxCount,
                                     std::string_view filter = {}) override {
        list.clear();
        std::lock_guard l(m_lock);
        m_calls.emplace_back("discovered");
        m_lastMax = maxCount;
        m_lastFilter = std::string(filter);
        int seen = 0;
        for (const auto& rec : m_discovered) {
            if (seen >= maxCount) break;
            ++seen;
            if (!filter.empty()) {
                const std::string ip = IpToText(rec.ip);
                const std::string mac(rec.mac);
                const std::string version(
                    FieldText(rec.version, sizeof rec.version, rec.version_len));
                if (ip.find(filter) == std::string::npos && mac.find(filter) == std::string::npos &&
                    version.find(filter) == std::string::npos) {
                    continue;
                }
            }
            list.push_back(rec);
        }
        return list;
    }

private:
    void Note(const char* what) {
        std::lock_guard l(m_lock);
        m_calls.emplace_back(what);
    }

    mutable std::mutex m_lock;
    std::atomic<bool> m_scanComplete{false};
    ApInfoList m_discovered;
    std::function<void(const Send&)> m_sendHook;
    std::vector<Send> m_sends;
    std::vector<Pending> m_pending;
    std::vector<std::string> m_calls;
    int m_lastMax = -1;
    std::string m_lastFilter;
};

}  // namespace fd::test
