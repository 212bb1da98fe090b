#include "cli/cli_args.h"

#include <cctype>
#include <charconv>
#include <set>

#include "actions/upgrade_session.h"
#include "cli/cli_bridge.h"
#include "config/labels.h"
#include "rules/address_rules.h"
#include "wire/address.h"

namespace fd::cli {

namespace {

struct CommandInfo {
    Command command;
    const char* name;
};
constexpr CommandInfo kCommands[] = {
    {Command::Search, "search"}, {Command::Reboot, "reboot"},       {Command::Reset, "reset"},
    {Command::Rename, "rename"}, {Command::SetIp, "set-ip"},        {Command::Doctor, "doctor"},
    {Command::Show, "show"},     {Command::Configure, "configure"}, {Command::Scan, "scan"},
    {Command::Bridge, "bridge"}, {Command::Upgrade, "upgrade"},     {Command::Demo, "demo"},
    {Command::Plan, "plan"},
};

const char* const kExitCodes =
    "Exit codes:\n"
    "  0    done: every device answered (configure, rename, set-ip, bridge: and then\n"
    "       reported every value sent, unless the read-back was switched off)\n"
    "  1    a device was not found by the search, has no adapter of this PC in its\n"
    "       subnet, did not answer, or refused the command; or, after a change, did not\n"
    "       report the values sent (not applied) or did not answer the read-back; or no\n"
    "       adapter is up to search on (see doctor)\n"
    "  2    bad command line, or input refused by the address or device-name rules\n"
    "       (nothing was sent)\n"
    "  3    cannot run: another FieldDesk is running or a port of 9785-9788 is in use,\n"
    "       the scratch database cannot be made, or the protocol engine cannot start\n"
    "  130  interrupted (Ctrl-C) before the work was done\n";

const char* const kSearchNote =
    "  --seconds N     how long to search, 1..3600 (default 30, as the status page does):\n"
    "                  a broadcast at the start and every third second after it\n";

}  // namespace

// The options of the commands that change settings: the read-back and the quiet time of
// the search an address check relies on.
const char* const kVerifyNote =
    "  --no-verify     do not read the settings back: an acknowledgement counts as done\n"
    "                  (by default each device is asked for its settings after it\n"
    "                  acknowledged, at its new address where that changed and after the\n"
    "                  restart a VLAN change causes, and one line tells: verified, not\n"
    "                  applied: FIELD (sent X, device reports Y), or no answer)\n"
    "  --settle N      when an address changes, search on until no new device has\n"
    "                  answered for N seconds (default 3), so that a device answering late\n"
    "                  is known before its address is given to another\n";

namespace {

bool ParseNumber(std::string_view text, int lo, int hi, int& out) {
    int v = 0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || p != text.data() + text.size() || v < lo || v > hi) return false;
    out = v;
    return true;
}

bool ParseSeconds(std::string_view text, int& out) {
    return ParseNumber(text, 1, 3600, out);
}

}  // namespace

const char* CommandName(Command c) {
    for (const auto& info : kCommands)
        if (info.command == c) return info.name;
    return "";
}

std::optional<std::string> NormalizeMac(std::string_view text) {
    if (text.size() != 17 || (text[2] != ':' && text[2] != '-')) return std::nullopt;
    std::string colons(text);
    for (std::size_t i = 2; i < colons.size(); i += 3) {
        if (colons[i] != text[2]) return std::nullopt;  // one separator throughout
        colons[i] = ':';
    }
    uint8_t mac[6];
    if (!MacFromText(colons, mac)) return std::nullopt;
    return MacToText(mac);
}

std::optional<int> SortIndexOf(std::string_view name) {
    std::string key;
    for (char c : name)
        if (c != ' ' && c != '-' && c != '_')
            key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    static const std::pair<const char*, int> kSort[] = {
        {"location", 2},           {"name", 2},     {"type", 3},  {"ip", 1},      {"mac", 0},
        {"operationmode", 4},      {"mode", 4},     {"ssid", 5},  {"channel", 6}, {"version", 9},
        {"transparentbridge", 10}, {"airslot", 11}, {"time", 12}, {"uptime", 12}, {"status", 13},
    };
    for (const auto& [n, idx] : kSort)
        if (key == n) return idx;
    return std::nullopt;
}

std::string GeneralHelp() {
    return std::string(
               "Usage: fielddesk-cli COMMAND [OPTIONS]\n"
               "\n"
               "Finds the outdoor CPE and access-point devices on the LAN segments this PC is\n"
               "wired to, lists them, and reboots, resets, renames, re-addresses or configures\n"
               "them.\n"
               "\n"
               "Commands:\n"
               "  search    search the LAN and list the devices found\n"
               "  reboot    reboot devices\n"
               "  reset     restore devices to factory settings\n"
               "  rename    set a device's name\n"
               "  set-ip    set devices' IP address, mask and gateway\n"
               "  show      print one device's whole configuration\n"
               "  configure change one device's name, address, wireless, VLAN and timed reboot\n"
               "  scan      list the access points a device hears\n"
               "  bridge    link a device as a station to an access point\n"
               "  upgrade   upgrade devices' firmware from an image file\n"
               "  plan      configure many devices from one spreadsheet: export, check, apply\n"
               "  doctor    find out why a search finds nothing\n"
               "  demo      search simulated devices in a private network sandbox\n"
               "\n"
               "Options:\n"
               "  -h, --help      print this help, or with a command its help, and exit\n"
               "  --version       print the version and exit\n"
               "\n"
               "Run 'fielddesk-cli COMMAND --help' for the options of a command.\n"
               "The tool uses UDP ports 9785-9788 and cannot run beside FieldDesk.\n"
               "\n") +
           kExitCodes;
}

std::string CommandHelp(Command c) {
    std::string h;
    switch (c) {
        case Command::Search:
            h = "Usage: fielddesk-cli search [--seconds N] [--settle N] [--filter TEXT]\n"
                "                            [--sort COLUMN [--desc]] [--json | --csv]\n"
                "\n"
                "Searches the LAN and prints the devices found with the columns of the status\n"
                "list: Location, Type, IP, MAC, OperationMode, SSID, Channel, Version,\n"
                "Transparent bridge, AirSlot, Time. Devices that answered the search but did\n"
                "not send their details (yet) follow the others.\n"
                "\n"
                "Options:\n";
            h += kSearchNote;
            h += "  --settle N      end sooner, once devices have answered and no new one has\n"
                 "                  for N seconds (--seconds stays the upper bound)\n"
                 "  --filter TEXT   only devices showing TEXT in a column (name, IP, MAC, SSID,\n"
                 "                  version, mode, channel, type, switches, time, status)\n"
                 "  --sort COLUMN   location, type, ip (default), mac, operation-mode, ssid,\n"
                 "                  channel, version, transparent-bridge, airslot, time, status\n"
                 "  --desc          sort descending\n"
                 "  --json          print a JSON array (keys: location, type, ip, mac,\n"
                 "                  operation_mode, ssid, channel, version, transparent_bridge,\n"
                 "                  airslot, time, status, confirmed)\n"
                 "  --csv           print CSV as the status page exports it (RFC 4180, header\n"
                 "                  line, CRLF line ends; a cell a spreadsheet would take for\n"
                 "                  a formula starts with ')\n"
                 "\n"
                 "While searching, a live count goes to standard error when standard output is\n"
                 "a terminal; standard output carries only the list.\n";
            break;
        case Command::Reboot:
        case Command::Reset:
            h = std::string("Usage: fielddesk-cli ") + CommandName(c) +
                " MAC... [--seconds N]\n\n" +
                (c == Command::Reboot ? "Reboots the devices"
                                      : "Restores the devices to factory settings") +
                ". The devices are found by a search first (it ends as soon as\n"
                "all are found). Each command is repeated until the device answers or the\n"
                "retries of Setting.ini run out; one line per device tells the outcome (" +
                (c == Command::Reboot ? "\"Restarting\"" : "\"Reseting\"") +
                "\nwhen the device accepted).\n\nOptions:\n" + kSearchNote;
            break;
        case Command::Rename:
            h = "Usage: fielddesk-cli rename MAC NAME [MAC NAME]... [--seconds N]\n"
                "\n"
                "Sets device names: at most 32 bytes in UTF-8. Models with strict names accept\n"
                "only letters, digits, Chinese characters and ! # $ % & ( ) * + - . / < = > ? @\n"
                "^ _ ~; the others any ASCII character or Chinese characters. Put -- before\n"
                "the MACs and names when a name begins with '-'.\n"
                "\n"
                "Options:\n";
            h += kSearchNote;
            h += std::string(kVerifyNote).substr(0, std::string(kVerifyNote).find("  --settle"));
            break;
        case Command::SetIp:
            h = "Usage: fielddesk-cli set-ip MAC IP [MAC IP]... [--mask M] [--gateway G]\n"
                "                            [--dns1 D] [--dns2 D] [--seconds N]\n"
                "       fielddesk-cli set-ip --range FIRST [--end LAST] MAC... [--mask M] ...\n"
                "\n"
                "Gives devices new addresses. With --range the addresses are handed out from\n"
                "FIRST upwards in the order the MACs are given, skipping addresses ending in\n"
                ".0 or .255, up to LAST (default: the end of FIRST's subnet). Mask, gateway and\n"
                "DNS servers not given are kept from each device (with --range: from the first\n"
                "device); a gateway of 0.0.0.0 means none. The devices are found by a search\n"
                "first. Every address is checked before anything is sent: a usable host\n"
                "address, a valid mask, the gateway in the same subnet, and no address that\n"
                "another found device or this PC already has.\n"
                "\n"
                "Options:\n";
            h += kSearchNote;
            h += kVerifyNote;
            break;
        case Command::Show:
            h = ShowHelp();
            break;
        case Command::Configure:
            h = ConfigureHelp();
            break;
        case Command::Plan:
            return PlanHelp();
        case Command::Scan:
        case Command::Bridge:
            h = BridgeCommandHelp(c);
            break;
        case Command::Upgrade:
            h = "Usage: fielddesk-cli upgrade --image FILE.bin [--model NAME] MAC...\n"
                "\n"
                "Upgrades the firmware of the devices, as the desktop program's upgrade does:\n"
                "serves the image with FileServer (beside this program, UDP port 69: see the\n"
                "README for the right to use it), asks the devices to fetch it, tells those\n"
                "that fetched it to flash it, and waits for them to come back. The image's name\n"
                "ends in .bin or .BIN. Devices of one model are upgraded at a time: --model\n"
                "NAME, else the model of the first device; the others are skipped. Prints\n"
                "each device's status as it changes and its result; takes about 4 minutes.\n"
                "\n"
                "Options:\n";
            h += kSearchNote;
            h += "  --tftp-port N   the file server's port (default 69)\n"
                 "  --return-seconds N\n"
                 "                  how long flashed devices may take to reappear after the\n"
                 "                  upgrade's own end, 0..3600 (default 30)\n"
                 "  --tick-ms N     length of the upgrade's second, 1..1000 (rehearsals, tests)\n";
            break;
        case Command::Doctor:
            return "Usage: fielddesk-cli doctor [--seconds N] [--json]\n"
                   "\n"
                   "Finds out why a search finds nothing. Checks, each with a verdict and a fix:\n"
                   "  adapters   the adapters that are up and their addresses\n"
                   "  ports      UDP 9785, 9787 and 9788 free, or which program holds them\n"
                   "  rp_filter  strict reverse-path filtering, which drops answers from\n"
                   "             devices outside the adapter's subnets\n"
                   "  firewall   nftables, firewalld or ufw rules dropping those ports (root)\n"
                   "  search     a short search: searches sent and answers per adapter\n"
                   "  subnets    devices that answered from outside every adapter's subnet\n"
                   "\n"
                   "Options:\n"
                   "  --seconds N     how long the search runs, 1..3600 (default 7)\n"
                   "  --json          print one JSON object: {\"checks\": [{\"check\",\n"
                   "                  \"verdict\", \"message\", \"hint\"}...], \"problems\": N}\n"
                   "\n"
                   "Exit codes:\n"
                   "  0    no problem found\n"
                   "  1    a check found a problem\n"
                   "  2    bad command line\n"
                   "  130  interrupted (Ctrl-C)\n";
        case Command::Demo:
            return "Usage: fielddesk-cli demo [--count N] [--seconds N] [--json | --csv]\n"
                   "\n"
                   "Tries the tool without devices: makes a private network sandbox (user and\n"
                   "network namespaces, no root needed) with simulated devices\n"
                   "(fielddesk-devsim), searches them from the sandbox's PC side, prints the\n"
                   "list once no new device has answered for 3 seconds, and ends the sandbox.\n"
                   "Nothing is sent on this PC's own network. The desktop program shows the\n"
                   "same demo in its window (see fielddesk's help).\n"
                   "\n"
                   "Options:\n"
                   "  --count N       simulated devices, 1..2000 (default 40)\n"
                   "  --seconds N     the longest search, 1..3600 (default 15)\n"
                   "  --json          print a JSON array, as search --json does\n"
                   "  --csv           print CSV, as search --csv does\n"
                   "\n"
                   "Exit codes:\n"
                   "  0    the devices were listed\n"
                   "  1    the sandbox could not be made (the reason is printed)\n"
                   "  2    bad command line\n";
        case Command::None:
            return GeneralHelp();
    }
    return h + "\n" + kExitCodes;
}

ParseResult ParseArguments(const std::vector<std::string>& args) {
    ParseResult r;
    Options& o = r.options;
    std::vector<std::string> positional;
    std::set<std::string> seen;

    auto fail = [&](std::string msg) {
        r.error = std::move(msg);
        return r;
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool hasInline = false;
        if (arg.rfind("--", 0) == 0 && arg.size() > 2) {
            if (auto eq = arg.find('='); eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg.resize(eq);
                hasInline = true;
            }
        }
        auto takeValue = [&](std::string& out) -> bool {
            if (hasInline) {
                out = value;
                return true;
            }
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        const bool before = o.command == Command::None;

        if (arg == "--") {
            for (++i; i < args.size(); ++i) positional.push_back(args[i]);
            break;
        } else if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--version" && before) {
            o.version = true;
        } else if (arg.size() > 1 && arg[0] == '-' && !hasInline && arg.rfind("--", 0) != 0) {
            return fail("unknown option '" + arg + "'");
        } else if (arg.rfind("--", 0) == 0) {
            if (before) return fail("the command comes before its options: '" + arg + "'");
            const Command c = o.command;
            std::string v, bridgeError;
            if (seen.count(arg) && arg != "--json" && arg != "--csv")
                return fail("option " + arg + " given twice");
            seen.insert(arg);
            if (ParseBridgeOption(c, arg, takeValue, o, bridgeError)) {
                if (!bridgeError.empty()) return fail(bridgeError);
            } else if (arg == "--seconds") {
                if (!takeValue(v) || !ParseSeconds(v, o.seconds))
                    return fail("--seconds takes a number of seconds from 1 to 3600");
            } else if (c == Command::Demo && arg == "--count") {
                if (!takeValue(v) || !ParseNumber(v, 1, 2000, o.demoCount))
                    return fail("--count takes 1 to 2000 devices");
            } else if (((c == Command::Search || c == Command::Demo) &&
                        (arg == "--json" || arg == "--csv")) ||
                       (c == Command::Doctor && arg == "--json")) {
                const Format f = arg == "--json" ? Format::Json : Format::Csv;
                if (o.format != Format::Table && o.format != f)
                    return fail("--json and --csv exclude each other");
                o.format = f;
            } else if ((c == Command::Rename || c == Command::SetIp || c == Command::Configure ||
                        c == Command::Bridge) &&
                       arg == "--no-verify") {
                o.verify = false;
            } else if ((c == Command::Search || c == Command::SetIp || c == Command::Configure ||
                        c == Command::Bridge) &&
                       arg == "--settle") {
                if (!takeValue(v) || !ParseSeconds(v, o.settleSeconds))
                    return fail("--settle takes a number of seconds from 1 to 3600");
            } else if (c == Command::Search && arg == "--filter") {
                if (!takeValue(o.filter)) return fail("--filter takes a text");
            } else if (c == Command::Search && arg == "--sort") {
                if (!takeValue(v)) return fail("--sort takes a column name");
                auto idx = SortIndexOf(v);
                if (!idx) return fail("unknown column '" + v + "' for --sort");
                o.sortIndex = *idx;
            } else if (c == Command::Search && arg == "--desc") {
                o.descending = true;
            } else if (c == Command::SetIp &&
                       (arg == "--mask" || arg == "--gateway" || arg == "--dns1" ||
                        arg == "--dns2" || arg == "--range" || arg == "--end")) {
                std::string* target = arg == "--mask"      ? &o.mask
                                      : arg == "--gateway" ? &o.gateway
                                      : arg == "--dns1"    ? &o.dns1
                                      : arg == "--dns2"    ? &o.dns2
                                      : arg == "--range"   ? &o.rangeFirst
                                                           : &o.rangeEnd;
                if (!takeValue(*target) || target->empty()) return fail(arg + " takes an address");
            } else if (auto e = (c == Command::Show || c == Command::Configure)
                                    ? ParseConfigureOption(c == Command::Configure, arg, takeValue,
                                                           o.configure)
                                    : std::nullopt) {
                if (!e->empty()) return fail(*e);
            } else if (auto e = c == Command::Plan ? ParsePlanOption(arg, takeValue, o.plan)
                                                   : std::nullopt) {
                if (!e->empty()) return fail(*e);
            } else if (c == Command::Upgrade && (arg == "--image" || arg == "--model")) {
                std::string& target = arg == "--image" ? o.image : o.model;
                if (!takeValue(target) || target.empty()) return fail(arg + " takes a value");
            } else if (c == Command::Upgrade && arg == "--tftp-port") {
                if (!takeValue(v) || !ParseNumber(v, 1, 65535, o.tftpPort))
                    return fail("--tftp-port takes a port from 1 to 65535");
            } else if (c == Command::Upgrade && arg == "--tick-ms") {
                if (!takeValue(v) || !ParseNumber(v, 1, 1000, o.tickMs))
                    return fail("--tick-ms takes 1 to 1000 milliseconds");
            } else if (c == Command::Upgrade && arg == "--return-seconds") {
                if (!takeValue(v) || !ParseNumber(v, 0, 3600, o.returnSeconds))
                    return fail("--return-seconds takes 0 to 3600 seconds");
            } else {
                return fail("unknown option '" + arg + "' for " + CommandName(c));
            }
        } else if (before) {
            for (const auto& info : kCommands)
                if (arg == info.name) o.command = info.command;
            if (o.command == Command::None) return fail("unknown command '" + arg + "'");
        } else {
            positional.push_back(arg);
        }
    }
    if (o.help || o.version) return r;
    if (o.command == Command::None) return fail("no command given");

    auto takeMacs = [&](const std::vector<std::string>& list) -> std::string {
        std::set<std::string> unique;
        for (const auto& m : list) {
            auto mac = NormalizeMac(m);
            if (!mac) return "not a MAC address: '" + m + "'";
            if (!unique.insert(*mac).second) return "MAC address given twice: " + *mac;
            o.macs.push_back(*mac);
        }
        return {};
    };
    auto takePairs = [&](const char* second) -> std::string {
        if (positional.empty() || positional.size() % 2 != 0)
            return std::string("expected MAC ") + second + " pairs";
        std::vector<std::string> macs;
        for (std::size_t k = 0; k < positional.size(); k += 2) macs.push_back(positional[k]);
        if (auto e = takeMacs(macs); !e.empty()) return e;
        for (std::size_t k = 0; k < o.macs.size(); ++k)
            o.pairs.emplace_back(o.macs[k], positional[2 * k + 1]);
        return {};
    };

    if (o.command == Command::Doctor && !seen.count("--seconds")) o.seconds = 7;
    if (o.command == Command::Demo && !seen.count("--seconds")) o.seconds = 15;
    switch (o.command) {
        case Command::Doctor:
        case Command::Search:
        case Command::Demo:
            if (!positional.empty())
                return fail(std::string(CommandName(o.command)) + " takes no arguments: '" +
                            positional[0] + "'");
            break;
        case Command::Reboot:
        case Command::Reset:
            if (positional.empty()) return fail("give the MAC address of at least one device");
            if (auto e = takeMacs(positional); !e.empty()) return fail(e);
            break;
        case Command::Rename:
            if (auto e = takePairs("NAME"); !e.empty()) return fail(e);
            for (const auto& [mac, name] : o.pairs) {
                if (name.empty()) return fail("The device name can not be empty!");
                // The looser of the two name rules; the model's own rule follows once the
                // device is found.
                if (!IsValidDeviceName(name, 1))
                    return fail(std::string(DeviceNameRuleMessage(1)) + " (" + mac + ")");
            }
            break;
        case Command::SetIp: {
            if (!o.rangeEnd.empty() && o.rangeFirst.empty()) return fail("--end needs --range");
            if (!o.rangeFirst.empty()) {
                if (positional.empty()) return fail("give the MAC address of at least one device");
                if (auto e = takeMacs(positional); !e.empty()) return fail(e);
                if (!IsValidIpAddress(o.rangeFirst, false))
                    return fail("The ip address is invalid!");
                if (!o.rangeEnd.empty() && !IsValidIpAddress(o.rangeEnd, false))
                    return fail("The ip address is invalid!");
            } else {
                if (auto e = takePairs("IP"); !e.empty()) return fail(e);
                std::set<std::string> ips;
                for (const auto& [mac, ip] : o.pairs) {
                    if (!IsValidIpAddress(ip, false))
                        return fail("The ip address is invalid! (" + ip + ")");
                    if (!ips.insert(ip).second)
                        return fail("The ip address is already in use, please respecify! (" + ip +
                                    " given twice)");
                }
            }
            if (!o.mask.empty() && !IsValidSubnetMask(o.mask))
                return fail("The subnet mask is invalid!");
            if (!o.gateway.empty() && !IsValidIpAddress(o.gateway, true))
                return fail("The gateway address is invalid!");
            if (!o.dns1.empty() && !IsValidIpAddress(o.dns1, true))
                return fail("The primary DNS Server is invalid!");
            if (!o.dns2.empty() && !IsValidIpAddress(o.dns2, true))
                return fail("The secondary DNS Server is invalid!");
            break;
        }
        case Command::Show:
        case Command::Configure:
            if (auto e = FinishConfigureArguments(o.command == Command::Configure, positional,
                                                  o.configure, o.macs);
                !e.empty())
                return fail(e);
            break;
        case Command::Scan:
        case Command::Bridge:
            if (auto e = CheckBridgeArguments(o, positional); !e.empty()) return fail(e);
            break;
        case Command::Upgrade:
            if (positional.empty()) return fail("give the MAC address of at least one device");
            if (auto e = takeMacs(positional); !e.empty()) return fail(e);
            // Checked here, not after a search of half a minute.
            if (!o.model.empty() && GetModelLabel(GetModelCode(o.model)) != o.model) {
                std::string known;
                for (const auto& m : GetModelLabels()) known += (known.empty() ? "" : ", ") + m;
                return fail("unknown model " + o.model + " (known: " + known + ")");
            }
            if (o.image.empty()) return fail("give the image with --image FILE.bin");
            if (auto e = CheckUpgradeFilePath(o.image); !e.empty()) return fail(e);
            // The dialog would go on with size 0; nobody watches here, so say it now.
            if (UpgradeImageSize(o.image) == 0)
                return fail("cannot read the image " + o.image + " (or it is empty)");
            break;
        case Command::Plan:
            if (auto e = FinishPlanArguments(positional, o.plan); !e.empty()) return fail(e);
            break;
        case Command::None:
            break;
    }
    return r;
}

}  // namespace fd::cli
