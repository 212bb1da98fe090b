#include "cli/cli_app.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ostream>
#include <sstream>
#include <thread>

#include "actions/device_workers.h"
#include "cli/cli_bridge.h"
#include "cli/cli_configure.h"
#include "cli/cli_plan.h"
#include "cli/cli_doctor.h"
#include "cli/cli_output.h"
#include "cli/cli_session.h"
#include "cli/cli_settle.h"
#include "cli/cli_upgrade.h"
#include "config/labels.h"
#include "config/language.h"
#include "presentation/device_list.h"
#include "presentation/device_list_export.h"
#include "rules/address_rules.h"
#include "system/system_info.h"

namespace fd::cli {

std::atomic<bool> g_interrupted{false};

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

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

int RunSearch(Session& s, const Options& o, std::ostream& out, std::ostream& err) {
    // An empty list here would read as "no device on the LAN"; the PC is the cause.
    if (!s.HasUsableAdapter()) {
        err << "fielddesk-cli: no network adapter is up with an IPv4 address and a link, so "
               "there is nothing to search on; 'fielddesk-cli doctor' shows what to fix\n";
        return kExitDeviceFailed;
    }
    // An interrupted search still lists what it found, as pressing Stop does.
    SettleWatch settle(o.settleSeconds,
                       [&] { return s.Engine().GetPeers().size() + StoredCount(s.Store()); });
    Search(
        s, o.seconds, [&] { return settle.Settled(Clock::now()); }, err);
    // Every device with its information in the chosen order, then those that only answered
    // the search.
    const auto columns = ListColumns();
    const auto rows =
        ListEveryDevice(s.Store(), columns, o.sortIndex, !o.descending, o.filter).rows;
    switch (o.format) {
        case Format::Table:
            out << FormatTable(columns, rows);
            break;
        case Format::Json:
            out << FormatJson(columns, rows);
            break;
        case Format::Csv:
            out << ExportDeviceRows(columns, rows).csv;
            break;
    }
    out.flush();
    return kExitOk;
}

// ---- actions ----

// Builds the set-ip jobs after every rule has passed; an error message otherwise. The
// addresses come from the planner the Set IP dialog uses, with its checks.
std::string PlanSetIp(Session& s, const Options& o, const std::vector<ap_info_stu>& recs,
                      std::vector<Job>& jobs) {
    // Mask, gateway and DNS not given are the device's own; "0.0.0.0" clears them.
    auto fill = [&o](MultiSetIpParams& p, const ap_info_stu& r) {
        auto pick = [](const std::string& given, const uint8_t* own) {
            if (given == "0.0.0.0") return std::string();
            if (!given.empty()) return given;
            const std::string t = IpToText(own);
            return t == "0.0.0.0" ? std::string() : t;
        };
        p.mask = o.mask.empty() ? IpToText(r.ip_mask) : o.mask;
        p.gateway = pick(o.gateway, r.ip_gateway);
        p.dns1 = pick(o.dns1, r.ip_dns1);
        p.dns2 = pick(o.dns2, r.ip_dns2);
    };
    std::vector<SelectedDevice> devices;
    for (const auto& r : recs) devices.push_back({IpToText(r.ip), r.mac, r.ap_type});
    const std::vector<std::string> used = AddressesInUse(s.Store());
    std::vector<MultiSetIpParams> blocks;  // per device: the block its address goes out in
    BulkAddressPlan plan;
    if (!o.rangeFirst.empty()) {
        MultiSetIpParams p;
        p.begin = o.rangeFirst;
        fill(p, recs.front());
        p.end = o.rangeEnd;
        // Without --end the range runs to the end of the first address's subnet, and ends at
        // the last address handed out.
        const auto begin = ParseIpv4(p.begin), mask = ParseIpv4(p.mask);
        if (p.end.empty() && begin && mask && IsValidSubnetMask(p.mask)) {
            const auto walked = WalkIpRange(p.begin, Ipv4ToText(*begin | ~*mask), recs.size());
            p.end = walked.size() == recs.size() ? walked.back() : Ipv4ToText(*begin | ~*mask);
        }
        plan = PlanBulkAddresses(p, devices, used);
        if (plan.failure.code == RuleCode::RangeTooSmall)
            return "the range " + p.begin + " - " + p.end + " holds " + plan.detail +
                   " usable address" + (plan.detail == "1" ? "" : "es") + " for " +
                   std::to_string(recs.size()) + " devices";
        blocks.assign(recs.size(), p);
    } else {
        std::vector<AddressAssignment> chosen;
        for (std::size_t i = 0; i < recs.size(); ++i) {
            MultiSetIpParams p;
            p.begin = o.pairs[i].second;
            fill(p, recs[i]);
            const AddressForm f{p.begin, p.mask, p.gateway, p.dns1, p.dns2, {}};
            if (const RuleFailure e = CheckDeviceAddress(f); e.Failed()) {
                std::string text = GetLangText(e.key);
                if (e.code == RuleCode::GatewayOutsideSubnet && o.gateway.empty())
                    text += " (the device's gateway " + f.gateway + "; give --gateway)";
                return text + " (" + recs[i].mac + ")";
            }
            chosen.push_back({devices[i], p.begin});
            blocks.push_back(p);
        }
        plan = CheckAddressesFree(std::move(chosen), used);
    }
    if (!plan.ok())
        return GetLangText(plan.failure.key) +
               (plan.detail.empty() ? std::string() : " (" + plan.detail + ")");
    for (std::size_t i = 0; i < recs.size(); ++i) {
        const std::string& newIp = plan.assignments[i].newIp;
        const IpConfigBlock b = MakeMultiSetIpBlock(blocks[i], newIp);
        Job j;
        j.mac = recs[i].mac;
        j.ip = IpToText(recs[i].ip);
        j.newIp = newIp;
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
    const int settle = o.command == Command::SetIp ? InUseSettle(o) : 0;
    if (int rc = FindDevices(s, o.macs, o.seconds, recs, out, err, settle); rc != kExitOk)
        return rc;

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

    const uint64_t sentAfter = s.Commands().LastSeq();
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
    WaitForAnswers(s, jobs, sentAfter, out);
    if (g_interrupted) return kExitInterrupted;
    bool allOk = true;
    for (const Job& j : jobs) allOk = allOk && j.ok;
    // A new name or address is read back from each device that acknowledged it, at the
    // address it now has.
    const bool changes = o.command == Command::Rename || o.command == Command::SetIp;
    if (changes && o.verify) {
        for (const Job& j : jobs) {
            if (!j.ok) continue;
            const auto rec = std::find_if(recs.begin(), recs.end(),
                                          [&](const ap_info_stu& r) { return j.mac == r.mac; });
            if (rec == recs.end()) continue;
            ap_info_stu expected = *rec;
            ApplySentValues(expected, j.command, j.body);
            const SettingGroup group =
                j.command == CMD_SET_IP ? SettingGroup::Address : SettingGroup::Name;
            const std::string at = j.command == CMD_SET_IP ? j.newIp : j.ip;
            allOk = VerifyAndReport(s, j.mac, at, expected, {group}, {}, 0, out) && allOk;
            if (g_interrupted) return kExitInterrupted;
        }
    }
    return allOk ? kExitOk : kExitDeviceFailed;
}

// The script beside the program makes the sandbox, starts the simulator in it and this
// program's search (fielddesk-demo).
int RunDemo(const Options& o, std::ostream& err) {
    const std::string script = GetExecutableDirectory() + "fielddesk-demo";
    std::vector<std::string> args = {script, "--count", std::to_string(o.demoCount), "--seconds",
                                     std::to_string(o.seconds)};
    if (o.format != Format::Table)
        args.insert(args.end(), {"--", o.format == Format::Json ? "--json" : "--csv"});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    err.flush();
    ::execv(script.c_str(), argv.data());
    err << "fielddesk-cli: cannot start the demo (" << script << "): " << std::strerror(errno)
        << "\n";
    return kExitDeviceFailed;
}

}  // namespace

std::optional<int> FindBusyPort() {
    return FindBusyPortIn({kPortSearchReply, kPortSearch, kPortCommand, kPortInfo});
}

int RunCommand(const Options& options, std::ostream& out, std::ostream& err) {
    // The doctor looks at a PC where the engine may not start; it runs its own.
    if (options.command == Command::Doctor) return RunDoctor(options, out, err);
    // The demo runs the tool again inside a sandbox of its own.
    if (options.command == Command::Demo) return RunDemo(options, err);
    // Each subcommand that talks to devices, and the function that runs it over a session.
    // A new subcommand goes in its own file and adds one line here.
    using Runner = int (*)(Session&, const Options&, std::ostream&, std::ostream&);
    static constexpr std::pair<Command, Runner> kSubcommands[] = {
        {Command::Search, RunSearch},       {Command::Reboot, RunAction},
        {Command::Reset, RunAction},        {Command::Rename, RunAction},
        {Command::SetIp, RunAction},        {Command::Show, RunShow},
        {Command::Configure, RunConfigure}, {Command::Scan, RunBridgeCommand},
        {Command::Bridge, RunBridgeCommand},
        {Command::Upgrade, RunUpgrade},     {Command::Plan, RunPlan},
    };
    for (const auto& [command, run] : kSubcommands) {
        if (command != options.command) continue;
        Session s;
        if (int rc = s.Open(err); rc != kExitOk) return rc;
        return run(s, options, out, err);
    }
    err << "fielddesk-cli: no command given\n";
    return kExitUsage;
}

}  // namespace fd::cli
