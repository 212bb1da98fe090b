#include "rules/address_rules.h"

#include <array>

#include "wire/utf8.h"

namespace fd {

namespace {

constexpr const char* kMsgIpInvalid = "The ip address is invalid!";
constexpr const char* kMsgMaskInvalid = "The subnet mask is invalid!";
constexpr const char* kMsgGatewayInvalid = "The gateway address is invalid!";
constexpr const char* kMsgIpIsGateway = "The ip address and gateway address cannot be the same!";
constexpr const char* kMsgNotSameSubnet =
    "Ip address and gateway address is not in the same subnet!";
constexpr const char* kMsgDns1Invalid = "The primary DNS Server is invalid!";
constexpr const char* kMsgDns2Invalid = "The secondary DNS Server is invalid!";

uint32_t ParseOrZero(std::string_view text) {
    return ParseIpv4(text).value_or(0);
}

// Decodes one UTF-8 character at text[i] and advances i past it.
std::optional<char32_t> DecodeUtf8(std::string_view text, std::size_t& i) {
    std::size_t len = 0;
    auto cp = DecodeUtf8At(text, i, len);
    if (cp) i += len;
    return cp;
}

bool IsStrictNameMark(char16_t ch) {
    switch (ch) {
        case '>':
        case '.':
        case '/':
        case '<':
        case '~':
        case '!':
        case '@':
        case '#':
        case '$':
        case '%':
        case '^':
        case '&':
        case '*':
        case '(':
        case ')':
        case '_':
        case '+':
        case '-':
        case '=':
        case '?':
            return true;
        default:
            return false;
    }
}

}  // namespace

bool IsValidIpAddress(std::string_view text, bool allowEmpty) {
    if (IsUnsetIp(text)) return allowEmpty;
    auto v = ParseIpv4(text);
    if (!v) return false;
    const uint32_t first = *v >> 24;
    const uint32_t last = *v & 0xFF;
    if (first == 0 || first == 127 || first >= 224) return false;
    if (last == 0 || last == 255) return false;
    return true;
}

bool IsValidSubnetMask(std::string_view text) {
    auto v = ParseIpv4(text);
    return v && *v != 0xFFFFFFFFu && *v != 0;
}

bool IsSameSubnet(std::string_view a, std::string_view b, std::string_view mask) {
    const uint32_t m = ParseOrZero(mask);
    return (ParseOrZero(a) & m) == (ParseOrZero(b) & m);
}

bool IsChineseChar(char16_t ch) {
    if (ch >= 0x4E00 && ch <= 0x9FA5) return true;
    if (ch >= 0x3008 && ch <= 0x3011) return true;
    static constexpr std::array<char16_t, 23> kMarks = {
        0x00B7, 0x2014, 0x2018, 0x2019, 0x201C, 0x201D, 0x2026, 0x3001,
        0x3002, 0x3014, 0x3015, 0xFE43, 0xFE44, 0xFE4F, 0xFF01, 0xFF08,
        0xFF09, 0xFF0C, 0xFF1A, 0xFF1B, 0xFF1F, 0xFF5E, 0xFFE5};
    for (char16_t m : kMarks)
        if (ch == m) return true;
    return false;
}

std::size_t Utf8ByteCount(std::u16string_view text) {
    std::size_t n = 0;
    for (char16_t ch : text) n += ch < 0x80 ? 1 : ch < 0x800 ? 2 : 3;
    return n;
}

std::optional<std::u16string> Utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        auto cp = DecodeUtf8(utf8, i);
        if (!cp) return std::nullopt;
        if (*cp >= 0x10000) {
            const char32_t v = *cp - 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(*cp));
        }
    }
    return out;
}

std::optional<std::size_t> Utf8ByteCount(std::string_view utf8) {
    auto u16 = Utf8ToUtf16(utf8);
    if (!u16) return std::nullopt;
    return Utf8ByteCount(*u16);
}

bool HasStrictDeviceName(int apType) {
    return apType == 4 || apType == 261;
}

bool IsValidDeviceName(std::string_view utf8, int apType) {
    auto text = Utf8ToUtf16(utf8);
    if (!text || text->empty() || Utf8ByteCount(*text) > 32) return false;
    const bool strict = HasStrictDeviceName(apType);
    for (char16_t ch : *text) {
        if (IsChineseChar(ch)) continue;
        if (strict) {
            const bool alnum =
                (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9');
            if (!alnum && !IsStrictNameMark(ch)) return false;
        } else if (ch < 0x01 || ch > 0x7F) {
            return false;
        }
    }
    return true;
}

const char* DeviceNameRuleMessage(int apType) {
    return HasStrictDeviceName(apType)
               ? "Device name maximum allowed 32 bytes, only support combination of Chinese, "
                 "lowercase letters, 0-9 numbers"
               : "Device name maximum allowed 32 bytes, only support combination of Chinese, "
                 "ASCII characters";
}

RuleFailure CheckAddressFieldsReadable(const AddressForm& f) {
    using R = RuleCode;
    using F = SettingField;
    if (!ReadIpField(f.ip)) return Refuse(R::IpInvalid, kMsgIpInvalid, F::Ip);
    if (!ReadIpField(f.mask)) return Refuse(R::MaskInvalid, kMsgMaskInvalid, F::Mask);
    if (!ReadIpField(f.gateway)) return Refuse(R::GatewayInvalid, kMsgGatewayInvalid, F::Gateway);
    if (!ReadIpField(f.dns1)) return Refuse(R::Dns1Invalid, kMsgDns1Invalid, F::Dns1);
    if (!ReadIpField(f.dns2)) return Refuse(R::Dns2Invalid, kMsgDns2Invalid, F::Dns2);
    if (!ReadIpField(f.end)) return Refuse(R::IpInvalid, kMsgIpInvalid, F::Ip);
    return {};
}

RuleFailure CheckDeviceAddress(const AddressForm& f) {
    using R = RuleCode;
    using F = SettingField;
    if (!IsValidIpAddress(f.ip, false)) return Refuse(R::IpInvalid, kMsgIpInvalid, F::Ip);
    if (!IsValidSubnetMask(f.mask)) return Refuse(R::MaskInvalid, kMsgMaskInvalid, F::Mask);
    if (!IsValidIpAddress(f.gateway, true))
        return Refuse(R::GatewayInvalid, kMsgGatewayInvalid, F::Gateway);
    if (f.ip == f.gateway) return Refuse(R::IpIsGateway, kMsgIpIsGateway, F::Ip);
    if (!IsUnsetIp(f.gateway) && !IsSameSubnet(f.gateway, f.ip, f.mask))
        return Refuse(R::GatewayOutsideSubnet, kMsgNotSameSubnet, F::Gateway);
    if (!IsValidIpAddress(f.dns1, true)) return Refuse(R::Dns1Invalid, kMsgDns1Invalid, F::Dns1);
    if (!IsValidIpAddress(f.dns2, true)) return Refuse(R::Dns2Invalid, kMsgDns2Invalid, F::Dns2);
    return {};
}

RuleFailure CheckRangeAddress(const AddressForm& f, std::size_t deviceCount) {
    using R = RuleCode;
    using F = SettingField;
    const bool several = deviceCount > 1;
    if (!IsValidIpAddress(f.ip, false)) return Refuse(R::IpInvalid, kMsgIpInvalid, F::Ip);
    if (!IsValidSubnetMask(f.mask)) return Refuse(R::MaskInvalid, kMsgMaskInvalid, F::Mask);
    if (!IsValidIpAddress(f.gateway, true))
        return Refuse(R::GatewayInvalid, kMsgGatewayInvalid, F::Gateway);
    if (f.ip == f.gateway) return Refuse(R::IpIsGateway, kMsgIpIsGateway, F::Ip);
    if (several) {
        if (!IsValidIpAddress(f.end, false) || !(ParseOrZero(f.ip) < ParseOrZero(f.end)))
            return Refuse(R::IpInvalid, kMsgIpInvalid, F::Ip);
        if (f.end == f.gateway) return Refuse(R::IpIsGateway, kMsgIpIsGateway, F::Ip);
    }
    if (!IsUnsetIp(f.gateway)) {
        if (!IsSameSubnet(f.ip, f.gateway, f.mask) ||
            (several && !IsSameSubnet(f.end, f.gateway, f.mask)))
            return Refuse(R::GatewayOutsideSubnet, kMsgNotSameSubnet, F::Gateway);
    }
    if (!IsValidIpAddress(f.dns1, true)) return Refuse(R::Dns1Invalid, kMsgDns1Invalid, F::Dns1);
    if (!IsValidIpAddress(f.dns2, true)) return Refuse(R::Dns2Invalid, kMsgDns2Invalid, F::Dns2);
    return {};
}

std::vector<std::string> WalkIpRange(std::string_view begin, std::string_view end,
                                     std::size_t count) {
    std::vector<std::string> out;
    auto b = ParseIpv4(begin);
    auto e = ParseIpv4(end);
    if (!b || !e || *e < *b) return out;
    // 64-bit so that an end of 255.255.255.255 cannot wrap the loop around.
    for (uint64_t v = *b; v <= *e && out.size() < count; ++v) {
        const uint32_t last = static_cast<uint32_t>(v & 0xFF);
        if (last == 0 || last == 255) continue;
        out.push_back(Ipv4ToText(static_cast<uint32_t>(v)));
    }
    return out;
}

}  // namespace fd
