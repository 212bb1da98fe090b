#include "actions/device_workers.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "system/local_adapters.h"
#include "wire/address.h"

namespace fd {

bool SleepUnlessStopped(std::stop_token st, std::chrono::milliseconds d) {
    std::mutex m;
    std::condition_variable_any cv;
    std::unique_lock lock(m);
    // Nothing but the stop request wakes it early (the wait returns the predicate's value,
    // which stays false, so the stop token is asked afterwards).
    cv.wait_for(lock, st, d, [] { return false; });
    return !st.stop_requested();
}

void WorkerSlot::Start(Body body) {
    Stop();
    m_finished.store(false);
    m_running.store(true);
    m_thread = std::jthread([this, body = std::move(body)](std::stop_token st) {
        body(st);
        if (!st.stop_requested()) {
            if (m_onFinished) m_onFinished();
            m_finished.store(true);
        }
        m_running.store(false);
    });
}

void WorkerSlot::Stop() {
    if (!m_thread.joinable()) return;
    m_thread.request_stop();
    m_thread.join();
    m_thread = std::jthread();
    m_running.store(false);
}

// ---- blocks ----

DeviceNameBlock MakeNameBlock(std::string_view utf8Name) {
    DeviceNameBlock block{};
    SetFieldText(block.ap_name, sizeof block.ap_name, block.ap_name_len, utf8Name);
    return block;
}

std::vector<std::string> AddressesInUse(IDeviceStore& store) {
    std::vector<std::string> used;
    store.QueryApIpList(used);
    for (const LocalAdapterInfo& a : ListLocalAdapters())
        for (int i = 0; i < a.ip_count && i < 10; ++i) {
            const std::string ip(a.addrs[i].ip, strnlen(a.addrs[i].ip, sizeof a.addrs[i].ip));
            if (!IsUnsetIp(ip)) used.push_back(ip);
        }
    return used;
}

IpConfigBlock MakeMultiSetIpBlock(const MultiSetIpParams& p, std::string_view ip) {
    IpConfigBlock block{};
    block.ip_mode = 1;
    const auto put = [](uint8_t* dst, std::string_view text) {
        // The dialog's check has passed: every field reads strictly (empty: 0.0.0.0).
        const auto bytes = ReadIpField(text).value_or(IpBytes{});
        std::memcpy(dst, bytes.data(), 4);
    };
    put(block.ip, ip);
    put(block.ip_mask, p.mask);
    put(block.ip_gateway, p.gateway);
    put(block.ip_dns1, p.dns1);
    put(block.ip_dns2, p.dns2);
    block.reserved = 1;
    return block;
}

std::vector<AddressAssignment> PlanAddresses(const MultiSetIpParams& p,
                                             const std::vector<SelectedDevice>& devices) {
    std::vector<AddressAssignment> out;
    if (devices.empty()) return out;
    if (devices.size() == 1) {
        out.push_back({devices.front(), p.begin});
        return out;
    }
    const auto addresses = WalkIpRange(p.begin, p.end, devices.size());
    for (std::size_t i = 0; i < addresses.size(); ++i) out.push_back({devices[i], addresses[i]});
    return out;
}

// ---- workers ----

namespace {

// What a device should report once a change's body is applied: only the fields of the
// change's group are compared, so the rest of the record does not matter.
ap_info_stu ExpectedAfter(int command, const void* body, std::size_t size) {
    ap_info_stu expected{};
    const auto* p = static_cast<const uint8_t*>(body);
    ApplySentValues(expected, command, std::vector<uint8_t>(p, p + size));
    return expected;
}

}  // namespace

void RunRenameWorker(std::stop_token st, IDeviceEngine& engine, const SelectedDevice& device,
                     const std::string& utf8Name, ReadBack readBack) {
    if (st.stop_requested()) return;
    const DeviceNameBlock block = MakeNameBlock(utf8Name);
    const uint64_t sentAfter = readBack.log ? readBack.log->LastSeq() : 0;
    engine.SendToDevice(device.ip, CMD_SET_NAME, &block, sizeof block, device.mac, true);
    readBack.options.stop = st;
    AwaitAndVerify(readBack, engine, device.mac, device.ip, {CMD_SET_NAME}, sentAfter,
                   ExpectedAfter(CMD_SET_NAME, &block, sizeof block), {SettingGroup::Name});
}

void StartRenameWorker(WorkerSlot& slot, IDeviceEngine& engine, SelectedDevice device,
                       std::string utf8Name, ReadBack readBack) {
    slot.Start([&engine, device = std::move(device), name = std::move(utf8Name),
                readBack = std::move(readBack)](std::stop_token st) {
        RunRenameWorker(st, engine, device, name, readBack);
    });
}

void RunSettingWorker(std::stop_token st, IDeviceEngine& engine, int command,
                      const std::vector<SelectedDevice>& devices, const SettingBlock& block) {
    for (const auto& d : devices) {
        if (st.stop_requested()) return;
        engine.SendToDevice(d.ip, command, block.data(), static_cast<int>(block.size()), d.mac,
                            true);
    }
}

void StartSettingWorker(WorkerSlot& slot, IDeviceEngine& engine, int command,
                        std::vector<SelectedDevice> devices, SettingBlock block) {
    slot.Start([&engine, command, devices = std::move(devices), block](std::stop_token st) {
        RunSettingWorker(st, engine, command, devices, block);
    });
}

void RunRestartWorker(std::stop_token st, IDeviceEngine& engine, IDeviceStore& store, int command,
                      const std::vector<SelectedDevice>& devices, std::chrono::milliseconds gap) {
    std::vector<SelectedDevice> rest;
    rest.reserve(devices.size());
    // Access points with stations linked to them go first: a station restarted before its
    // access point would look for a link that is about to drop.
    for (const auto& d : devices) {
        if (st.stop_requested()) return;
        if (store.HasBridgedStation(d.mac)) {
            engine.SendToDevice(d.ip, command, nullptr, 0, d.mac, true);
        } else {
            rest.push_back(d);
        }
    }
    if (!SleepUnlessStopped(st, gap)) return;
    for (const auto& d : rest) {
        if (st.stop_requested()) return;
        engine.SendToDevice(d.ip, command, nullptr, 0, d.mac, true);
    }
}

void StartRestartWorker(WorkerSlot& slot, IDeviceEngine& engine, IDeviceStore& store, int command,
                        std::vector<SelectedDevice> devices, std::chrono::milliseconds gap) {
    slot.Start([&engine, &store, command, devices = std::move(devices), gap](std::stop_token st) {
        RunRestartWorker(st, engine, store, command, devices, gap);
    });
}

void RunMultiSetIpWorker(std::stop_token st, IDeviceEngine& engine, const MultiSetIpParams& params,
                         const std::vector<SelectedDevice>& devices, ReadBack readBack) {
    const uint64_t sentAfter = readBack.log ? readBack.log->LastSeq() : 0;
    const std::vector<AddressAssignment> assignments = PlanAddresses(params, devices);
    for (const auto& a : assignments) {
        if (st.stop_requested()) return;
        const IpConfigBlock block = MakeMultiSetIpBlock(params, a.newIp);
        engine.SetPendingAddress(a.device.mac, a.device.ip, a.newIp);
        engine.SendToDevice(a.device.ip, CMD_SET_IP, &block, sizeof block, a.device.mac, true);
    }
    // Every device is sent its address first, then each is asked again at its new one.
    readBack.options.stop = st;
    if (readBack.log)
        for (const auto& a : assignments)
            readBack.log->SetVerification(a.device.mac,
                                          {VerificationState::Pending, "verifying", "verifying"});
    for (const auto& a : assignments) {
        if (st.stop_requested()) return;
        const IpConfigBlock block = MakeMultiSetIpBlock(params, a.newIp);
        AwaitAndVerify(readBack, engine, a.device.mac, a.newIp, {CMD_SET_IP}, sentAfter,
                       ExpectedAfter(CMD_SET_IP, &block, sizeof block), {SettingGroup::Address});
    }
}

void StartMultiSetIpWorker(WorkerSlot& slot, IDeviceEngine& engine, MultiSetIpParams params,
                           std::vector<SelectedDevice> devices, ReadBack readBack) {
    slot.Start([&engine, params = std::move(params), devices = std::move(devices),
                readBack = std::move(readBack)](std::stop_token st) {
        RunMultiSetIpWorker(st, engine, params, devices, readBack);
    });
}

// ---- the Set IP dialog ----

RuleFailure CheckMultiSetIp(const MultiSetIpParams& p, std::size_t deviceCount) {
    AddressForm form;
    form.ip = p.begin;
    form.end = p.end;
    form.mask = p.mask;
    form.gateway = p.gateway;
    form.dns1 = p.dns1;
    form.dns2 = p.dns2;
    return CheckRangeAddress(form, deviceCount);
}

BulkAddressPlan CheckAddressesFree(std::vector<AddressAssignment> assignments,
                                   const std::vector<std::string>& usedIps) {
    BulkAddressPlan plan;
    for (const AddressAssignment& a : assignments) {
        if (a.newIp == a.device.ip) continue;
        if (std::find(usedIps.begin(), usedIps.end(), a.newIp) != usedIps.end()) {
            plan.failure = Refuse(RuleCode::IpInUse,
                                  "The ip address is already in use, please respecify!",
                                  SettingField::Ip);
            plan.detail = a.newIp;
            return plan;
        }
    }
    plan.assignments = std::move(assignments);
    return plan;
}

BulkAddressPlan PlanBulkAddresses(const MultiSetIpParams& params,
                                  const std::vector<SelectedDevice>& devices,
                                  const std::vector<std::string>& usedIps) {
    BulkAddressPlan plan;
    plan.failure = CheckMultiSetIp(params, devices.size());
    if (!plan.ok()) return plan;
    std::vector<AddressAssignment> assigned = PlanAddresses(params, devices);
    if (assigned.size() < devices.size()) {
        plan.failure = Refuse(RuleCode::RangeTooSmall, "The ip address is invalid!", SettingField::Ip);
        plan.detail = std::to_string(assigned.size());
        return plan;
    }
    // The form's checks look at the two ends; every address handed out must be usable too.
    for (const AddressAssignment& a : assigned) {
        if (!IsValidIpAddress(a.newIp, false) || !IsSameSubnet(a.newIp, params.begin, params.mask)) {
            plan.failure = Refuse(RuleCode::IpInvalid, "The ip address is invalid!", SettingField::Ip);
            plan.detail = a.newIp;
            return plan;
        }
    }
    return CheckAddressesFree(std::move(assigned), usedIps);
}

IpSetProgress::IpSetProgress(IWaitSearcher& searcher)
    : m_progress(kLength / 2, true, kSearches, &searcher) {}

}  // namespace fd
