#pragma once
// The bridge wizard's rules: how the security step is prefilled from the access point the
// user picked and how it reacts to a change of the security list, the checks of the
// security and IP steps with the blocks they fill, and the body of the bridge-configuration
// command built from those blocks.
//
// Texts are UTF-8 (this program's local encoding). Messages are language keys.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "rules/address_rules.h"
#include "rules/wireless_settings.h"
#include "wire/packet.h"

namespace fd {

// Security codes the bridge body carries: the wireless settings' codes, of which the bridge
// offers None, the three pre-shared-key kinds and, for a WEP access point, WEP.
inline constexpr int kBridgeSecurityNone = kSecureNone;
inline constexpr int kBridgeSecurityWep = kSecureWep;
inline constexpr int kBridgeSecurityWpaPsk = kSecureWpaPsk;
inline constexpr int kBridgeSecurityWpa2Psk = kSecureWpa2Psk;
inline constexpr int kBridgeSecurityMixedPsk = kSecureMixedPsk;

// The pre-shared-key cipher radios, in the value the body carries.
enum class PskCipher : uint8_t { Aes = 0, Tkip = 1, TkipAes = 2 };

// One entry of the security list: its language key and the code it selects.
struct BridgeSecurityEntry {
    const char* key;
    int code;
};
// "None", "WPA-PSK", "WPA2-PSK", "Mixed WPA/WPA2-PSK"; with withWep a last "WEP" entry,
// offered only when the picked access point uses WEP (a station can join such an access
// point only with its WEP keys).
std::vector<BridgeSecurityEntry> BridgeSecurityEntries(bool withWep);

// What the security step shows for a security code.
struct BridgeSecurityView {
    int code = kBridgeSecurityNone;     // the selected entry
    PskCipher cipher = PskCipher::Aes;  // the ticked radio
    bool keyEnabled = false;
    bool aesEnabled = false;
    bool tkipEnabled = false;
    bool tkipAesEnabled = false;
    bool wepShown = false;  // the WEP key sub-page
    bool offerWep = false;  // the list holds the WEP entry
};

// Prefill from the access point's reported security (the scan's codes: 0 open, 1 WEP,
// 2..10 the WPA variants). current is the tick before the prefill; it stays for an open
// access point. The tick is set by the table even where the list then disables that radio
// (WPA-PSK with TKIP&AES): the device reported it, and only a change of the list by the
// user moves it.
BridgeSecurityView PrefillBridgeSecurity(int apSecureMode, PskCipher current);
// The user picked the entry with this code. WPA-PSK does not allow TKIP&AES: a tick there
// moves to AES.
BridgeSecurityView ChangeBridgeSecurity(int code, PskCipher current, bool offerWep);

// One entry of the channel list: its text ("Auto" translated, or the number) and value.
struct ChannelItem {
    std::string text;
    int value = 0;
};
// The channels the security step offers for the device's radio, country code (the
// record's country_code byte) and bandwidth. A code without a country row offers "Auto" and
// the access point's channel.
std::vector<ChannelItem> BridgeChannelItems(int apType, int rfType, int countryCode, int bandwidth,
                                            int apChannel);

// One WEP key as typed, with its format.
struct WepKeyForm {
    std::string text;
    bool hex = false;
};

// The security step's fields as typed.
struct BridgeSecurityForm {
    MacBytes apMac{};  // from the picked access point's scan record
    std::string ssid;
    int channel = 0;
    int code = kBridgeSecurityNone;
    PskCipher cipher = PskCipher::Aes;
    std::string key;
    std::string keyTime;    // empty counts as "0"
    int wepAuth = 0;        // 0 Open, 1 Share
    int wepDefaultKey = 1;  // 1..4
    std::array<WepKeyForm, 4> wepKeys{};
};

struct BridgeSecurityResult {
    std::string messageKey;   // empty when the form passed
    bool appCaption = false;  // the WEP messages carry the application's caption
    BridgeWirelessBlock block{};
    bool ok() const { return messageKey.empty(); }
};
// The checks of the security step in their fixed order (SSID, then the key rules of the
// selected code: the pre-shared key, or the WEP keys and the default key's presence), then
// the wireless block. apType decides the SSID rule. The key update interval is not checked:
// an empty one counts as 0.
BridgeSecurityResult CheckBridgeSecurity(const BridgeSecurityForm& form, int apType);

// The IP step's starting values: the device's own addresses; an unset gateway or DNS
// (0.0.0.0) shows as an empty field.
AddressForm BridgeAddressFormFrom(const IpConfigBlock& block);

struct BridgeIpResult {
    std::string messageKey;  // empty when the form passed
    RuleCode code = RuleCode::None;  // which check refused
    IpConfigBlock block{};
    bool ok() const { return messageKey.empty(); }
};
// The address checks, then: an address other than the device's own (currentIp) that
// another known device has (usedIps) is refused. The block carries ip_mode 1.
BridgeIpResult CheckBridgeIp(const AddressForm& form, std::string_view currentIp,
                             const std::vector<std::string>& usedIps);

// Whether newIp may be given to a device now at currentIp: keeping its own address is
// always fine, any other address must not be one of usedIps (exact text).
bool IsAddressFree(std::string_view newIp, std::string_view currentIp,
                   const std::vector<std::string>& usedIps);

// The 326-byte body of command 7. The SSID goes out as UTF-8: the field is cleared, at
// most 32 bytes written (never half a character) and byte 40 holds their count.
BridgeConfigBody MakeBridgeBody(const BridgeWirelessBlock& wireless, const IpConfigBlock& ip);

}  // namespace fd
