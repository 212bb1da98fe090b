#pragma once
// The wireless settings of one device: the choices its lists offer (by radio band, model and
// network mode), the channels a country allows at a bandwidth, the rules for SSID, keys and
// RADIUS server, and the collect step that turns the filled-in form into the 328-byte
// wireless block of command 4.
//
// The configuration dialog and `fielddesk-cli configure` fill a WirelessForm (starting from
// WirelessFormFromRecord) and call CollectWireless; the bridge wizard reuses the channel
// lists and the key rules.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rules/rule_failure.h"
#include "wire/packet.h"

namespace fd {

// One entry of a drop-down list: its text and its item value. The text is a language key,
// except for channel numbers, which are shown as they are.
struct ListItem {
    std::string text;
    int value = 0;
    bool literal = false;  // shown without translation

    bool operator==(const ListItem&) const = default;
};
using ListItems = std::vector<ListItem>;

// The index of the item whose value is `value`, else `fallback` (clamped to the list), or
// -1 for an empty list.
int IndexOfValue(const ListItems& items, int value, int fallback = 0);
bool HasValue(const ListItems& items, int value);

// ---- security modes ----
enum SecureMode : int {
    kSecureNone = 0,
    kSecureWep = 1,
    kSecureWpaPsk = 2,
    kSecureWpa2Psk = 3,
    kSecureMixedPsk = 4,
    kSecureWpa = 5,   // WPA with a RADIUS server
    kSecureWpa2 = 6,  // WPA2 with a RADIUS server
};
inline bool IsPskMode(int mode) {
    return mode >= kSecureWpaPsk && mode <= kSecureMixedPsk;
}
inline bool IsRadiusMode(int mode) {
    return mode == kSecureWpa || mode == kSecureWpa2;
}

// ---- the lists ----
ListItems SecurityModeItems();
// rfType 0 is the 2.4 GHz radio, anything else the 5 GHz one.
ListItems NetworkModeItems(int rfType, int apType);
ListItems BandwidthItems(int rfType, int apType, int networkMode);
// Every country row, "Test" included, with the row index as value.
ListItems CountryItems();
// The channels of a country row for the radio and bandwidth: "Auto" (0) and the numbers.
// Outside the test row the radar-detection channels 52-64 and 100-144 are left out; on the
// test row models 10 and 11 leave out 8, 179, 181 and 188, which their radios do not tune.
ListItems ChannelItems(int countryRow, int rfType, int bandwidth, int apType);
// The list of 40 MHz extension channels (below: value 0, above: value 1). Enabled only on the
// 2.4 GHz radio in "11b/g/n" with a bandwidth other than 20 MHz and a chosen channel.
// channelCount is the number of entries of the channel list ("Auto" included): the channels
// near the top of the band offer only the channel four below. `requested` selects among two
// entries (by value); a single entry is always selected.
struct ExtensionChannels {
    bool enabled = false;
    ListItems items;
    int selected = -1;
};
ExtensionChannels ExtensionChannelItems(int rfType, int networkMode, int bandwidth, int channel,
                                        std::size_t channelCount,
                                        std::optional<int> requested = std::nullopt);
ListItems PskCipherItems();      // "AES" 0, "TKIP" 1, "TKIP&&AES" 2 (radio buttons)
ListItems WpaEncryptionItems();  // "AES", "TKIP", "AES/TKIP"; the index is sent
ListItems WepAuthItems();        // "Open" 0, "Share" 1
ListItems WepDefaultKeyItems();  // "Key 1" 1 ... "Key 4" 4
ListItems WepKeyFormatItems();   // "ASCII" 0, "Hex" 1
// "(min-max)", shown beside the power edit.
std::string PowerRangeLabel(int minPower, int maxPower);

// What a changed list refills, by the device's work mode: a new network mode refills the
// channels unless the device is a WISP; a new bandwidth unless it is a station, universal
// repeater or WISP (those follow the access point they link to).
bool NetworkModeRefillsChannels(int workMode);
bool BandwidthRefillsChannels(int workMode);

// ---- the rules (each: no failure when the text passes) ----
bool IsHexString(std::string_view text);
bool IsAsciiString(std::string_view text);
// atoi-like: blanks, an optional sign, then the leading digits; no digits give 0. Capped far
// beyond any range the rules accept, so a long run of digits cannot overflow.
long long LeadingNumber(std::string_view text);

// Not empty, and the device-name rule of the model (32 UTF-8 bytes, its characters).
RuleFailure CheckSsid(std::string_view utf8, int apType);
// 8 to 63 ASCII characters, or 64 hex digits.
RuleFailure CheckPskKey(std::string_view text);
// Not empty; 0 (never) or 60 to 99999 seconds.
RuleFailure CheckKeyInterval(std::string_view text, SettingField field);
// Hex: 10 or 26 hex digits. ASCII: 5 or 13 of 0-9, a-z, A-Z, @, *, - and _.
RuleFailure CheckWepKey(std::string_view text, bool isHex, SettingField field);
// A usable host address (first octet not 0, 127 or 224+, last not 0 or 255) and a port of
// 1 to 65535 (empty counts as 0).
RuleFailure CheckRadius(std::string_view server, std::string_view port);
// 1 to 64 ASCII characters.
RuleFailure CheckRadiusKey(std::string_view text);

// The same rules as yes/no answers, for pages that show the message themselves.
inline bool IsValidSsid(std::string_view utf8, int apType) {
    return !CheckSsid(utf8, apType).Failed();
}
inline bool IsValidPskKey(std::string_view text) {
    return !CheckPskKey(text).Failed();
}
inline bool IsValidKeyInterval(std::string_view text) {
    return !CheckKeyInterval(text, SettingField::None).Failed();
}
inline bool IsValidWepKey(std::string_view text, bool isHex) {
    return !CheckWepKey(text, isHex, SettingField::None).Failed();
}
inline bool IsValidRadius(std::string_view server, std::string_view port) {
    return !CheckRadius(server, port).Failed();
}

// ---- the form and its collect step ----
// The country "row" of a device whose country code has no row in the table: the code it
// reports is kept.
inline constexpr int kCurrentCountryRow = -1;

// A list's entries with the device's own value added as a last entry, "<text> (current)",
// when the list does not offer it, so that the list can show what the device has.
ListItems WithCurrentValue(ListItems items, int value, std::string text);

// The channel list the page shows for a country row and bandwidth: ChannelItems, with the
// device's own channel added as the current entry while the country and bandwidth are still
// the device's; "Auto" alone (plus that entry) for a country without a row.
ListItems ChannelChoices(const ap_info_stu& rec, int countryRow, int bandwidth);

struct WirelessForm {
    std::string ssid;  // UTF-8
    bool hideSsid = false;
    int networkMode = 0;  // item values of the lists
    int bandwidth = 0;
    int countryRow = 0;
    int channel = 0;
    int extensionChannel = -1;  // value of the chosen extension channel; -1: none chosen
    std::string power;
    int secureMode = kSecureNone;
    // WPA-PSK, WPA2-PSK and mixed
    int pskCipher = 0;
    std::string pskKey;
    std::string pskInterval;
    // WEP
    int wepAuth = 0;
    int wepDefaultKey = 1;  // 1..4
    std::string wepKeys[4];
    int wepKeyFormats[4] = {};  // 0 ASCII, 1 hex
    // WPA and WPA2 with a RADIUS server
    int wpaEncryption = 0;  // list index
    std::string radiusServer;
    std::string radiusPort;
    std::string radiusKey;
    std::string radiusInterval;
};

// The form as the page shows it for a device: every list on the record's value, offered by
// the list or not (country: kCurrentCountryRow for a code without a row).
WirelessForm WirelessFormFromRecord(const ap_info_stu& rec);

struct WirelessCollect {
    RuleFailure failure;
    bool changed = false;
    WirelessBlock block{};
    bool ok() const { return !failure.Failed(); }
};
// Checks the form in the fixed order (SSID, power, the security mode's fields) and builds
// the block from the record's slice with the form's values; changed when the block differs
// from the record's. Groups left as WirelessFormFromRecord shows them (the radio: mode,
// bandwidth, country, channels; the power; the security and its keys) keep the record's
// bytes, so nothing the user did not touch is ever sent as a different value.
WirelessCollect CollectWireless(const ap_info_stu& rec, const WirelessForm& form);

}  // namespace fd
