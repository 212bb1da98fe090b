#include "rules/configure_request.h"

#include <algorithm>
#include <cctype>

#include "rules/configuration_fields.h"
#include "rules/country_table.h"
#include "rules/wireless_settings.h"
#include "wire/utf8.h"

namespace fd {

namespace {

// ---- option table ----

using Tab = ConfigureTab;
using OptionInfo = ConfigureOptionInfo;

constexpr OptionInfo kOptions[] = {
    {"name", Tab::Ip, "TEXT", "device name (32 bytes of UTF-8 at most)"},
    {"ip", Tab::Ip, "ADDRESS", "new address (sent last)"},
    {"mask", Tab::Ip, "MASK", "subnet mask"},
    {"gateway", Tab::Ip, "ADDRESS", "gateway; 0.0.0.0 for none"},
    {"dns1", Tab::Ip, "ADDRESS", "primary DNS server; 0.0.0.0 for none"},
    {"dns2", Tab::Ip, "ADDRESS", "secondary DNS server; 0.0.0.0 for none"},
    {"ssid", Tab::Wireless, "TEXT", "network name (32 bytes of UTF-8 at most)"},
    {"hide-ssid", Tab::Wireless, "SWITCH", "on or off: hide the network name"},
    {"mode", Tab::Wireless, "MODE",
     "network mode: 11b, 11g, 11b/g, 11b/g/n (2.4 GHz);\n"
     "                        11a, 11n, 11a/n, 11ac (5 GHz; 11ac on models 10, 11)"},
    {"bandwidth", Tab::Wireless, "WIDTH",
     "auto, 20, 40; 5 GHz models 6, 8-11, 265-267 also 10, 30;\n"
     "                        models 10, 11 in 11ac also 50, 60, 80 (MHz)"},
    {"country", Tab::Wireless, "COUNTRY", "code or name, e.g. US or \"United States\" (see show)"},
    {"channel", Tab::Wireless, "CHANNEL",
     "auto, or a channel the country allows at the bandwidth;\n"
     "                        radar channels 52-64 and 100-144 only in country Test"},
    {"ext-channel", Tab::Wireless, "SIDE",
     "below or above: the 40 MHz extension channel (2.4 GHz,\n"
     "                        11b/g/n, 40 MHz)"},
    {"power", Tab::Wireless, "N", "transmit power within the device's range"},
    {"security", Tab::Wireless, "SECURITY",
     "none, wep, wpa-psk, wpa2-psk, wpa-wpa2-psk, wpa, wpa2"},
    {"key", Tab::Wireless, "TEXT",
     "the key of the security mode: WPA passphrase (8-63\n"
     "                        characters or 64 hex digits), WEP default key (5 or 13\n"
     "                        characters, or 10 or 26 hex digits), or RADIUS key (1-64)"},
    {"cipher", Tab::Wireless, "CIPHER", "aes, tkip or tkip+aes: the WPA cipher"},
    {"key-interval", Tab::Wireless, "SECONDS", "key update interval: 0 or 60-99999"},
    {"wep-auth", Tab::Wireless, "AUTH", "open or shared: the WEP authentication"},
    {"wep-default-key", Tab::Wireless, "N", "1-4: which WEP key is used (--key sets it)"},
    {"wep-key-format", Tab::Wireless, "FORMAT",
     "ascii or hex: the format of the WEP key given with --key"},
    {"radius-server", Tab::Wireless, "ADDRESS", "RADIUS server (wpa, wpa2)"},
    {"radius-port", Tab::Wireless, "PORT", "RADIUS port, 1-65535"},
    {"vlan", Tab::Vlan, "VLAN",
     "on or off; an id (1-4094) switches it on and sets the\n"
     "                        management VLAN"},
    {"vlan-wlan", Tab::Vlan, "ID", "WLAN VLAN"},
    {"pvid", Tab::Vlan, "ID", "PVID (models 10, 11)"},
    {"lan", Tab::Vlan, "ID", "LAN VLAN (model 11) or LAN2 VLAN (model 10)"},
    {"lan3", Tab::Vlan, "ID", "LAN3 VLAN (model 10)"},
    {"lan4", Tab::Vlan, "ID", "LAN4 VLAN (model 10)"},
    {"reboot", Tab::Reboot, "SWITCH", "off: switch the timed reboot off"},
    {"reboot-at", Tab::Reboot, "HH:MM", "reboot at this time on the days of --days"},
    {"days", Tab::Reboot, "DAYS", "mon,tue,wed,thu,fri,sat,sun or everyday"},
};

const OptionInfo* FindOption(std::string_view name) {
    for (const auto& o : kOptions)
        if (name == o.name) return &o;
    return nullptr;
}

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

constexpr const char* kDayNames[7] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};

// The value's shape, where it can be judged without the device. Ranges are left to the
// collect steps so that their messages are the dialog's.
std::string CheckValue(const std::string& name, const std::string& v) {
    const std::string l = AsciiLower(v);
    auto oneOf = [&](std::initializer_list<const char*> allowed) {
        for (const char* a : allowed)
            if (l == a) return std::string();
        std::string list;
        for (const char* a : allowed) list += std::string(list.empty() ? "" : ", ") + a;
        return "--" + name + " takes " + list + ", not '" + v + "'";
    };
    if (name == "hide-ssid") return oneOf({"on", "off"});
    if (name == "security")
        return oneOf({"none", "wep", "wpa-psk", "wpa2-psk", "wpa-wpa2-psk", "wpa", "wpa2"});
    if (name == "cipher") return oneOf({"aes", "tkip", "tkip+aes", "aes+tkip"});
    if (name == "wep-auth") return oneOf({"open", "shared"});
    if (name == "wep-key-format") return oneOf({"ascii", "hex"});
    if (name == "wep-default-key") return oneOf({"1", "2", "3", "4"});
    if (name == "ext-channel") return oneOf({"below", "above"});
    if (name == "reboot") return oneOf({"off"});
    if (name == "vlan" && l != "on" && l != "off" && !AllDigits(v))
        return "--vlan takes on, off or a VLAN id, not '" + v + "'";
    if ((name == "power" || name == "key-interval" || name == "radius-port" ||
         name == "vlan-wlan" || name == "pvid" || name == "lan" || name == "lan3" ||
         name == "lan4") &&
        !AllDigits(v))
        return "--" + name + " takes a number, not '" + v + "'";
    if (name == "channel" && l != "auto" && !AllDigits(v))
        return "--channel takes auto or a channel number, not '" + v + "'";
    if (name == "reboot-at") {
        const auto colon = v.find(':');
        if (colon == std::string::npos || !AllDigits(v.substr(0, colon)) ||
            !AllDigits(v.substr(colon + 1)))
            return "--reboot-at takes a time as HH:MM, not '" + v + "'";
    }
    if (name == "days" && l != "everyday") {
        std::string rest = l;
        while (!rest.empty()) {
            const auto comma = rest.find(',');
            const std::string day = rest.substr(0, comma);
            rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
            if (day.empty()) continue;
            if (std::find_if(std::begin(kDayNames), std::end(kDayNames),
                             [&](const char* d) { return day == d; }) == std::end(kDayNames))
                return "--days takes mon,tue,wed,thu,fri,sat,sun or everyday, not '" + day + "'";
        }
    }
    return {};
}

// ---- list words ----


std::optional<int> ValueOfWord(const ListItems& items, const std::string& text) {
    std::string w = AsciiLower(text);
    if (w.size() > 3 && w.compare(w.size() - 3, 3, "mhz") == 0) w.resize(w.size() - 3);
    for (const auto& i : items) {
        // The device's own value, listed as "100 (current)", is named by its number too.
        std::string word = ListWord(i);
        if (const auto mark = word.find(" (current)"); mark != std::string::npos)
            word.resize(mark);
        if (word == w) return i.value;
    }
    return std::nullopt;
}

std::string Words(const ListItems& items) {
    std::string out;
    for (const auto& i : items) out += (out.empty() ? "" : ", ") + ListWord(i);
    return out;
}



int SecurityOfWord(const std::string& w) {
    for (int m = 0; m <= 6; ++m)
        if (AsciiLower(w) == SecurityWord(m)) return m;
    return 0;
}

std::string CountryWord(int row) {
    const auto rows = CountryTable();
    if (row < 0 || row >= static_cast<int>(rows.size())) return "the device's country";
    return std::string(rows[static_cast<std::size_t>(row)].code) + " (" +
           rows[static_cast<std::size_t>(row)].name + ")";
}

}  // namespace

std::span<const ConfigureOptionInfo> ConfigureOptionTable() {
    return kOptions;
}

// ---- parsing ----

std::optional<std::string> ParseConfigureOption(bool configure, const std::string& arg,
                                                const std::function<bool(std::string&)>& takeValue,
                                                ConfigureOptions& options) {
    if (!configure) {
        if (arg != "--json") return std::nullopt;
        options.json = true;
        return std::string();
    }
    if (arg.rfind("--", 0) != 0) return std::nullopt;
    const std::string name = arg.substr(2);
    if (!FindOption(name)) return std::nullopt;
    std::string v;
    if (!takeValue(v)) return "--" + name + " needs a value";
    if (auto e = CheckValue(name, v); !e.empty()) return e;
    options.values[name] = v;
    return std::string();
}

// ---- forms ----

ConfigureRequest BuildConfigureForms(const ap_info_stu& rec, const ConfigureOptions& o) {
    ConfigureRequest req;
    auto has = [&](Tab tab) {
        for (const auto& [name, value] : o.values)
            if (FindOption(name)->tab == tab) return true;
        return false;
    };
    auto get = [&](const char* name) { return o.Get(name); };
    auto fail = [&](std::string e) {
        req.error = std::move(e);
        req.forms = {};
        return req;
    };

    if (has(Tab::Ip)) {
        IpSettingsForm f = IpSettingsFormFromRecord(rec);
        if (auto v = get("name")) f.name = *v;
        if (auto v = get("ip")) f.ip = *v;
        if (auto v = get("mask")) f.mask = *v;
        if (auto v = get("gateway")) f.gateway = *v;
        if (auto v = get("dns1")) f.dns1 = *v;
        if (auto v = get("dns2")) f.dns2 = *v;
        req.forms.ip = f;
    }

    if (has(Tab::Wireless)) {
        WirelessForm f = WirelessFormFromRecord(rec);
        const int rf = rec.rf_type;
        const int ap = rec.ap_type;
        if (auto v = get("ssid")) f.ssid = *v;
        if (auto v = get("hide-ssid")) f.hideSsid = AsciiLower(*v) == "on";
        if (auto v = get("power")) f.power = *v;

        const ListItems modes = NetworkModeItems(rf, ap);
        if (auto v = get("mode")) {
            auto m = ValueOfWord(modes, *v);
            if (!m)
                return fail("--mode " + *v + " is not offered by this radio (" + Words(modes) +
                            ")");
            f.networkMode = *m;
        }
        const ListItems widths = BandwidthItems(rf, ap, f.networkMode);
        if (auto v = get("bandwidth")) {
            auto b = ValueOfWord(widths, *v);
            if (!b)
                return fail("--bandwidth " + *v + " is not offered in this mode (" + Words(widths) +
                            ")");
            f.bandwidth = *b;
        } else if (f.networkMode != rec.network_mode && !HasValue(widths, f.bandwidth)) {
            return fail("the device's bandwidth is not offered in mode " + *get("mode") +
                        "; give --bandwidth (" + Words(widths) + ")");
        }
        if (auto v = get("country")) {
            const int row = FindCountryRow(*v);
            if (row < 0) return fail("unknown country '" + *v + "' (see fielddesk-cli show)");
            f.countryRow = row;
        }
        // The device's own channel counts as offered while its country and bandwidth stay:
        // a radar channel or a country without a row is kept when nothing radio is asked.
        const ListItems channels = ChannelChoices(rec, f.countryRow, f.bandwidth);
        const std::string where = " for " + CountryWord(f.countryRow) + " at " +
                                  ListWordOfValue(widths, f.bandwidth) +
                                  (f.bandwidth == 2 || rf == 0 ? "" : " MHz");
        if (auto v = get("channel")) {
            auto c = ValueOfWord(channels, *v);
            if (!c)
                return fail("channel " + *v + " is not offered" + where + " (" + Words(channels) +
                            ")");
            f.channel = *c;
        } else if (!HasValue(channels, f.channel)) {
            return fail("the device's channel " + std::to_string(rec.channel) + " is not offered" +
                        where + "; give --channel (" + Words(channels) + ")");
        }
        const ExtensionChannels ext = ExtensionChannelItems(
            rf, f.networkMode, f.bandwidth, f.channel, channels.size(), rec.expand_channel);
        f.extensionChannel =
            ext.selected >= 0 ? ext.items[static_cast<std::size_t>(ext.selected)].value : -1;
        if (auto v = get("ext-channel")) {
            const int want = AsciiLower(*v) == "above" ? 1 : 0;
            if (!ext.enabled || f.bandwidth != 1)
                return fail(
                    "--ext-channel applies to the 2.4 GHz radio in 11b/g/n at 40 MHz "
                    "on a chosen channel");
            if (!HasValue(ext.items, want))
                return fail("channel " + std::to_string(f.channel) + " has no extension channel " +
                            AsciiLower(*v) + " it");
            f.extensionChannel = want;
        }

        if (auto v = get("security")) f.secureMode = SecurityOfWord(*v);
        const int mode = f.secureMode;
        auto needs = [&](const char* name, bool ok, const char* modes) -> std::string {
            if (o.Has(name) && !ok)
                return std::string("--") + name + " applies to --security " + modes;
            return {};
        };
        for (const std::string& e : {needs("cipher", IsPskMode(mode) || IsRadiusMode(mode),
                                           "wpa-psk, wpa2-psk, wpa-wpa2-psk, wpa or wpa2"),
                                     needs("key", mode != kSecureNone,
                                           "wep, wpa-psk, wpa2-psk, wpa-wpa2-psk, wpa or wpa2"),
                                     needs("key-interval", IsPskMode(mode) || IsRadiusMode(mode),
                                           "wpa-psk, wpa2-psk, wpa-wpa2-psk, wpa or wpa2"),
                                     needs("wep-auth", mode == kSecureWep, "wep"),
                                     needs("wep-default-key", mode == kSecureWep, "wep"),
                                     needs("wep-key-format", mode == kSecureWep, "wep"),
                                     needs("radius-server", IsRadiusMode(mode), "wpa or wpa2"),
                                     needs("radius-port", IsRadiusMode(mode), "wpa or wpa2")}) {
            if (!e.empty()) return fail(e);
        }
        if (auto v = get("cipher")) {
            const std::string c = AsciiLower(*v);
            const int value = c == "aes" ? 0 : c == "tkip" ? 1 : 2;
            if (IsPskMode(mode))
                f.pskCipher = value;
            else
                f.wpaEncryption = value;
        }
        if (auto v = get("key-interval")) (IsPskMode(mode) ? f.pskInterval : f.radiusInterval) = *v;
        if (auto v = get("wep-auth")) f.wepAuth = AsciiLower(*v) == "shared" ? 1 : 0;
        if (auto v = get("wep-default-key")) f.wepDefaultKey = std::stoi(*v);
        const int k = f.wepDefaultKey >= 1 && f.wepDefaultKey <= 4 ? f.wepDefaultKey - 1 : 0;
        if (auto v = get("wep-key-format")) f.wepKeyFormats[k] = AsciiLower(*v) == "hex" ? 1 : 0;
        if (auto v = get("key")) {
            if (IsPskMode(mode))
                f.pskKey = *v;
            else if (mode == kSecureWep)
                f.wepKeys[k] = *v;
            else
                f.radiusKey = *v;
        }
        if (auto v = get("radius-server")) f.radiusServer = *v;
        if (auto v = get("radius-port")) f.radiusPort = *v;
        req.forms.wireless = f;
    }

    if (has(Tab::Vlan)) {
        VlanForm f = VlanFormFromRecord(rec);
        const VlanFields fields = VlanFieldsOf(rec.ap_type);
        if (auto v = get("vlan")) {
            const std::string l = AsciiLower(*v);
            if (l == "off") {
                f.enabled = false;
            } else {
                f.enabled = true;
                if (l != "on") f.manage = *v;
            }
        }
        if ((o.Has("pvid") || o.Has("lan")) && !fields.pvid)
            return fail("this model has no PVID or LAN VLAN (models 10 and 11 have)");
        if ((o.Has("lan3") || o.Has("lan4")) && fields.lanPorts < 3)
            return fail("this model has no LAN3 or LAN4 VLAN (model 10 has)");
        const bool ids =
            o.Has("vlan-wlan") || o.Has("pvid") || o.Has("lan") || o.Has("lan3") || o.Has("lan4");
        if (!f.enabled && ids) return fail("VLAN ids need the VLAN switched on (--vlan on)");
        if (auto v = get("vlan-wlan")) f.wlan = *v;
        if (auto v = get("pvid")) f.pvid = *v;
        if (auto v = get("lan")) f.lan2 = *v;
        if (auto v = get("lan3")) f.lan3 = *v;
        if (auto v = get("lan4")) f.lan4 = *v;
        req.forms.vlan = f;
    }

    if (has(Tab::Reboot)) {
        TimedRebootForm f = TimedRebootFormFromRecord(rec);
        if (o.Has("reboot")) {
            f.enabled = false;
        } else {
            f.enabled = true;
            if (auto v = get("reboot-at")) {
                const auto colon = v->find(':');
                f.hour = v->substr(0, colon);
                f.minute = v->substr(colon + 1);
            }
            if (auto v = get("days")) {
                f.days = {};
                f.everyday = AsciiLower(*v) == "everyday";
                for (std::size_t d = 0; d < 7; ++d) {
                    const std::string l = "," + AsciiLower(*v) + ",";
                    f.days[d] = l.find("," + std::string(kDayNames[d]) + ",") != std::string::npos;
                }
            }
        }
        req.forms.reboot = f;
    }
    return req;
}

}  // namespace fd
