#include "cli/cli_configure.h"

#include <algorithm>
#include <cctype>
#include <ostream>
#include <set>

#include "actions/configuration_sender.h"
#include "cli/cli_app.h"
#include "cli/cli_output.h"
#include "cli/cli_session.h"
#include "config/labels.h"
#include "config/language.h"
#include "rules/country_table.h"

namespace fd::cli {

// ---- parsing ----

std::string FinishConfigureArguments(bool configure, const std::vector<std::string>& positional,
                                     const ConfigureOptions& o, std::vector<std::string>& macs) {
    const char* command = configure ? "configure" : "show";
    if (positional.size() != 1)
        return "give the MAC address of one device (fielddesk-cli " + std::string(command) +
               " MAC)";
    auto mac = NormalizeMac(positional[0]);
    if (!mac) return "not a MAC address: '" + positional[0] + "'";
    macs.push_back(*mac);
    if (!configure) return {};
    if (o.values.empty()) return "give at least one setting to change (see --help)";
    if (o.Has("reboot") && (o.Has("reboot-at") || o.Has("days")))
        return "--reboot off excludes --reboot-at and --days";
    return {};
}

std::string ShowHelp() {
    return "Usage: fielddesk-cli show MAC [--json] [--seconds N]\n"
           "\n"
           "Finds the device and prints its whole stored configuration: name and addresses,\n"
           "radio, network name and security (keys included), VLAN and timed reboot. The\n"
           "values are written the way configure takes them. --json prints an array with\n"
           "one object of text values.\n"
           "\n"
           "Options:\n"
           "  --json          print JSON\n"
           "  --seconds N     the longest search for the device, 1..3600 (default 30)\n";
}

std::string ConfigureHelp() {
    std::string h =
        "Usage: fielddesk-cli configure MAC [SETTING VALUE]... [--seconds N]\n"
        "\n"
        "Changes settings of one device: the same checks, in the same order and with the\n"
        "same messages, as the configuration dialog of the desktop program. A refused value\n"
        "stops the command before anything is sent (exit 2). Only settings that differ from\n"
        "the device's are sent, in this order: name, wireless, timed reboot, VLAN, and the\n"
        "address last. Each command is repeated until the device answers or the retries\n"
        "of Setting.ini run out; one line per command tells the outcome. A device that\n"
        "changes its VLAN restarts.\n"
        "\n"
        "Settings:\n";
    ConfigureTab last = ConfigureTab::Ip;
    bool first = true;
    for (const auto& o : ConfigureOptionTable()) {
        if (first || o.tab != last) {
            static constexpr const char* kTabs[] = {"  wireless\n", "  name and address\n",
                                                    "  VLAN\n", "  timed reboot\n"};
            h += (first ? "" : "\n") + std::string(kTabs[static_cast<int>(o.tab)]);
            first = false;
            last = o.tab;
        }
        std::string left = "    --" + std::string(o.name) + " " + o.values;
        if (left.size() < 24)
            left.resize(24, ' ');
        else
            left += "\n" + std::string(24, ' ');
        h += left + o.help + "\n";
    }
    h += "\n"
         "Lists that depend on each other (mode, bandwidth, country, channel) are checked\n"
         "against the device: a value it does not offer is refused with the values it does.\n"
         "A value the device has that the lists do not hold (a radar channel, a country\n"
         "without a row such as NL) is kept as it is unless another is given.\n"
         "\n"
         "Options:\n"
         "  --seconds N     the longest search for the device, 1..3600 (default 30)\n";
    h += kVerifyNote;
    return h;
}

// ---- show ----

std::string FormatConfigurationText(const ConfigurationFields& fields) {
    std::size_t width = 0;
    for (const auto& [k, v] : fields) width = std::max(width, k.size());
    std::string out;
    for (const auto& [k, v] : fields)
        out += k + ":" + std::string(width + 2 - k.size(), ' ') + ForTerminal(v) + "\n";
    return out;
}

std::string FormatConfigurationJson(const ConfigurationFields& fields) {
    std::string out = "[\n  {";
    bool first = true;
    for (const auto& [k, v] : fields) {
        out += first ? "\n    " : ",\n    ";
        out += JsonString(k) + ": " + JsonString(v);
        first = false;
    }
    return out + "\n  }\n]\n";
}

// ---- running ----

const char* ConfigurationCommandLabel(int command) {
    switch (command) {
        case CMD_SET_NAME:
            return "name (command 8)";
        case CMD_SET_WIRELESS:
            return "wireless (command 4)";
        case CMD_SET_TIMED_REBOOT:
            return "timed reboot (command 5)";
        case CMD_SET_VLAN:
            return "VLAN (command 13)";
        case CMD_SET_IP:
            return "address (command 3)";
        default:
            return "command";
    }
}

int RunShow(Session& s, const Options& o, std::ostream& out, std::ostream& err) {
    std::vector<ap_info_stu> recs;
    if (int rc = FindDevices(s, o.macs, o.seconds, recs, out, err); rc != kExitOk) return rc;
    const ConfigurationFields fields = DescribeConfiguration(recs.front());
    out << (o.configure.json ? FormatConfigurationJson(fields) : FormatConfigurationText(fields));
    out.flush();
    return kExitOk;
}

int RunConfigure(Session& s, const Options& o, std::ostream& out, std::ostream& err) {
    std::vector<ap_info_stu> recs;
    const int settle = o.configure.Has("ip") ? InUseSettle(o) : 0;
    if (int rc = FindDevices(s, o.macs, o.seconds, recs, out, err, settle); rc != kExitOk)
        return rc;
    const ap_info_stu& rec = recs.front();

    const ConfigureRequest req = BuildConfigureForms(rec, o.configure);
    if (!req.error.empty()) {
        err << "fielddesk-cli: " << req.error << "\nNothing was sent.\n";
        return kExitUsage;
    }
    const std::vector<std::string> usedIps = AddressesInUse(s.Store());
    const ConfigurationPlan plan = PlanConfiguration(rec, req.forms, usedIps);
    if (!plan.ok()) {
        err << "fielddesk-cli: " << RuleFailureText(plan.failure);
        // A new address in another subnet usually needs a new gateway too.
        if (plan.failure.code == RuleCode::GatewayOutsideSubnet && !o.configure.Has("gateway"))
            err << " (the device's gateway " << IpToText(rec.ip_gateway) << "; give --gateway)";
        err << "\nNothing was sent.\n";
        return kExitUsage;
    }
    const std::string ip = IpToText(rec.ip);
    if (plan.pending.Empty()) {
        out << rec.mac << "  " << ip << "  nothing to change\n";
        return kExitOk;
    }

    const ConfigurationTarget target{ip, rec.mac, rec.ap_type};
    const std::vector<ConfigurationCommand> commands = ConfigurationCommands(plan.pending);
    const uint64_t sentAfter = s.Commands().LastSeq();
    const std::vector<bool> sent = RunConfigurationSender({}, s.Engine(), target, plan.pending);
    std::vector<Job> jobs;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        Job j;
        j.mac = rec.mac;
        j.ip = ip;
        j.command = commands[i].command;
        j.label = ConfigurationCommandLabel(j.command);
        if (j.command == CMD_SET_IP) j.newIp = NewAddressOf(plan.pending);
        if (!sent[i]) {
            j.finished = true;
            j.outcome = "cannot be sent: no adapter of this PC in the device's subnet";
            Report(out, j);
        }
        jobs.push_back(std::move(j));
    }
    WaitForAnswers(s, jobs, sentAfter, out);
    if (g_interrupted) return kExitInterrupted;
    std::string failed;
    for (const Job& j : jobs)
        if (!j.ok) failed += (failed.empty() ? "" : "; ") + j.label + ": " + j.outcome;
    if (!failed.empty()) {
        err << "fielddesk-cli: device " << rec.mac << " (" << ip
            << ") did not acknowledge every command: " << failed << "\n";
        return kExitDeviceFailed;
    }
    if (o.verify) {
        // Read back at the address the device has now, after the restart a VLAN change
        // causes (the dialog's wait is the bound), and compare every field sent.
        const bool verified = ReportVerification(
            out, rec.mac,
            VerifyConfiguration(s.Engine(), s.Commands(), rec, plan.pending,
                                ReadBackOptionsOf(s)));
        if (g_interrupted) return kExitInterrupted;
        if (!verified) return kExitDeviceFailed;
    }
    return kExitOk;
}

}  // namespace fd::cli
