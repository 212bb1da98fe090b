#include "rules/bridge_rules.h"

#include <cstdlib>
#include <cstring>

#include "config/labels.h"
#include "config/language.h"
#include "rules/country_table.h"
#include "rules/wireless_settings.h"
#include "wire/device_text.h"

namespace fd {

namespace {

constexpr const char* kMsgAddressInUse = "The ip address is already in use, please respecify!";

// Which list entry and which radio an access point's reported security maps to.
struct PrefillRow {
    int apSecureMode;
    int code;
    PskCipher cipher;
};
constexpr PrefillRow kPrefill[] = {
    {2, kBridgeSecurityWpaPsk, PskCipher::Aes},
    {3, kBridgeSecurityWpaPsk, PskCipher::Tkip},
    {10, kBridgeSecurityWpaPsk, PskCipher::TkipAes},
    {4, kBridgeSecurityWpa2Psk, PskCipher::Aes},
    {5, kBridgeSecurityWpa2Psk, PskCipher::Tkip},
    {6, kBridgeSecurityWpa2Psk, PskCipher::TkipAes},
    {7, kBridgeSecurityMixedPsk, PskCipher::Aes},
    {8, kBridgeSecurityMixedPsk, PskCipher::Tkip},
    {9, kBridgeSecurityMixedPsk, PskCipher::TkipAes},
};

// The controls' states for a code, the tick left as it is.
BridgeSecurityView ViewFor(int code, PskCipher cipher, bool offerWep) {
    BridgeSecurityView v;
    v.code = code;
    v.cipher = cipher;
    v.offerWep = offerWep;
    switch (code) {
        case kBridgeSecurityWpaPsk:
            v.keyEnabled = v.aesEnabled = v.tkipEnabled = true;
            break;
        case kBridgeSecurityWpa2Psk:
        case kBridgeSecurityMixedPsk:
            v.keyEnabled = v.aesEnabled = v.tkipEnabled = v.tkipAesEnabled = true;
            break;
        case kBridgeSecurityWep:
            v.wepShown = true;
            break;
        default:
            break;
    }
    return v;
}

std::string IpOrEmpty(const uint8_t ip[4]) {
    std::string t = IpToText(ip);
    return t == "0.0.0.0" ? std::string() : t;
}

void PutAddress(uint8_t out[4], std::string_view text) {
    // Called after CheckDeviceAddress passed: every field reads strictly (empty: 0.0.0.0).
    const auto bytes = ReadIpField(text).value_or(IpBytes{});
    std::memcpy(out, bytes.data(), 4);
}

}  // namespace

std::vector<BridgeSecurityEntry> BridgeSecurityEntries(bool withWep) {
    std::vector<BridgeSecurityEntry> entries{{"None", kBridgeSecurityNone},
                                             {"WPA-PSK", kBridgeSecurityWpaPsk},
                                             {"WPA2-PSK", kBridgeSecurityWpa2Psk},
                                             {"Mixed WPA/WPA2-PSK", kBridgeSecurityMixedPsk}};
    if (withWep) entries.push_back({"WEP", kBridgeSecurityWep});
    return entries;
}

BridgeSecurityView PrefillBridgeSecurity(int apSecureMode, PskCipher current) {
    if (apSecureMode == 1) return ViewFor(kBridgeSecurityWep, current, true);
    for (const PrefillRow& row : kPrefill) {
        if (row.apSecureMode == apSecureMode) return ViewFor(row.code, row.cipher, false);
    }
    return ViewFor(kBridgeSecurityNone, current, false);
}

BridgeSecurityView ChangeBridgeSecurity(int code, PskCipher current, bool offerWep) {
    if (code == kBridgeSecurityWpaPsk && current == PskCipher::TkipAes) current = PskCipher::Aes;
    return ViewFor(code, current, offerWep);
}

std::vector<ChannelItem> BridgeChannelItems(int apType, int rfType, int countryCode, int bandwidth,
                                            int apChannel) {
    std::vector<ChannelItem> items;
    const int row = CountryRowOfCodeNumber(countryCode);
    for (const ListItem& item : ChannelItems(row, rfType, bandwidth, apType))
        items.push_back({item.literal ? item.text : GetLangText(item.text), item.value});
    if (items.empty()) {
        items.push_back({GetLangText("Auto"), 0});
        if (apChannel > 0) items.push_back({std::to_string(apChannel), apChannel});
    }
    return items;
}

AddressForm BridgeAddressFormFrom(const IpConfigBlock& block) {
    AddressForm f;
    f.ip = IpToText(block.ip);
    f.mask = IpToText(block.ip_mask);
    f.gateway = IpOrEmpty(block.ip_gateway);
    f.dns1 = IpOrEmpty(block.ip_dns1);
    f.dns2 = IpOrEmpty(block.ip_dns2);
    return f;
}

bool IsAddressFree(std::string_view newIp, std::string_view currentIp,
                   const std::vector<std::string>& usedIps) {
    if (newIp == currentIp) return true;
    for (const std::string& used : usedIps) {
        if (used == newIp) return false;
    }
    return true;
}

BridgeIpResult CheckBridgeIp(const AddressForm& form, std::string_view currentIp,
                             const std::vector<std::string>& usedIps) {
    BridgeIpResult r;
    const RuleFailure refused = CheckDeviceAddress(form);
    r.messageKey = refused.key;
    r.code = refused.code;
    if (!r.ok()) return r;
    if (!IsAddressFree(form.ip, currentIp, usedIps)) {
        r.messageKey = kMsgAddressInUse;
        r.code = RuleCode::IpInUse;
        return r;
    }
    r.block.ip_mode = 1;
    PutAddress(r.block.ip, form.ip);
    PutAddress(r.block.ip_mask, form.mask);
    PutAddress(r.block.ip_gateway, form.gateway);
    PutAddress(r.block.ip_dns1, form.dns1);
    PutAddress(r.block.ip_dns2, form.dns2);
    return r;
}

namespace {

// The SSID, the pre-shared key, the WEP keys: the wireless settings' rules.
RuleFailure SecurityFailure(const BridgeSecurityForm& form, int apType) {
    if (RuleFailure f = CheckSsid(form.ssid, apType); f.Failed()) return f;
    switch (form.code) {
        case kBridgeSecurityWpaPsk:
        case kBridgeSecurityWpa2Psk:
        case kBridgeSecurityMixedPsk:
            return CheckPskKey(form.key);
        case kBridgeSecurityWep: {
            static constexpr SettingField kFields[] = {SettingField::WepKey1, SettingField::WepKey2,
                                                       SettingField::WepKey3,
                                                       SettingField::WepKey4};
            // lang-keys:begin
            static constexpr const char* kMissing[] = {
                "Please enter the WEP key1!", "Please enter the WEP key2!",
                "Please enter the WEP key3!", "Please enter the WEP key4!"};
            // lang-keys:end
            for (std::size_t k = 0; k < form.wepKeys.size(); ++k) {
                const WepKeyForm& key = form.wepKeys[k];
                if (key.text.empty()) continue;
                if (RuleFailure f = CheckWepKey(key.text, key.hex, kFields[k]); f.Failed())
                    return f;
            }
            const std::size_t d =
                form.wepDefaultKey >= 1 && form.wepDefaultKey <= 4 ? form.wepDefaultKey - 1 : 0;
            if (form.wepKeys[d].text.empty()) return Refuse(kMissing[d], kFields[d], true);
            return {};
        }
        default:
            return {};
    }
}

void PutText(uint8_t* field, std::size_t capacity, uint8_t& len, std::string_view text) {
    SetFieldText(field, capacity, len, text);
}

}  // namespace

BridgeSecurityResult CheckBridgeSecurity(const BridgeSecurityForm& form, int apType) {
    BridgeSecurityResult r;
    const RuleFailure failure = SecurityFailure(form, apType);
    if (failure.Failed()) {
        r.messageKey = failure.key;
        r.appCaption = failure.appCaption;
        return r;
    }
    BridgeWirelessBlock& b = r.block;
    std::memcpy(b.ap_mac, form.apMac.data(), 6);
    b.channel = static_cast<uint8_t>(form.channel);
    PutText(b.ssid, sizeof b.ssid, b.ssid_len, form.ssid);
    b.secure_mode = static_cast<uint8_t>(form.code);
    b.wpapsk_auth_type = static_cast<uint8_t>(form.cipher);
    switch (form.code) {
        case kBridgeSecurityWpaPsk:
        case kBridgeSecurityWpa2Psk:
        case kBridgeSecurityMixedPsk:
            PutText(b.wpapsk_key, sizeof b.wpapsk_key, b.wpapsk_key_len, form.key);
            // Leading digits; an empty or unreadable field counts as 0.
            b.wpapsk_key_time =
                static_cast<uint32_t>(std::strtoul(form.keyTime.c_str(), nullptr, 10));
            break;
        case kBridgeSecurityWep:
            b.wep_auth_type = static_cast<uint8_t>(form.wepAuth);
            b.wep_key_index = static_cast<uint8_t>(form.wepDefaultKey);
            for (std::size_t k = 0; k < form.wepKeys.size(); ++k) {
                BridgeWepKey& key = b.wep_keys[k];
                key.type = form.wepKeys[k].hex ? 1 : 0;
                PutText(key.value, sizeof key.value, key.len, form.wepKeys[k].text);
            }
            break;
        default:
            break;
    }
    return r;
}

BridgeConfigBody MakeBridgeBody(const BridgeWirelessBlock& wireless, const IpConfigBlock& ip) {
    BridgeConfigBody body{};
    body.wireless = wireless;
    body.ip = ip;
    // The local encoding is UTF-8 already, so recoding is rewriting the field: nothing of an
    // earlier, longer text may stay behind, and a character cut at the field's end goes.
    const std::size_t len =
        wireless.ssid_len < sizeof wireless.ssid ? wireless.ssid_len : sizeof wireless.ssid;
    const std::string ssid =
        DeviceTextToLocal(std::string_view(reinterpret_cast<const char*>(wireless.ssid), len));
    SetFieldText(body.wireless.ssid, sizeof body.wireless.ssid, body.wireless.ssid_len, ssid);
    return body;
}

}  // namespace fd
