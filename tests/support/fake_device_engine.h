#pragma once
// A device engine that sends nothing: it records every call with the time it was made.

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
    // Every call by name, in order ("probe", "forget", "purge", "search", "send", "pending").
    std::vector<std::string> Calls() const {
        std::lock_guard l(m_lock);
        return m_calls;
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

private:
    void Note(const char* what) {
        std::lock_guard l(m_lock);
        m_calls.emplace_back(what);
    }

    mutable std::mutex m_lock;
    std::atomic<bool> m_scanComplete{false};
    std::function<void(const Send&)> m_sendHook;
    std::vector<Send> m_sends;
    std::vector<Pending> m_pending;
    std::vector<std::string> m_calls;
};

}  // namespace fd::test
