#include "cli/cli_doctor.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <ostream>
#include <sstream>
#include <thread>

#include "actions/engine_search_adapter.h"
#include "actions/search_session.h"
#include "cli/cli_app.h"
#include "cli/cli_output.h"
#include "cli/cli_session.h"
#include "system/local_adapters.h"
#include "system/net_diagnostics.h"

namespace fd::cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::vector<int> ReceivePorts() {
    return {std::begin(kReceivePorts), std::end(kReceivePorts)};
}

std::string Join(const std::vector<std::string>& items, const char* sep = ", ") {
    std::string out;
    for (const auto& i : items) out += (out.empty() ? "" : sep) + i;
    return out;
}

std::string AdapterName(const LocalAdapterInfo& a) {
    return std::string(a.name, strnlen(a.name, sizeof a.name));
}

// Standard output of a program run without a shell; nullopt when it could not run or
// failed.
std::optional<std::string> Capture(const std::vector<std::string>& argv) {
    int pipefd[2];
    if (pipe2(pipefd, O_CLOEXEC) != 0) return std::nullopt;
    const pid_t pid = fork();
    if (pid < 0) {
        close(pipefd[0]), close(pipefd[1]);
        return std::nullopt;
    }
    if (pid == 0) {
        dup2(pipefd[1], 1);
        const int devnull = open("/dev/null", O_WRONLY);
        if (devnull >= 0) dup2(devnull, 2);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(pipefd[1]);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = read(pipefd[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    close(pipefd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return out;
}

DoctorCheck CheckAdapters(const std::vector<LocalAdapterInfo>& listed) {
    DoctorCheck c{"adapters"};
    std::vector<LocalAdapterInfo> adapters;
    std::vector<std::string> unplugged;
    for (const auto& a : listed) {
        if (a.up == 1) adapters.push_back(a);
        if (a.unplugged) unplugged.push_back(AdapterName(a));
    }
    if (!unplugged.empty()) {
        // An adapter without carrier looks like a network without devices; say which.
        c.verdict = Verdict::Problem;
        c.message = Join(unplugged) + ": cable unplugged or no link (not searched on)";
        if (!adapters.empty()) {
            std::vector<std::string> parts;
            for (const auto& a : AttributeAnswers(adapters, {}).adapters)
                parts.push_back(a.name + " (" + Join(a.addresses) + ")");
            c.message += "; in use: " + Join(parts);
        }
        c.hint = "plug the cable into " + Join(unplugged, " / ") +
                 " and check that the switch or device at its other end is powered on; "
                 "'ip link show " +
                 unplugged.front() + "' says LOWER_UP once the link is there";
        return c;
    }
    if (adapters.empty()) {
        c.verdict = Verdict::Problem;
        c.message = "no network adapter with an IPv4 address is up";
        c.hint =
            "connect the PC to the devices' network and give the adapter an address "
            "(e.g. sudo ip addr add 192.168.1.10/24 dev eth0)";
        return c;
    }
    std::vector<std::string> parts;
    const auto attribution = AttributeAnswers(adapters, {});
    for (const auto& a : attribution.adapters)
        parts.push_back(a.name + " (" + Join(a.addresses) + ")");
    c.message = Join(parts);
    return c;
}

DoctorCheck CheckPorts(const std::vector<PortHolder>& holders) {
    DoctorCheck c{"ports"};
    if (holders.empty()) {
        c.message = "UDP 9785, 9787 and 9788 are free";
        return c;
    }
    c.verdict = Verdict::Problem;
    std::vector<std::string> parts;
    for (const auto& h : holders)
        parts.push_back("UDP " + std::to_string(h.port) + " by " +
                        (h.pid > 0 ? h.program + " (pid " + std::to_string(h.pid) + ")"
                                   : std::string("a process of another user")));
    c.message = "held: " + Join(parts);
    c.hint =
        "close that program (FieldDesk or another copy of fielddesk-cli): the devices' "
        "answers go to one receiver only";
    return c;
}

DoctorCheck CheckRpFilter(const std::vector<LocalAdapterInfo>& adapters) {
    DoctorCheck c{"rp_filter"};
    std::vector<std::string> strict;
    for (const auto& a : adapters) {
        const std::string name = AdapterName(a);
        if (EffectiveRpFilter(name).value_or(0) == 1) strict.push_back(name);
    }
    if (strict.empty()) {
        c.message = "reverse-path filtering is off or loose on every adapter";
        return c;
    }
    c.verdict = Verdict::Problem;
    c.message = "reverse-path filtering is strict on " + Join(strict) +
                ": answers from devices outside the adapter's subnets (a factory address, "
                "another site's plan) are dropped before they reach the program";
    std::string cmd = "sudo sysctl -w net.ipv4.conf.all.rp_filter=2";
    for (const auto& s : strict) cmd += " net.ipv4.conf." + s + ".rp_filter=2";
    c.hint = "make it loose: " + cmd;
    return c;
}

DoctorCheck CheckFirewall() {
    DoctorCheck c{"firewall"};
    if (geteuid() != 0) {
        c.verdict = Verdict::Unknown;
        c.message = "the firewall rules can only be read as root";
        c.hint = "run 'sudo fielddesk-cli doctor' to check them";
        return c;
    }
    std::vector<std::string> problems;
    std::vector<std::string> looked;
    if (auto ruleset = Capture({"nft", "list", "ruleset"})) {
        looked.push_back("nftables");
        for (const auto& d : FindNftablesDrops(*ruleset, ReceivePorts()))
            problems.push_back("UDP " + std::to_string(d.port) + " dropped by '" + d.rule + "' (" +
                               d.chain + ")");
        // Searches and commands that never leave look the same as silent devices.
        const std::vector<int> sendPorts(std::begin(kSendPorts), std::end(kSendPorts));
        for (const auto& d : FindNftablesDrops(*ruleset, sendPorts, "output"))
            problems.push_back("outgoing UDP " + std::to_string(d.port) + " dropped by '" + d.rule +
                               "' (" + d.chain + ")");
    }
    if (auto state = Capture({"firewall-cmd", "--state"}); state && state->find("running") == 0) {
        looked.push_back("firewalld");
        const auto services = Capture({"firewall-cmd", "--list-services"}).value_or("");
        const auto ports = Capture({"firewall-cmd", "--list-ports"}).value_or("");
        if (services.find("fielddesk") == std::string::npos &&
            ports.find("9788/udp") == std::string::npos)
            problems.push_back("firewalld is running and its zone does not allow FieldDesk");
    }
    if (auto ufw = Capture({"ufw", "status"}); ufw && ufw->find("Status: active") == 0) {
        looked.push_back("ufw");
        if (ufw->find("FieldDesk") == std::string::npos && ufw->find("9788") == std::string::npos)
            problems.push_back("ufw is active and does not allow FieldDesk");
    }
    if (looked.empty()) {
        c.verdict = Verdict::Unknown;
        c.message = "no firewall tool found (nft, firewall-cmd, ufw)";
        return c;
    }
    if (problems.empty()) {
        c.message = "no rule of " + Join(looked) +
                    " drops UDP 9785, 9787 or 9788 coming in, or "
                    "9786 or 9787 going out";
        return c;
    }
    c.verdict = Verdict::Problem;
    c.message = Join(problems, "; ");
    c.hint =
        "let the answers in: sudo firewall-cmd --permanent --add-service=fielddesk && sudo "
        "firewall-cmd --reload, or sudo ufw allow FieldDesk, or an nftables rule "
        "'udp dport { 9785, 9787, 9788 } accept' before the drop";
    return c;
}

// A short search of our own: an engine and a scratch store that live for the check only.
void SearchChecks(int seconds, const std::vector<LocalAdapterInfo>& adapters,
                  std::vector<DoctorCheck>& checks, std::ostream& err) {
    DoctorCheck search{"search"};
    std::vector<PeerEntry> peers;
    int sent = 0;
    const auto dropsBefore = ReversePathDrops();
    {
        // The engine over a scratch store, as every subcommand has it.
        Session s;
        std::ostringstream why;
        if (s.Open(why) != kExitOk) {
            std::string reason = why.str();
            while (!reason.empty() && reason.back() == '\n') reason.pop_back();
            search.verdict = Verdict::Unknown;
            search.message = "not run: " + reason;
            checks.push_back(search);
            return;
        }
        // The status page's search: a broadcast at the start and every third second.
        const bool live = isatty(STDERR_FILENO);
        EngineSearchAdapter adapter(s.Engine());
        SearchSession session(adapter, seconds);
        session.Start();
        const auto start = Clock::now();
        while (session.IsRunning() && !g_interrupted) {
            if (Clock::now() >= start + std::chrono::seconds(session.Ticks() + 1)) session.Tick();
            if (live)
                err << "\rsearching: " << session.Broadcasts() << " sent, "
                    << s.Engine().GetPeers().size() << " answered   " << std::flush;
            std::this_thread::sleep_for(50ms);
        }
        sent = session.Broadcasts();
        if (live) err << "\r" << std::string(40, ' ') << "\r" << std::flush;
        peers = s.Engine().GetPeers();
    }
    const auto dropsAfter = ReversePathDrops();

    std::vector<std::string> ips;
    for (const auto& p : peers) ips.emplace_back(p.ip);
    const auto att = AttributeAnswers(adapters, ips);
    std::vector<std::string> parts;
    for (const auto& a : att.adapters)
        parts.push_back("sent " + std::to_string(sent) + " search" + (sent == 1 ? "" : "es") +
                        " on " + a.name + " (" + Join(a.addresses) + "), " +
                        std::to_string(a.devices.size()) + " answer" +
                        (a.devices.size() == 1 ? "" : "s"));
    if (att.adapters.empty()) parts.push_back("sent " + std::to_string(sent) + " searches");
    search.message = Join(parts, "; ");
    if (!att.outside.empty())
        search.message +=
            "; " + std::to_string(att.outside.size()) + " from outside every adapter's subnet";
    uint64_t rpDrops = 0;
    if (dropsBefore && dropsAfter && *dropsAfter > *dropsBefore)
        rpDrops = *dropsAfter - *dropsBefore;
    // Details are only taken from devices in an adapter's subnet; count those.
    std::size_t inside = 0, detailed = 0;
    for (const auto& p : peers) {
        if (std::find(att.outside.begin(), att.outside.end(), p.ip) != att.outside.end()) continue;
        ++inside;
        if (p.state == 2) ++detailed;
    }
    if (detailed < inside)
        search.message += "; " + std::to_string(detailed) + " of " + std::to_string(inside) +
                          " sent their details";
    if (inside > 0 && detailed == 0) {
        // Search answers come to 9785, the details to 9788: a half-open firewall.
        search.verdict = Verdict::Problem;
        search.hint = "the devices' details come to UDP 9788: see the firewall above";
    } else if (peers.empty()) {
        search.verdict = Verdict::Problem;
        search.message += ": no device answered";
        search.hint = rpDrops > 0
                          ? std::to_string(rpDrops) +
                                " datagram(s) were dropped by reverse-path filtering meanwhile: "
                                "see rp_filter above"
                          : "check the cable and the devices' power, the firewall and "
                            "rp_filter above; a device answers a search from any address";
    } else if (rpDrops > 0) {
        search.verdict = Verdict::Problem;
        search.hint = std::to_string(rpDrops) +
                      " datagram(s) were dropped by reverse-path filtering meanwhile: more "
                      "devices may be there; see rp_filter above";
    }
    checks.push_back(search);

    DoctorCheck subnets{"subnets"};
    if (att.outside.empty()) {
        subnets.message = peers.empty() ? "no device answered"
                                        : "every device that answered "
                                          "lies in an adapter's subnet";
        if (peers.empty()) subnets.verdict = Verdict::Unknown;
    } else {
        subnets.verdict = Verdict::Problem;
        std::vector<std::string> shown(
            att.outside.begin(),
            att.outside.begin() + static_cast<long>(std::min<std::size_t>(5, att.outside.size())));
        subnets.message = std::to_string(att.outside.size()) +
                          " device(s) answered from outside every adapter's subnet (" +
                          Join(shown) + (att.outside.size() > 5 ? ", ..." : "") +
                          "): they are listed, but no command can reach them";
        subnets.hint =
            "give the adapter wired to them an address in their subnet (e.g. sudo ip "
            "addr add <free address>/<prefix> dev <adapter>), or move them into "
            "the adapter's subnet with set-ip";
    }
    checks.push_back(subnets);
}

const char* VerdictText(Verdict v) {
    switch (v) {
        case Verdict::Ok:
            return "ok";
        case Verdict::Problem:
            return "PROBLEM";
        case Verdict::Unknown:
            return "unknown";
    }
    return "";
}

}  // namespace

std::string FormatDoctorText(const std::vector<DoctorCheck>& checks) {
    std::ostringstream out;
    int problems = 0;
    for (const auto& c : checks) {
        char head[64];
        std::snprintf(head, sizeof head, "%-10s %-8s", c.name.c_str(), VerdictText(c.verdict));
        out << head << ForTerminal(c.message) << "\n";
        if (!c.hint.empty()) out << std::string(20, ' ') << "fix: " << ForTerminal(c.hint) << "\n";
        if (c.verdict == Verdict::Problem) ++problems;
    }
    out << (problems == 0
                ? std::string("no problem found")
                : std::to_string(problems) + " problem" + (problems == 1 ? "" : "s") + " found")
        << "\n";
    return out.str();
}

std::string FormatDoctorJson(const std::vector<DoctorCheck>& checks) {
    std::ostringstream out;
    int problems = 0;
    out << "{\"checks\":[";
    for (std::size_t i = 0; i < checks.size(); ++i) {
        const auto& c = checks[i];
        std::string verdict = VerdictText(c.verdict);
        for (auto& ch : verdict)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        out << (i ? "," : "") << "{\"check\":" << JsonString(c.name)
            << ",\"verdict\":" << JsonString(verdict) << ",\"message\":" << JsonString(c.message)
            << ",\"hint\":" << JsonString(c.hint) << "}";
        if (c.verdict == Verdict::Problem) ++problems;
    }
    out << "],\"problems\":" << problems << "}\n";
    return out.str();
}

int RunDoctor(const Options& options, std::ostream& out, std::ostream& err) {
    std::vector<DoctorCheck> checks;
    const auto listed = ListLocalAdapters();
    checks.push_back(CheckAdapters(listed));
    std::vector<LocalAdapterInfo> adapters;
    for (const auto& a : listed)
        if (a.up == 1) adapters.push_back(a);
    const auto holders = FindPortHolders(ReceivePorts());
    checks.push_back(CheckPorts(holders));
    checks.push_back(CheckRpFilter(adapters));
    checks.push_back(CheckFirewall());
    if (!holders.empty() || FindBusyPort()) {
        checks.push_back({"search", Verdict::Unknown, "not run: the receive ports are held", ""});
    } else if (adapters.empty()) {
        checks.push_back({"search", Verdict::Unknown, "not run: no adapter to search on", ""});
    } else {
        SearchChecks(options.seconds, adapters, checks, err);
    }
    out << (options.format == Format::Json ? FormatDoctorJson(checks) : FormatDoctorText(checks));
    if (g_interrupted) return kExitInterrupted;
    for (const auto& c : checks)
        if (c.verdict == Verdict::Problem) return kExitDeviceFailed;
    return kExitOk;
}

}  // namespace fd::cli
