#include "cli/cli_bridge.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <ostream>
#include <sstream>
#include <thread>

#include "actions/answer_wait.h"
#include "actions/device_workers.h"
#include "actions/bridge_wizard.h"
#include "cli/cli_app.h"
#include "cli/cli_output.h"
#include "cli/cli_session.h"
#include "config/language.h"
#include "presentation/ap_scan_list.h"
#include "presentation/bridge_page.h"
#include "rules/address_rules.h"
#include "rules/bridge_rules.h"

namespace fd::cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kPoll = 50ms;
// After the command left the pending list, how long its answer may still be on its way
// through the engine's worker.

bool Live() {
    return isatty(STDOUT_FILENO) && isatty(STDERR_FILENO);
}

// Finds the device by a search that ends once it is stored.
bool FindDevice(Session& s, const Options& o, ap_info_stu& rec, std::ostream& out,
                std::ostream& err, int& exitCode) {
    std::vector<ap_info_stu> recs;
    // A new address is checked against every device of the segment: search on until no
    // new one answers.
    const int settle = o.command == Command::Bridge && !o.ip.empty() ? InUseSettle(o) : 0;
    exitCode = FindDevices(s, o.macs, o.seconds, recs, out, err, settle);
    if (exitCode != kExitOk || recs.empty()) return false;
    rec = recs.front();
    return true;
}

// Asks the device for its neighbours and waits as the wizard does: until its last result
// packet or 30 s. False when interrupted or when the request cannot leave this PC.
bool Scan(const ap_info_stu& rec, ApScanWait& wait, std::ostream& out, std::ostream& err,
          int& exitCode) {
    const std::string ip = IpToText(rec.ip);
    if (!wait.Start(ip, rec.mac)) {
        out << rec.mac << "  " << ip
            << "  cannot be sent: no adapter of this PC in the device's subnet\n";
        exitCode = kExitDeviceFailed;
        return false;
    }
    const bool live = Live();
    const auto start = Clock::now();
    bool shown = false;
    while (wait.Scanning()) {
        const auto nextTick = start + std::chrono::seconds(wait.Seconds() + 1);
        while (Clock::now() < nextTick) {
            if (g_interrupted) {
                if (shown) err << "\n";
                exitCode = kExitInterrupted;
                return false;
            }
            std::this_thread::sleep_for(kPoll);
        }
        wait.Tick();
        if (live && wait.Scanning()) {
            err << "\rScanning... " << (ApScanWait::kLimitSeconds - wait.Seconds()) << " s left   "
                << std::flush;
            shown = true;
        }
    }
    if (shown) err << "\r" << std::string(40, ' ') << "\r" << std::flush;
    if (!wait.Completed())
        err << "fielddesk-cli: the device did not finish its scan within "
            << ApScanWait::kLimitSeconds << " s; listing what arrived\n";
    return true;
}

std::string FormatScanTable(const std::vector<ScanRow>& rows) {
    std::vector<std::vector<std::string>> lines;
    lines.push_back({"BSSID", "SSID", "Channel", "Signal", "Security", "Bandwidth"});
    for (const ScanRow& r : rows)
        lines.push_back({r.mac, ForTerminal(r.ssid), r.channel, std::to_string(r.signal) + " dBm",
                         r.security, ScanBandwidthLabel(r.bandwidth)});
    std::vector<std::size_t> widths(lines[0].size(), 0);
    for (const auto& l : lines)
        for (std::size_t c = 0; c < l.size(); ++c)
            widths[c] = std::max(widths[c], DisplayWidth(l[c]));
    std::string text;
    for (const auto& l : lines) {
        std::string line;
        for (std::size_t c = 0; c < l.size(); ++c) {
            line += l[c];
            if (c + 1 < l.size()) line += std::string(widths[c] - DisplayWidth(l[c]) + 2, ' ');
        }
        text += line + "\n";
    }
    return text;
}

std::string FormatScanJson(const std::vector<ScanRow>& rows) {
    std::string text = "[";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ScanRow& r = rows[i];
        text += i ? ",\n " : "\n ";
        text += "{\"bssid\": " + JsonString(r.mac) + ", \"ssid\": " + JsonString(r.ssid) +
                ", \"channel\": " + r.channel + ", \"signal\": " + std::to_string(r.signal) +
                ", \"security\": " + JsonString(r.security) +
                ", \"secure_mode\": " + std::to_string(r.secureMode) +
                ", \"bandwidth\": " + JsonString(ScanBandwidthLabel(r.bandwidth)) + "}";
    }
    text += rows.empty() ? "]\n" : "\n]\n";
    return text;
}

int RunScan(Session& s, const Options& o, std::ostream& out, std::ostream& err) {
    int rc = kExitOk;
    ap_info_stu rec{};
    if (!FindDevice(s, o, rec, out, err, rc)) return rc;
    ApScanWait wait(s.Engine(), s.Store());
    if (!Scan(rec, wait, out, err, rc)) return rc;
    ApScanList list(s.Store());
    const auto& rows = list.Reload();
    out << (o.format == Format::Json ? FormatScanJson(rows) : FormatScanTable(rows));
    out.flush();
    return kExitOk;
}

// A WEP key as the devices take it: 10 or 26 hexadecimal digits are a Hex key, anything
// else is read as ASCII.
WepKeyForm WepKeyOf(const std::string& text) {
    bool hex = text.size() == 10 || text.size() == 26;
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c))) hex = false;
    return {text, hex};
}

int Refuse(std::ostream& err, const std::string& key, const std::string& detail = {}) {
    err << "fielddesk-cli: " << GetLangText(key) << (detail.empty() ? "" : " (" + detail + ")")
        << "\nNothing was sent.\n";
    return kExitUsage;
}

int RunBridge(Session& s, const Options& o, std::ostream& out, std::ostream& err) {
    const std::string& mac = o.macs.front();
    int rc = kExitOk;
    ap_info_stu rec{};
    if (!FindDevice(s, o, rec, out, err, rc)) return rc;
    if (const std::string refusal = CheckBridgeWizardOpen(rec); !refusal.empty()) {
        out << mac << "  " << IpToText(rec.ip) << "  " << GetLangText(refusal) << "\n";
        err << "fielddesk-cli: nothing was sent\n";
        return kExitDeviceFailed;
    }

    ApScanWait wait(s.Engine(), s.Store());
    if (!Scan(rec, wait, out, err, rc)) return rc;
    config_otherwl_basic ap{};
    if (!s.Store().QueryOtherApByMac(o.bssid, ap)) {
        OtherApList heard;
        s.Store().QueryOtherApList(4, heard, false);
        out << mac << "  " << IpToText(rec.ip) << "  does not hear " << o.bssid << " ("
            << heard.size() << " access point" << (heard.size() == 1 ? "" : "s")
            << " heard; see 'fielddesk-cli scan " << mac << "')\n";
        err << "fielddesk-cli: nothing was sent\n";
        return kExitDeviceFailed;
    }

    // The security step: prefilled from the access point, the key from the command line.
    const BridgeSecurityView view = PrefillBridgeSecurity(ap.secure_mode, PskCipher::Aes);
    BridgeSecurityForm sec;
    std::copy(std::begin(ap.mac), std::end(ap.mac), sec.apMac.begin());
    sec.ssid = std::string(FieldText(ap.ssid, sizeof ap.ssid, ap.ssid_len));
    // The access point's channel when the station's country and band offer it, else Auto,
    // as the wizard's channel list does.
    sec.channel = 0;
    for (const ChannelItem& item :
         BridgeChannelItems(rec.ap_type, rec.rf_type, rec.country_code, rec.bandwidth, ap.channel))
        if (item.value == ap.channel) sec.channel = ap.channel;
    sec.code = view.code;
    sec.cipher = view.cipher;
    if (view.code == kBridgeSecurityWep) {
        sec.wepKeys[0] = WepKeyOf(o.key);
    } else {
        sec.key = o.key;
    }
    const BridgeSecurityResult secured = CheckBridgeSecurity(sec, rec.ap_type);
    if (!secured.ok()) {
        std::string detail;
        if (view.code != kBridgeSecurityNone && o.key.empty())
            detail = std::string("the access point uses ") + ScanSecurityLabel(ap.secure_mode) +
                     "; give --key";
        return Refuse(err, secured.messageKey, detail);
    }

    // The IP step: the device's own addresses unless given.
    AddressForm addr = BridgeAddressFormFrom(GetIpBlock(rec));
    auto take = [](std::string& field, const std::string& given) {
        if (given == "0.0.0.0")
            field.clear();
        else if (!given.empty())
            field = given;
    };
    if (!o.ip.empty()) addr.ip = o.ip;
    if (!o.mask.empty()) addr.mask = o.mask;
    take(addr.gateway, o.gateway);
    take(addr.dns1, o.dns1);
    take(addr.dns2, o.dns2);
    const std::vector<std::string> used = AddressesInUse(s.Store());
    const BridgeIpResult addressed = CheckBridgeIp(addr, IpToText(rec.ip), used);
    if (!addressed.ok()) {
        std::string detail;
        if (addressed.code == RuleCode::GatewayOutsideSubnet && o.gateway.empty())
            detail = "the device's gateway " + addr.gateway + "; give --gateway";
        return Refuse(err, addressed.messageKey, detail);
    }

    const BridgeConfigBody body = MakeBridgeBody(secured.block, addressed.block);
    const std::string ip = IpToText(rec.ip);
    const uint64_t sentAfter = s.Commands().LastSeq();
    if (!s.Engine().SendToDevice(ip, CMD_BRIDGE_CONFIG, &body, static_cast<int>(sizeof body), mac,
                                 true)) {
        out << mac << "  " << ip
            << "  cannot be sent: no adapter of this PC in the device's subnet\n";
        return kExitDeviceFailed;
    }

    const Answer a =
        AwaitAnswer(s.Commands(), mac, CMD_BRIDGE_CONFIG, sentAfter,
                    Clock::now() + s.Retransmission().AnswerDeadline(), [] { return g_interrupted != 0; });
    const std::string target = o.bssid + " (" + ForTerminal(sec.ssid) + ")";
    switch (a.outcome) {
        case AnswerOutcome::Acknowledged:
        case AnswerOutcome::Refused:
            if (a.result != 0) {
                out << mac << "  " << ip << "  refused the link to " << target << " (result "
                    << int(a.result) << ")\n";
                return kExitDeviceFailed;
            }
            out << mac << "  " << ip << "  " << GetLangText("Bridge success") << ": station of "
                << target << (addr.ip != ip ? ", now " + addr.ip : std::string()) << "\n";
            if (o.verify) {
                // The station reports the access point it joined and the addresses it took.
                if (!VerifyAndReport(s, mac, addr.ip, ExpectedAfterBridge(rec, body),
                                     {SettingGroup::Bridge, SettingGroup::Address}, {}, 0, out))
                    return g_interrupted ? kExitInterrupted : kExitDeviceFailed;
            }
            return kExitOk;
        case AnswerOutcome::Interrupted:
            out << mac << "  " << ip << "  interrupted\n";
            return kExitInterrupted;
        case AnswerOutcome::NotSent:
        case AnswerOutcome::NoAnswer:
            break;
    }
    out << mac << "  " << ip << "  no answer\n";
    return kExitDeviceFailed;
}

}  // namespace

int RunBridgeCommand(Session& s, const Options& o, std::ostream& out, std::ostream& err) {
    return o.command == Command::Scan ? RunScan(s, o, out, err) : RunBridge(s, o, out, err);
}

bool ParseBridgeOption(Command c, const std::string& arg,
                       const std::function<bool(std::string&)>& takeValue, Options& o,
                       std::string& error) {
    if (c == Command::Scan && arg == "--json") {
        o.format = Format::Json;
        return true;
    }
    if (c != Command::Bridge) return false;
    if (arg == "--bssid") {
        std::string v;
        auto mac = takeValue(v) ? NormalizeMac(v) : std::nullopt;
        if (!mac) {
            error = "--bssid takes the MAC address of the access point";
        } else {
            o.bssid = *mac;
        }
        return true;
    }
    if (arg == "--key") {
        if (!takeValue(o.key)) error = "--key takes the access point's key";
        return true;
    }
    std::string* field = arg == "--ip"        ? &o.ip
                         : arg == "--mask"    ? &o.mask
                         : arg == "--gateway" ? &o.gateway
                         : arg == "--dns1"    ? &o.dns1
                         : arg == "--dns2"    ? &o.dns2
                                              : nullptr;
    if (!field) return false;
    if (!takeValue(*field) || field->empty()) error = arg + " takes an address";
    return true;
}

std::string CheckBridgeArguments(Options& o, const std::vector<std::string>& positional) {
    const char* name = CommandName(o.command);
    if (positional.size() != 1)
        return "give the MAC address of one device (fielddesk-cli " + std::string(name) + " MAC)";
    auto mac = NormalizeMac(positional[0]);
    if (!mac) return "not a MAC address: '" + positional[0] + "'";
    o.macs.push_back(*mac);
    if (o.command != Command::Bridge) return {};
    if (o.bssid.empty()) return "give the access point to join with --bssid";
    if (!o.ip.empty() && !IsValidIpAddress(o.ip, false)) return "The ip address is invalid!";
    if (!o.mask.empty() && !IsValidSubnetMask(o.mask)) return "The subnet mask is invalid!";
    if (!o.gateway.empty() && !IsValidIpAddress(o.gateway, true))
        return "The gateway address is invalid!";
    return {};
}

std::string BridgeCommandHelp(Command c) {
    if (c == Command::Scan)
        return "Usage: fielddesk-cli scan MAC [--json] [--seconds N]\n"
               "\n"
               "Asks the device for the access points it hears and lists them, strongest\n"
               "signal first: BSSID, SSID, channel, signal in dBm, security and bandwidth.\n"
               "The device is found by a search first; its scan ends with its last result\n"
               "packet or after 30 s with what arrived.\n"
               "\n"
               "Options:\n"
               "  --json          print a JSON array (keys: bssid, ssid, channel, signal,\n"
               "                  security, secure_mode, bandwidth)\n"
               "  --seconds N     the longest search for the device (default 30)\n";
    return "Usage: fielddesk-cli bridge STATION-MAC --bssid AP-MAC [--key KEY]\n"
           "                            [--ip IP] [--mask M] [--gateway G] [--dns1 D]\n"
           "                            [--dns2 D] [--seconds N]\n"
           "\n"
           "Makes the device a station linked to the access point AP-MAC, as the bridge\n"
           "wizard does: the device scans, the access point must be among those it hears,\n"
           "its SSID, channel and security are taken from the scan, and the key is checked\n"
           "(WPA kinds: 8-63 ASCII characters or 64 hex digits; WEP: 5 or 13 characters or\n"
           "10 or 26 hex digits). Addresses not given are kept from the device; an address\n"
           "another found device has is refused. Nothing is sent when a check fails. The\n"
           "device answers whether it accepted the link.\n"
           "\n"
           "Options:\n"
           "  --bssid AP-MAC  the access point to join (see 'fielddesk-cli scan')\n"
           "  --key KEY       its key\n"
           "  --ip, --mask, --gateway, --dns1, --dns2  the station's addresses; a gateway\n"
           "                  of 0.0.0.0 means none\n"
           "  --seconds N     the longest search for the device (default 30)\n" +
           std::string(kVerifyNote);
}

}  // namespace fd::cli
