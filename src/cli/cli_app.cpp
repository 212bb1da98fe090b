#include "cli/cli_app.h"

#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <sstream>
#include <thread>

#include "cli/cli_bridge.h"
#include "cli/cli_configure.h"
#include "cli/cli_output.h"
#include "cli/cli_session.h"
#include "cli/cli_settle.h"
#include "config/language.h"
#include "config/settings.h"
#include "actions/engine_search_adapter.h"
#include "config/labels.h"
#include "actions/search_session.h"
#include "engine/device_protocol.h"
#include "rules/address_rules.h"
#include "store/sql_management.h"
#include "system/local_adapters.h"
#include "system/single_instance.h"
#include "system/system_info.h"

namespace fd::cli {

std::atomic<bool> g_interrupted{false};

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kAllRows = 1 << 20;  // one page that holds every device

std::optional<int> FindBusyPortIn(std::initializer_list<int> ports) {
    for (int port : ports) {
        // Bound without SO_REUSEADDR: the bind fails if any socket holds the port, even
        // one that allows sharing (the engine's do; sharing would split the answers).
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0) continue;
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
        const bool busy = bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 &&
                          errno == EADDRINUSE;
        close(fd);
        if (busy) return port;
    }
    return std::nullopt;
}

std::vector<DeviceRow> ListDevices(Session& s, const Options& o) {
    ApInfoList stored;
    int pageCount = 0, rowCount = 0;
    s.Store().QueryApPage(o.sortIndex, stored, pageCount, rowCount, kAllRows, 1, !o.descending,
                          o.filter);
    std::vector<DeviceRow> rows;
    for (const auto& rec : stored) rows.push_back(MakeDeviceRow(rec));
    // Devices that answered but have not sent their details follow, as on the list pages.
    ApInfoList discovered;
    s.Engine().GetDiscoveredDevices(discovered, kAllRows, o.filter);
    for (const auto& rec : discovered) rows.push_back(MakeDeviceRow(rec));
    return rows;
}

int RunSearch(Session& s, const Options& o, std::ostream& out, std::ostream& err) {
    // An interrupted search still lists what it found, as pressing Stop does.
    SettleWatch settle(o.settleSeconds, [&] {
        std::vector<std::string> stored;
        s.Store().QueryApMacList(stored);
        return s.Engine().GetPeers().size() + stored.size();
    });
    Search(s, o.seconds, [&] { return settle.Settled(SettleWatch::Clock::now()); }, err);
    const auto rows = ListDevices(s, o);
    switch (o.format) {
        case Format::Table:
            out << FormatTable(rows);
            break;
        case Format::Json:
            out << FormatJson(rows);
            break;
        case Format::Csv:
            out << FormatCsv(rows);
            break;
    }
    out.flush();
    return kExitOk;
}

// ---- actions ----

std::string RecordText(const uint8_t* ip) {
    const std::string t = IpToText(ip);
    return t == "0.0.0.0" ? std::string() : t;
}

// Builds the set-ip jobs after every rule has passed; an error message otherwise.
std::string PlanSetIp(Session& s, const Options& o, const std::vector<ap_info_stu>& recs,
                      std::vector<Job>& jobs) {
    const ap_info_stu& first = recs.front();
    auto pick = [](const std::string& given, const std::string& own) {
        if (given == "0.0.0.0") return std::string();
        return given.empty() ? own : given;
    };
    std::vector<std::string> newIps;
    std::vector<AddressForm> forms;
    if (!o.rangeFirst.empty()) {
        AddressForm f;
        f.ip = o.rangeFirst;
        f.mask = o.mask.empty() ? IpToText(first.ip_mask) : o.mask;
        f.gateway = pick(o.gateway, RecordText(first.ip_gateway));
        f.dns1 = pick(o.dns1, RecordText(first.ip_dns1));
        f.dns2 = pick(o.dns2, RecordText(first.ip_dns2));
        if (!IsValidSubnetMask(f.mask)) return "The subnet mask is invalid!";
        const uint32_t begin = *ParseIpv4(f.ip);
        const uint32_t mask = *ParseIpv4(f.mask);
        const std::string last = o.rangeEnd.empty() ? Ipv4ToText(begin | ~mask) : o.rangeEnd;
        newIps = WalkIpRange(f.ip, last, recs.size());
        if (newIps.size() < recs.size()) {
            std::ostringstream m;
            m << "the range " << f.ip << " - " << last << " holds " << newIps.size()
              << " usable address" << (newIps.size() == 1 ? "" : "es") << " for " << recs.size()
              << " devices";
            return m.str();
        }
        f.end = o.rangeEnd.empty() ? newIps.back() : o.rangeEnd;
        if (auto e = CheckRangeAddress(f, recs.size()); !e.empty()) return e;
        // Every address handed out, not just the two ends, must be a usable host address
        // in the same subnet as the first.
        for (const auto& ip : newIps)
            if (!IsValidIpAddress(ip, false) || !IsSameSubnet(ip, f.ip, f.mask))
                return "The ip address is invalid! (" + ip + " in the range)";
        for (std::size_t i = 0; i < recs.size(); ++i) {
            AddressForm g = f;
            g.ip = newIps[i];
            forms.push_back(g);
        }
    } else {
        for (std::size_t i = 0; i < recs.size(); ++i) {
            const ap_info_stu& r = recs[i];
            AddressForm f;
            f.ip = o.pairs[i].second;
            f.mask = o.mask.empty() ? IpToText(r.ip_mask) : o.mask;
            f.gateway = pick(o.gateway, RecordText(r.ip_gateway));
            f.dns1 = pick(o.dns1, RecordText(r.ip_dns1));
            f.dns2 = pick(o.dns2, RecordText(r.ip_dns2));
            if (auto e = CheckDeviceAddress(f); !e.empty()) {
                if (e == "Ip address and gateway address is not in the same subnet!" &&
                    o.gateway.empty())
                    e += " (the device's gateway " + f.gateway + "; give --gateway)";
                return GetLangText(e) + " (" + r.mac + ")";
            }
            forms.push_back(f);
            newIps.push_back(f.ip);
        }
    }
    // No device may be given an address another device already has.
    std::vector<std::string> used;
    s.Store().QueryApIpList(used);
    for (std::size_t i = 0; i < recs.size(); ++i) {
        const std::string own = IpToText(recs[i].ip);
        for (const auto& u : used)
            if (u == newIps[i] && u != own)
                return GetLangText("The ip address is already in use, please respecify!") + " (" +
                       u + ")";
    }
    for (std::size_t i = 0; i < recs.size(); ++i) {
        IpConfigBlock b{};
        b.ip_mode = 1;
        const auto ip = IpTextToBytes(forms[i].ip), mask = IpTextToBytes(forms[i].mask),
                   gw = IpTextToBytes(forms[i].gateway), d1 = IpTextToBytes(forms[i].dns1),
                   d2 = IpTextToBytes(forms[i].dns2);
        std::copy(ip.begin(), ip.end(), b.ip);
        std::copy(mask.begin(), mask.end(), b.ip_mask);
        std::copy(gw.begin(), gw.end(), b.ip_gateway);
        std::copy(d1.begin(), d1.end(), b.ip_dns1);
        std::copy(d2.begin(), d2.end(), b.ip_dns2);
        b.reserved = 1;
        Job j;
        j.mac = recs[i].mac;
        j.ip = IpToText(recs[i].ip);
        j.newIp = forms[i].ip;
        j.command = CMD_SET_IP;
        auto bytes = BytesOf(b);
        j.body.assign(bytes.begin(), bytes.end());
        jobs.push_back(std::move(j));
    }
    return {};
}

std::string PlanRename(const Options& o, const std::vector<ap_info_stu>& recs,
                       std::vector<Job>& jobs) {
    for (std::size_t i = 0; i < recs.size(); ++i) {
        const std::string& name = o.pairs[i].second;
        if (!IsValidDeviceName(name, recs[i].ap_type))
            return GetLangText(DeviceNameRuleMessage(recs[i].ap_type)) + " (" + recs[i].mac + ")";
        DeviceNameBlock b{};
        SetFieldText(b.ap_name, sizeof b.ap_name, b.ap_name_len, name);
        Job j;
        j.mac = recs[i].mac;
        j.ip = IpToText(recs[i].ip);
        j.command = CMD_SET_NAME;
        auto bytes = BytesOf(b);
        j.body.assign(bytes.begin(), bytes.end());
        jobs.push_back(std::move(j));
    }
    return {};
}

int RunAction(Session& s, const Options& o, std::ostream& out, std::ostream& err) {
    std::vector<ap_info_stu> recs;
    if (int rc = FindDevices(s, o.macs, o.seconds, recs, out, err); rc != kExitOk) return rc;

    std::vector<Job> jobs;
    std::string refusal;
    switch (o.command) {
        case Command::Reboot:
        case Command::Reset:
            for (const auto& r : recs) {
                Job j;
                j.mac = r.mac;
                j.ip = IpToText(r.ip);
                j.command = o.command == Command::Reboot ? CMD_REBOOT : CMD_RESET;
                jobs.push_back(std::move(j));
            }
            break;
        case Command::Rename:
            refusal = PlanRename(o, recs, jobs);
            break;
        case Command::SetIp:
            refusal = PlanSetIp(s, o, recs, jobs);
            break;
        default:
            break;
    }
    if (!refusal.empty()) {
        err << "fielddesk-cli: " << GetLangText(refusal) << "\nNothing was sent.\n";
        return kExitUsage;
    }

    for (Job& j : jobs) {
        if (j.command == CMD_SET_IP) s.Engine().SetPendingAddress(j.mac, j.ip, j.newIp);
        const bool sent =
            s.Engine().SendToDevice(j.ip, j.command, j.body.empty() ? nullptr : j.body.data(),
                                    static_cast<int>(j.body.size()), j.mac, true);
        if (!sent) {
            j.finished = true;
            j.outcome = "cannot be sent: no adapter of this PC in the device's subnet";
            Report(out, j);
        }
    }
    WaitForAnswers(s, jobs, out);
    if (g_interrupted) return kExitInterrupted;
    for (const Job& j : jobs)
        if (!j.ok) return kExitDeviceFailed;
    return kExitOk;
}

}  // namespace

std::optional<int> FindBusyPort() {
    return FindBusyPortIn({kPortSearchReply, kPortSearch, kPortCommand, kPortInfo});
}

int RunCommand(const Options& options, std::ostream& out, std::ostream& err) {
    Session s;
    if (int rc = s.Open(err); rc != kExitOk) return rc;
    if (options.command == Command::Search) return RunSearch(s, options, out, err);
    if (options.command == Command::Show) return RunShow(s, options, out, err);
    if (options.command == Command::Configure) return RunConfigure(s, options, out, err);
    if (options.command == Command::Scan || options.command == Command::Bridge)
        return RunBridgeCommand(s, options, out, err);
    return RunAction(s, options, out, err);
}

}  // namespace fd::cli
