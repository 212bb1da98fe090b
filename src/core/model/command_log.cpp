#include "model/command_log.h"

#include <algorithm>
#include <cstring>

namespace fd {

namespace {

// Where a change's block lies in the device-info body, and how much of it the device's
// report must show again. The set-IP block's last byte is a flag of the command, not a
// setting.
struct BlockPlace {
    std::size_t offset = 0;
    std::size_t length = 0;
};
std::optional<BlockPlace> PlaceOf(int command) {
    switch (command) {
        case CMD_SET_IP:
            return BlockPlace{FD_BODY_OFFSET(ip_mode), sizeof(IpConfigBlock) - 1};
        case CMD_SET_NAME:
            return BlockPlace{FD_BODY_OFFSET(ap_name), sizeof(DeviceNameBlock)};
        case CMD_SET_TIMED_REBOOT:
            return BlockPlace{FD_BODY_OFFSET(restart_en), sizeof(TimedRebootBlock)};
        case CMD_SET_WIRELESS:
            return BlockPlace{FD_BODY_OFFSET(rf_count), sizeof(WirelessBlock)};
        default:
            return std::nullopt;
    }
}

uint8_t* BodyOf(ap_info_stu& rec) {
    return reinterpret_cast<uint8_t*>(&rec) + kApBodyOffset;
}
const uint8_t* BodyOf(const ap_info_stu& rec) {
    return reinterpret_cast<const uint8_t*>(&rec) + kApBodyOffset;
}

// Whether the report holds what the change sent.
bool ReportShows(const ap_info_stu& report, int command, const std::vector<uint8_t>& body) {
    if (command == CMD_TRANSPARENT_BRIDGE) return !body.empty() && body[0] == report.bridge_transparent;
    if (command == CMD_AIRSLOT) return body.size() > 1 && body[1] == report.tdmaEn;
    if (command == CMD_SET_NAME) {
        DeviceNameBlock sent{};
        std::memcpy(&sent, body.data(), std::min(body.size(), sizeof sent));
        return FieldText(sent.ap_name, sizeof sent.ap_name, sent.ap_name_len) ==
               FieldText(report.ap_name, sizeof report.ap_name, report.ap_name_len);
    }
    const auto place = PlaceOf(command);
    if (!place || body.size() < place->length) return false;
    const uint8_t* shown = BodyOf(report) + place->offset;
    for (std::size_t i = 0; i < place->length; ++i) {
        const std::size_t at = place->offset + i;
        // The power limits and the reserved bytes of the wireless block are the device's own.
        if (command == CMD_SET_WIRELESS && at >= FD_BODY_OFFSET(tx_power_min) &&
            at < FD_BODY_OFFSET(ssid_rf_type))
            continue;
        if (shown[i] != body[i]) return false;
    }
    return true;
}

bool IsOpen(const CommandRecord& r) {
    return r.state == CommandState::Sent;
}

}  // namespace

bool IsSettingChange(int command) {
    return PlaceOf(command).has_value() || command == CMD_TRANSPARENT_BRIDGE ||
           command == CMD_AIRSLOT;
}

void ApplySentValues(ap_info_stu& rec, int command, const std::vector<uint8_t>& body) {
    if (command == CMD_TRANSPARENT_BRIDGE && !body.empty()) rec.bridge_transparent = body[0];
    if (command == CMD_AIRSLOT && body.size() > 1) rec.tdmaEn = body[1];
    const auto place = PlaceOf(command);
    if (!place || body.size() < place->length) return;
    std::memcpy(BodyOf(rec) + place->offset, body.data(), place->length);
}

uint64_t CommandLog::RecordSent(const std::string& mac, const std::string& ip, int command,
                                const void* body, int length) {
    CommandRecord r;
    r.mac = mac;
    r.ip = ip;
    r.command = command;
    if (body != nullptr && length > 0) {
        const auto* p = static_cast<const uint8_t*>(body);
        r.body.assign(p, p + length);
    }
    r.sentAt = Clock::now();
    std::lock_guard l(m_lock);
    r.seq = ++m_lastSeq;
    m_byMac[mac].push_back(m_records.size());
    m_records.push_back(std::move(r));
    m_changed.notify_all();
    return m_lastSeq;
}

void CommandLog::RecordNotSent(uint64_t seq) {
    std::lock_guard l(m_lock);
    if (seq == 0 || seq > m_records.size()) return;
    m_records[seq - 1].state = CommandState::NotSent;
    m_changed.notify_all();
}

CommandRecord* CommandLog::OldestOpenLocked(const std::string& mac, int command) {
    const auto it = m_byMac.find(mac);
    if (it == m_byMac.end()) return nullptr;
    for (std::size_t i : it->second) {
        CommandRecord& r = m_records[i];
        if (r.command == command && IsOpen(r)) return &r;
    }
    return nullptr;
}

bool CommandLog::RecordAnswer(const std::string& mac, int command, uint8_t result) {
    std::lock_guard l(m_lock);
    CommandRecord* r = OldestOpenLocked(mac, command);
    if (r == nullptr) return false;
    r->state = result == 0 ? CommandState::Acknowledged : CommandState::Refused;
    r->result = result;
    r->answeredAt = Clock::now();
    m_changed.notify_all();
    return true;
}

bool CommandLog::RecordNoAnswer(const std::string& mac, int command) {
    std::lock_guard l(m_lock);
    CommandRecord* r = OldestOpenLocked(mac, command);
    if (r == nullptr) return false;
    r->state = CommandState::NoAnswer;
    r->answeredAt = Clock::now();
    m_changed.notify_all();
    return true;
}

void CommandLog::RecordReport(const ap_info_stu& report) {
    const std::string mac(report.mac, strnlen(report.mac, sizeof report.mac));
    std::lock_guard l(m_lock);
    const auto it = m_byMac.find(mac);
    if (it == m_byMac.end()) return;
    Reports& reports = m_reports[mac];
    ++reports.count;
    reports.last = report;
    for (std::size_t i : it->second) {
        CommandRecord& r = m_records[i];
        if (r.state != CommandState::Acknowledged || !IsSettingChange(r.command)) continue;
        if (!ReportShows(report, r.command, r.body)) continue;
        r.state = CommandState::Confirmed;
    }
    m_changed.notify_all();  // a read-back waits for every report
}

void CommandLog::SetVerification(const std::string& mac, Verification v) {
    std::lock_guard l(m_lock);
    m_verifications[mac] = std::move(v);
    m_changed.notify_all();
}

Verification CommandLog::VerificationOf(const std::string& mac) const {
    std::lock_guard l(m_lock);
    const auto it = m_verifications.find(mac);
    return it == m_verifications.end() ? Verification{} : it->second;
}

uint64_t CommandLog::ReportCount(const std::string& mac) const {
    std::lock_guard l(m_lock);
    const auto it = m_reports.find(mac);
    return it == m_reports.end() ? 0 : it->second.count;
}

std::optional<ap_info_stu> CommandLog::WaitForReport(const std::string& mac, uint64_t afterCount,
                                                     std::chrono::steady_clock::time_point deadline,
                                                     std::stop_token stop) const {
    std::unique_lock l(m_lock);
    auto arrived = [&] {
        const auto it = m_reports.find(mac);
        return it != m_reports.end() && it->second.count > afterCount;
    };
    if (!m_changed.wait_until(l, stop, deadline, arrived)) return std::nullopt;
    return m_reports.find(mac)->second.last;
}

uint64_t CommandLog::LastSeq() const {
    std::lock_guard l(m_lock);
    return m_lastSeq;
}

std::vector<CommandRecord> CommandLog::Commands(const std::string& mac) const {
    std::vector<CommandRecord> out;
    std::lock_guard l(m_lock);
    if (const auto it = m_byMac.find(mac); it != m_byMac.end())
        for (std::size_t i : it->second) out.push_back(m_records[i]);
    return out;
}

std::vector<CommandRecord> CommandLog::All() const {
    std::lock_guard l(m_lock);
    return m_records;
}

std::vector<CommandRecord> CommandLog::PendingChanges(const std::string& mac) const {
    std::vector<CommandRecord> out;
    std::lock_guard l(m_lock);
    if (const auto it = m_byMac.find(mac); it != m_byMac.end())
        for (std::size_t i : it->second) {
            const CommandRecord& r = m_records[i];
            if (r.state == CommandState::Acknowledged && IsSettingChange(r.command))
                out.push_back(r);
        }
    return out;
}

std::optional<CommandRecord> CommandLog::WaitForAnswer(
    const std::string& mac, int command, uint64_t afterSeq,
    std::chrono::steady_clock::time_point deadline, std::stop_token stop) const {
    std::unique_lock l(m_lock);
    const CommandRecord* found = nullptr;
    auto answered = [&] {
        found = nullptr;
        if (const auto it = m_byMac.find(mac); it != m_byMac.end())
            for (std::size_t i : it->second) {
                const CommandRecord& r = m_records[i];
                if (r.seq > afterSeq && r.command == command) {
                    found = &r;
                    break;
                }
            }
        return found != nullptr && !IsOpen(*found);
    };
    m_changed.wait_until(l, stop, deadline, answered);
    if (found == nullptr || IsOpen(*found)) return std::nullopt;
    return *found;
}

}  // namespace fd
