#include "rules/wireless_settings.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <cstring>

#include "config/labels.h"
#include "rules/address_rules.h"
#include "rules/country_table.h"

namespace fd {

namespace {

// lang-keys:begin
constexpr const char* kMsgSsidEmpty = "The ssid can not be empty!";
// clang-format off
constexpr const char* kMsgSsidStrict = "SSID maximum allowed 32 bytes, only support combination of Chinese, lowercase letters, 0-9 numbers";
// clang-format on
constexpr const char* kMsgSsidPlain =
    "SSID maximum allowed 32 bytes, only support combination of Chinese, ASCII characters";
constexpr const char* kMsgPsk =
    "Please enter a key for 8~63 ASCII characters or 8~64 HEX characters!";
constexpr const char* kMsgIntervalEmpty = "The key update interval should not be empty!";
constexpr const char* kMsgIntervalRange = "The key update interval range: 60~99999 or 0!";
constexpr const char* kMsgWepHex = "WEP key is invalid! Please enter 10 or 26 HEX characters!";
constexpr const char* kMsgWepAscii = "WEP key is invalid! Please enter 5 or 13 ASCII characters!";
constexpr const char* kMsgWepChars =
    "WEP key includes invalid characters (It should only include 0-9,a-z,A-Z,@,*,- and _.)!";
constexpr const char* kMsgRadiusServer = "Please enter a valid RADIUS Server address!";
constexpr const char* kMsgRadiusPort = "Please specify a valid RADIUS Port!";
constexpr const char* kMsgRadiusKey = "Please enter a key for 1~64 ASCII characters!";
constexpr const char* kMsgPower = "Power value range:%d-%d";
constexpr const char* kMsgWepDefaultKey[4] = {
    "Please enter the WEP key1!", "Please enter the WEP key2!", "Please enter the WEP key3!",
    "Please enter the WEP key4!"};
// lang-keys:end

ListItems Items(std::initializer_list<std::pair<const char*, int>> list) {
    ListItems out;
    for (const auto& [text, value] : list) out.push_back({text, value, false});
    return out;
}

bool HasWideBandwidths(int apType) {
    switch (apType) {
        case 6:
        case 8:
        case 9:
        case 265:
        case 266:
        case 267:
            return true;
        default:
            return false;
    }
}

bool IsAcModel(int apType) {
    return apType == 10 || apType == 11;
}

const char* ChannelListFor(const CountryRow& row, int rfType, int bandwidth) {
    if (rfType == 0) return row.channels24;
    switch (bandwidth) {
        case 1:
            return row.channels40;
        case 3:
        case 6:
        case 7:
            return row.channels80;
        default:
            return row.channels20;
    }
}

bool IsRadarChannel(int channel) {
    return (channel >= 52 && channel <= 64) || (channel >= 100 && channel <= 144);
}

std::string FieldString(const uint8_t* field, std::size_t capacity, uint8_t len) {
    return std::string(FieldText(field, capacity, len));
}

SettingField WepKeyField(int k) {
    static constexpr SettingField kFields[4] = {SettingField::WepKey1, SettingField::WepKey2,
                                                SettingField::WepKey3, SettingField::WepKey4};
    return kFields[k];
}

}  // namespace

int IndexOfValue(const ListItems& items, int value, int fallback) {
    if (items.empty()) return -1;
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i].value == value) return static_cast<int>(i);
    if (fallback < 0) return 0;
    if (fallback >= static_cast<int>(items.size())) return static_cast<int>(items.size()) - 1;
    return fallback;
}

ListItems WithCurrentValue(ListItems items, int value, std::string text) {
    if (!HasValue(items, value)) items.push_back({std::move(text) + " (current)", value, true});
    return items;
}

bool HasValue(const ListItems& items, int value) {
    for (const auto& i : items)
        if (i.value == value) return true;
    return false;
}

// lang-keys:begin
ListItems SecurityModeItems() {
    return Items({{"None", kSecureNone},
                  {"WEP", kSecureWep},
                  {"WPA-PSK", kSecureWpaPsk},
                  {"WPA2-PSK", kSecureWpa2Psk},
                  {"Mixed WPA/WPA2-PSK", kSecureMixedPsk},
                  {"WPA", kSecureWpa},
                  {"WPA2", kSecureWpa2}});
}

ListItems NetworkModeItems(int rfType, int apType) {
    if (rfType == 0) return Items({{"11b", 1}, {"11g", 2}, {"11b/g", 0}, {"11b/g/n", 4}});
    ListItems out = Items({{"11a", 0}, {"11n", 3}, {"11a/n", 1}});
    if (IsAcModel(apType)) out.push_back({"11ac", 2, false});
    return out;
}

ListItems BandwidthItems(int rfType, int apType, int networkMode) {
    if (rfType == 0) {
        if (networkMode == 3 || networkMode == 4)
            return Items({{"Auto", 2}, {"20MHz", 0}, {"40MHz", 1}});
        return Items({{"20MHz", 0}});
    }
    if (HasWideBandwidths(apType) || IsAcModel(apType)) {
        ListItems out =
            Items({{"Auto", 2}, {"10MHz", 4}, {"20MHz", 0}, {"30MHz", 5}, {"40MHz", 1}});
        if (IsAcModel(apType) && networkMode == 2) {
            out.push_back({"50MHz", 6, false});
            out.push_back({"60MHz", 7, false});
            out.push_back({"80MHz", 3, false});
        }
        return out;
    }
    return Items({{"Auto", 2}, {"20MHz", 0}, {"40MHz", 1}});
}

// lang-keys:end

ListItems CountryItems() {
    ListItems out;
    const auto rows = CountryTable();
    for (std::size_t i = 0; i < rows.size(); ++i)
        out.push_back({rows[i].name, static_cast<int>(i), false});
    return out;
}

ListItems ChannelItems(int countryRow, int rfType, int bandwidth, int apType) {
    ListItems out;
    const auto rows = CountryTable();
    if (countryRow < 0 || countryRow >= static_cast<int>(rows.size())) return out;
    const CountryRow& row = rows[static_cast<std::size_t>(countryRow)];
    const bool test = IsTestCountryRow(countryRow);
    std::string_view list = ChannelListFor(row, rfType, bandwidth);
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        const std::string_view entry = list.substr(0, comma);
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
        const int channel = static_cast<int>(LeadingNumber(entry));
        if (channel == 0) {
            out.push_back({"Auto", 0, false});
            continue;
        }
        if (!test && IsRadarChannel(channel)) continue;
        if (test && IsAcModel(apType) &&
            (channel == 8 || channel == 179 || channel == 181 || channel == 188))
            continue;
        out.push_back({std::to_string(channel), channel, true});
    }
    return out;
}

ExtensionChannels ExtensionChannelItems(int rfType, int networkMode, int bandwidth, int channel,
                                        std::size_t channelCount, std::optional<int> requested) {
    ExtensionChannels out;
    if (rfType != 0 || networkMode != 4 || bandwidth == 0 || channel == 0) return out;
    out.enabled = true;
    const int n = static_cast<int>(channelCount);
    auto below = ListItem{std::to_string(channel - 4), 0, true};
    auto above = ListItem{std::to_string(channel + 4), 1, true};
    if (channel >= 1 && channel <= 4) {
        out.items = {above};
    } else if (channel > n - 5) {
        out.items = {below};
    } else {
        out.items = {below, above};
    }
    out.selected = 0;
    if (out.items.size() == 2 && requested) out.selected = IndexOfValue(out.items, *requested, 0);
    return out;
}

// lang-keys:begin
ListItems PskCipherItems() {
    return Items({{"AES", 0}, {"TKIP", 1}, {"TKIP&&AES", 2}});
}
ListItems WpaEncryptionItems() {
    return Items({{"AES", 0}, {"TKIP", 1}, {"AES/TKIP", 2}});
}
ListItems WepAuthItems() {
    return Items({{"Open", 0}, {"Share", 1}});
}
ListItems WepDefaultKeyItems() {
    return Items({{"Key 1", 1}, {"Key 2", 2}, {"Key 3", 3}, {"Key 4", 4}});
}
ListItems WepKeyFormatItems() {
    return Items({{"ASCII", 0}, {"Hex", 1}});
}

// lang-keys:end

std::string PowerRangeLabel(int minPower, int maxPower) {
    return "(" + std::to_string(minPower) + "-" + std::to_string(maxPower) + ")";
}

bool NetworkModeRefillsChannels(int workMode) {
    return workMode != WORK_MODE_WISP;
}

bool BandwidthRefillsChannels(int workMode) {
    return workMode != WORK_MODE_STATION && workMode != WORK_MODE_UNIVERSAL_REPEATER &&
           workMode != WORK_MODE_WISP;
}

bool IsHexString(std::string_view text) {
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    return true;
}

bool IsAsciiString(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) > 0x7F) return false;
    return true;
}

long long LeadingNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        if (value < 1'000'000'000'000LL) value = value * 10 + (text[i] - '0');
    return negative ? -value : value;
}

RuleFailure CheckSsid(std::string_view utf8, int apType) {
    if (utf8.empty()) return Refuse(kMsgSsidEmpty, SettingField::Ssid);
    if (!IsValidDeviceName(utf8, apType))
        return Refuse(HasStrictDeviceName(apType) ? kMsgSsidStrict : kMsgSsidPlain,
                      SettingField::Ssid);
    return {};
}

RuleFailure CheckPskKey(std::string_view text) {
    const bool ok = text.size() >= 8 && text.size() <= 64 && IsAsciiString(text) &&
                    (text.size() < 64 || IsHexString(text));
    return ok ? RuleFailure{} : Refuse(kMsgPsk, SettingField::PskKey);
}

RuleFailure CheckKeyInterval(std::string_view text, SettingField field) {
    if (text.empty()) return Refuse(kMsgIntervalEmpty, field);
    const long long v = LeadingNumber(text);
    if (v == 0 || (v >= 60 && v <= 99999)) return {};
    return Refuse(kMsgIntervalRange, field);
}

RuleFailure CheckWepKey(std::string_view text, bool isHex, SettingField field) {
    if (isHex) {
        if ((text.size() == 10 || text.size() == 26) && IsHexString(text)) return {};
        return Refuse(kMsgWepHex, field, true);
    }
    if (text.size() != 5 && text.size() != 13) return Refuse(kMsgWepAscii, field, true);
    for (char c : text) {
        const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                        (c >= 'A' && c <= 'Z') || c == '@' || c == '*' || c == '-' || c == '_';
        if (!ok) return Refuse(kMsgWepChars, field, true);
    }
    return {};
}

RuleFailure CheckRadius(std::string_view server, std::string_view port) {
    // Read strictly: a loose reading would send "10.300.0.5" as 10.44.0.5.
    const auto read = ParseIpv4(server);
    if (!read) return Refuse(kMsgRadiusServer, SettingField::RadiusServer);
    IpBytes b;
    IpFromValue(*read, b.data());
    if (b[0] == 0 || b[0] == 127 || b[0] >= 224 || b[3] == 0 || b[3] == 255)
        return Refuse(kMsgRadiusServer, SettingField::RadiusServer);
    const long long p = LeadingNumber(port.empty() ? std::string_view("0") : port);
    if (p < 1 || p > 65535) return Refuse(kMsgRadiusPort, SettingField::RadiusPort);
    return {};
}

RuleFailure CheckRadiusKey(std::string_view text) {
    if (text.empty() || text.size() > 64 || !IsAsciiString(text))
        return Refuse(kMsgRadiusKey, SettingField::RadiusKey);
    return {};
}

ListItems ChannelChoices(const ap_info_stu& rec, int countryRow, int bandwidth) {
    ListItems items = ChannelItems(countryRow, rec.rf_type, bandwidth, rec.ap_type);
    if (items.empty()) items.push_back({"Auto", 0, false});
    const int ownRow = CountryRowOfCodeNumber(rec.country_code);
    const bool own = countryRow == (ownRow >= 0 ? ownRow : kCurrentCountryRow) &&
                     bandwidth == rec.bandwidth;
    if (own) items = WithCurrentValue(std::move(items), rec.channel, std::to_string(rec.channel));
    return items;
}

WirelessForm WirelessFormFromRecord(const ap_info_stu& rec) {
    WirelessForm f;
    f.ssid = FieldString(rec.ssid, sizeof rec.ssid, rec.ssid_len);
    f.hideSsid = rec.ssid_hide != 0;
    // Each list stands on the device's own value, listed or not: a value the lists do not
    // offer (a radar channel, a country without a row) is shown as the current entry and
    // kept, never replaced by a default the user did not choose.
    f.networkMode = rec.network_mode;
    f.bandwidth = rec.bandwidth;
    const int row = CountryRowOfCodeNumber(rec.country_code);
    f.countryRow = row >= 0 ? row : kCurrentCountryRow;
    f.channel = rec.channel;
    const ListItems channels = ChannelItems(f.countryRow, rec.rf_type, f.bandwidth, rec.ap_type);
    const ExtensionChannels ext = ExtensionChannelItems(
        rec.rf_type, f.networkMode, f.bandwidth, f.channel, channels.size(), rec.expand_channel);
    f.extensionChannel =
        ext.selected >= 0 ? ext.items[static_cast<std::size_t>(ext.selected)].value : -1;
    f.power = std::to_string(rec.tx_power);
    f.secureMode = rec.secure_mode;

    f.pskCipher = rec.wpapsk_auth_type <= 2 ? rec.wpapsk_auth_type : 0;
    f.pskKey =
        FieldString(rec.wpapsk_key_value, sizeof rec.wpapsk_key_value, rec.wpapsk_key_value_len);
    f.pskInterval = std::to_string(rec.wpapsk_key_time);

    f.wepAuth = rec.wep_auth_type <= 1 ? rec.wep_auth_type : 0;
    f.wepDefaultKey = rec.wep_key_index >= 1 && rec.wep_key_index <= 4 ? rec.wep_key_index : 1;
    const uint8_t* types[4] = {&rec.wep_key_type0, &rec.wep_key_type1, &rec.wep_key_type2,
                               &rec.wep_key_type3};
    const uint8_t* values[4] = {rec.wep_key_value0, rec.wep_key_value1, rec.wep_key_value2,
                                rec.wep_key_value3};
    const uint8_t* lengths[4] = {&rec.wep_key_value0_len, &rec.wep_key_value1_len,
                                 &rec.wep_key_value2_len, &rec.wep_key_value3_len};
    for (int k = 0; k < 4; ++k) {
        f.wepKeyFormats[k] = *types[k] == 1 ? 1 : 0;
        f.wepKeys[k] = FieldString(values[k], 26, *lengths[k]);
    }

    f.wpaEncryption = rec.wpa_auth_type <= 2 ? rec.wpa_auth_type : 0;
    f.radiusServer = IpToText(rec.wpa_radius_ip);
    f.radiusPort = std::to_string(rec.wpa_radius_port);
    f.radiusKey = FieldString(rec.wpa_key, sizeof rec.wpa_key, rec.wpa_key_len);
    f.radiusInterval = std::to_string(rec.wpa_key_time);
    return f;
}

WirelessCollect CollectWireless(const ap_info_stu& rec, const WirelessForm& f) {
    WirelessCollect out;
    if (auto e = CheckSsid(f.ssid, rec.ap_type); e.Failed()) {
        out.failure = e;
        return out;
    }
    const long long power = LeadingNumber(f.power);
    if (f.power.empty() || power < rec.tx_power_min || power > rec.tx_power_max) {
        out.failure = Refuse(kMsgPower, SettingField::Power);
        out.failure.args = {rec.tx_power_min, rec.tx_power_max};
        return out;
    }
    if (f.secureMode == kSecureWep) {
        for (int k = 0; k < 4; ++k) {
            if (f.wepKeys[k].empty()) continue;
            if (auto e = CheckWepKey(f.wepKeys[k], f.wepKeyFormats[k] == 1, WepKeyField(k));
                e.Failed()) {
                out.failure = e;
                return out;
            }
        }
        const int d = f.wepDefaultKey >= 1 && f.wepDefaultKey <= 4 ? f.wepDefaultKey - 1 : 0;
        if (f.wepKeys[d].empty()) {
            out.failure = Refuse(kMsgWepDefaultKey[d], WepKeyField(d), true);
            return out;
        }
    } else if (IsPskMode(f.secureMode)) {
        if (auto e = CheckPskKey(f.pskKey); e.Failed()) {
            out.failure = e;
            return out;
        }
        if (auto e = CheckKeyInterval(f.pskInterval, SettingField::PskInterval); e.Failed()) {
            out.failure = e;
            return out;
        }
    } else if (IsRadiusMode(f.secureMode)) {
        for (const RuleFailure& e :
             {CheckRadius(f.radiusServer, f.radiusPort), CheckRadiusKey(f.radiusKey),
              CheckKeyInterval(f.radiusInterval, SettingField::RadiusInterval)}) {
            if (e.Failed()) {
                out.failure = e;
                return out;
            }
        }
    }

    // The block is the record's slice with the form's values written over it; a group of
    // fields the user left as the page showed them keeps the device's bytes as they are.
    const WirelessForm shown = WirelessFormFromRecord(rec);
    const bool radioTouched = f.networkMode != shown.networkMode ||
                              f.bandwidth != shown.bandwidth || f.countryRow != shown.countryRow ||
                              f.channel != shown.channel ||
                              f.extensionChannel != shown.extensionChannel;
    const bool securityTouched =
        f.secureMode != shown.secureMode || f.pskCipher != shown.pskCipher ||
        f.pskKey != shown.pskKey || f.pskInterval != shown.pskInterval ||
        f.wepAuth != shown.wepAuth || f.wepDefaultKey != shown.wepDefaultKey ||
        !std::equal(std::begin(f.wepKeys), std::end(f.wepKeys), std::begin(shown.wepKeys)) ||
        !std::equal(std::begin(f.wepKeyFormats), std::end(f.wepKeyFormats),
                    std::begin(shown.wepKeyFormats)) ||
        f.wpaEncryption != shown.wpaEncryption || f.radiusServer != shown.radiusServer ||
        f.radiusPort != shown.radiusPort || f.radiusKey != shown.radiusKey ||
        f.radiusInterval != shown.radiusInterval;
    ap_info_stu r = rec;
    r.rf_count = 1;
    r.rf_en = 1;
    const auto rows = CountryTable();
    const bool listedRow = f.countryRow >= 0 && f.countryRow < static_cast<int>(rows.size());
    const int row = listedRow ? f.countryRow : CountryRowOfCodeNumber(rec.country_code);
    if (radioTouched) {
        // A country without a row of the table keeps the code the device reports.
        if (listedRow)
            r.country_code = static_cast<uint8_t>(
                CountryCodeNumber(rows[static_cast<std::size_t>(f.countryRow)].code));
        r.network_mode = static_cast<uint8_t>(f.networkMode);
        r.bandwidth = static_cast<uint8_t>(f.bandwidth);
        r.channel = static_cast<uint8_t>(f.channel);
    }
    if (radioTouched && rec.rf_type == 0) {
        r.expand_channel = 2;
        if (f.networkMode == 4 && f.bandwidth == 1 && f.channel != 0) {
            const std::size_t count =
                ChannelItems(row, rec.rf_type, f.bandwidth, rec.ap_type).size();
            const ExtensionChannels ext =
                ExtensionChannelItems(rec.rf_type, f.networkMode, f.bandwidth, f.channel, count);
            const int i = IndexOfValue(ext.items, f.extensionChannel, 0);
            r.expand_channel =
                i >= 0 ? static_cast<uint8_t>(ext.items[static_cast<std::size_t>(i)].value)
                       : uint8_t{2};
        }
    }
    if (f.power != shown.power) r.tx_power = static_cast<uint8_t>(power);
    r.ssid_rf_type = rec.rf_type;
    r.ssid_id = 0;
    r.ssid_hide = f.hideSsid ? 1 : 0;
    SetFieldText(r.ssid, sizeof r.ssid, r.ssid_len, f.ssid);
    if (!securityTouched) {
        // as the device has it
    } else if (r.secure_mode = static_cast<uint8_t>(f.secureMode); IsPskMode(f.secureMode)) {
        r.wpapsk_auth_type = static_cast<uint8_t>(f.pskCipher);
        SetFieldText(r.wpapsk_key_value, sizeof r.wpapsk_key_value, r.wpapsk_key_value_len,
                     f.pskKey);
        r.wpapsk_key_time = static_cast<uint32_t>(LeadingNumber(f.pskInterval));
    } else if (f.secureMode == kSecureWep) {
        r.wep_auth_type = static_cast<uint8_t>(f.wepAuth);
        r.wep_key_index = static_cast<uint8_t>(f.wepDefaultKey);
        uint8_t* types[4] = {&r.wep_key_type0, &r.wep_key_type1, &r.wep_key_type2,
                             &r.wep_key_type3};
        uint8_t* values[4] = {r.wep_key_value0, r.wep_key_value1, r.wep_key_value2,
                              r.wep_key_value3};
        uint8_t* lengths[4] = {&r.wep_key_value0_len, &r.wep_key_value1_len, &r.wep_key_value2_len,
                               &r.wep_key_value3_len};
        for (int k = 0; k < 4; ++k) {
            *types[k] = static_cast<uint8_t>(f.wepKeyFormats[k]);
            SetFieldText(values[k], 26, *lengths[k], f.wepKeys[k]);
        }
    } else if (IsRadiusMode(f.secureMode)) {
        const auto ip = ReadIpField(f.radiusServer).value_or(IpBytes{});  // checked above
        std::memcpy(r.wpa_radius_ip, ip.data(), 4);
        r.wpa_radius_port = static_cast<uint16_t>(LeadingNumber(f.radiusPort));
        r.wpa_auth_type = static_cast<uint8_t>(f.wpaEncryption);
        SetFieldText(r.wpa_key, sizeof r.wpa_key, r.wpa_key_len, f.radiusKey);
        r.wpa_key_time = static_cast<uint32_t>(LeadingNumber(f.radiusInterval));
    }
    r.ssid_count = 1;

    ap_info_stu before = rec;
    before.rf_count = 1;
    before.ssid_count = 1;
    out.block = GetWirelessBlock(r);
    const WirelessBlock old = GetWirelessBlock(before);
    out.changed = std::memcmp(out.block.bytes, old.bytes, sizeof old.bytes) != 0;
    return out;
}

}  // namespace fd
