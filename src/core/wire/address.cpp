#include "wire/address.h"

#include <cstdio>
#include <cstring>

namespace fd {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// One "%d" / "%Nx" conversion: blanks, an optional sign, digits (at most `width` characters
// including the sign, 0 = no limit). The value wraps like unsigned arithmetic, which keeps
// the low 8 bits exact however long the number is.
bool ScanNumber(std::string_view& text, int base, std::size_t width, uint32_t& value) {
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) ++i;
    std::size_t used = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
        ++used;
    }
    uint32_t v = 0;
    std::size_t digits = 0;
    while (i < text.size() && (width == 0 || used < width)) {
        const int d = base == 16 ? HexDigit(text[i])
                                 : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
        if (d < 0) break;
        v = v * static_cast<uint32_t>(base) + static_cast<uint32_t>(d);
        ++i;
        ++used;
        ++digits;
    }
    if (digits == 0) return false;
    value = negative ? 0u - v : v;
    text.remove_prefix(i);
    return true;
}

template <std::size_t N>
std::array<uint8_t, N> ScanBytes(std::string_view text, int base, std::size_t width, char sep) {
    std::array<uint8_t, N> out{};
    for (std::size_t k = 0; k < N; ++k) {
        if (k > 0) {
            if (text.empty() || text.front() != sep) break;
            text.remove_prefix(1);
        }
        uint32_t v = 0;
        if (!ScanNumber(text, base, width, v)) break;
        out[k] = static_cast<uint8_t>(v & 0xFF);
    }
    return out;
}

}  // namespace

std::string IpToText(const uint8_t ip[4]) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d.%d.%d.%d", ip[0], ip[1], ip[2], ip[3]);
    return buf;
}

std::optional<uint32_t> ParseIpv4(std::string_view text) {
    uint32_t value = 0;
    int parts = 0;
    std::size_t i = 0;
    while (true) {
        std::size_t digits = 0;
        uint32_t octet = 0;
        const std::size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
            octet = octet * 10 + static_cast<uint32_t>(text[i] - '0');
            ++i, ++digits;
        }
        if (digits == 0 || digits > 3 || octet > 255) return std::nullopt;
        if (digits > 1 && text[start] == '0') return std::nullopt;
        value = (value << 8) | octet;
        ++parts;
        if (i == text.size()) break;
        if (text[i] != '.' || parts == 4) return std::nullopt;
        ++i;
    }
    if (parts != 4) return std::nullopt;
    return value;
}

std::optional<IpBytes> ReadIpField(std::string_view text) {
    if (text.empty()) return IpBytes{};
    const auto v = ParseIpv4(text);
    if (!v) return std::nullopt;
    IpBytes out;
    IpFromValue(*v, out.data());
    return out;
}

bool IpFromText(std::string_view text, uint8_t ip[4]) {
    const auto v = ParseIpv4(text);
    IpFromValue(v.value_or(0), ip);
    return v.has_value();
}

uint32_t IpToValue(const uint8_t ip[4]) {
    return static_cast<uint32_t>(ip[0]) << 24 | static_cast<uint32_t>(ip[1]) << 16 |
           static_cast<uint32_t>(ip[2]) << 8 | static_cast<uint32_t>(ip[3]);
}

void IpFromValue(uint32_t value, uint8_t ip[4]) {
    ip[0] = static_cast<uint8_t>(value >> 24);
    ip[1] = static_cast<uint8_t>(value >> 16);
    ip[2] = static_cast<uint8_t>(value >> 8);
    ip[3] = static_cast<uint8_t>(value);
}

std::string Ipv4ToText(uint32_t value) {
    uint8_t ip[4];
    IpFromValue(value, ip);
    return IpToText(ip);
}

bool IsUnsetIp(std::string_view text) {
    return text.empty() || text == "0.0.0.0";
}

bool InSameSubnet(std::string_view a, std::string_view b, std::string_view mask) {
    if (IsUnsetIp(a) || IsUnsetIp(b) || IsUnsetIp(mask)) return false;
    const auto va = ParseIpv4(a), vb = ParseIpv4(b), vm = ParseIpv4(mask);
    return va && vb && vm && (*va & *vm) == (*vb & *vm);
}

IpBytes ScanIpLenient(std::string_view text) {
    return ScanBytes<4>(text, 10, 0, '.');
}

std::string MacToText(const uint8_t mac[6]) {
    char buf[18];
    std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3],
                  mac[4], mac[5]);
    return buf;
}

bool MacFromText(std::string_view text, uint8_t mac[6]) {
    if (text.size() != 17) return false;
    uint8_t out[6];
    for (int i = 0; i < 6; ++i) {
        const int hi = HexDigit(text[i * 3]);
        const int lo = HexDigit(text[i * 3 + 1]);
        if (hi < 0 || lo < 0) return false;
        if (i < 5 && text[i * 3 + 2] != ':') return false;
        out[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    std::memcpy(mac, out, 6);
    return true;
}

bool IsZeroMac(const uint8_t mac[6]) {
    for (int i = 0; i < 6; ++i)
        if (mac[i]) return false;
    return true;
}

MacBytes ScanMacLenient(std::string_view text) {
    return ScanBytes<6>(text, 16, 2, ':');
}

}  // namespace fd
