#include "protocol/device_text.h"

#include <cstring>

namespace fd {
namespace {

// Length of the well-formed UTF-8 character at s[i], or 0 when s[i] does not begin one.
std::size_t ValidSequenceLength(const unsigned char* s, std::size_t i, std::size_t n) {
    const unsigned char c = s[i];
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) lo = 0xA0;  // no overlong forms
        if (c == 0xED) hi = 0x9F;  // no UTF-16 surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) lo = 0x90;  // no overlong forms
        if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (n - i < len) return 0;
    if (s[i + 1] < lo || s[i + 1] > hi) return 0;
    for (std::size_t k = 2; k < len; ++k) {
        if ((s[i + k] & 0xC0) != 0x80) return 0;
    }
    return len;
}

}  // namespace

std::string DeviceTextToLocal(std::string_view raw) {
    const auto nul = raw.find('\0');
    if (nul != std::string_view::npos) raw = raw.substr(0, nul);

    const auto* s = reinterpret_cast<const unsigned char*>(raw.data());
    const std::size_t n = raw.size();
    std::size_t i = 0;
    while (i < n && s[i] < 0x80) ++i;
    if (i == n) return std::string(raw);

    std::string out;
    out.reserve(n);
    out.append(raw.data(), i);
    while (i < n) {
        if (s[i] < 0x80) {
            out.push_back(static_cast<char>(s[i]));
            ++i;
            continue;
        }
        const std::size_t len = ValidSequenceLength(s, i, n);
        if (len == 0) {
            ++i;  // not part of a well-formed character: dropped
            continue;
        }
        out.append(raw.data() + i, len);
        i += len;
    }
    return out;
}

void ConvertDeviceTextField(uint8_t* field, std::size_t capacity, uint8_t& len, bool updateLength) {
    const std::size_t n = len < capacity ? len : capacity;
    const std::string text =
        DeviceTextToLocal(std::string_view(reinterpret_cast<const char*>(field), n));
    // The result is never longer than the input, so it always fits the field.
    std::memset(field, 0, capacity);
    std::memcpy(field, text.data(), text.size());
    if (updateLength) len = static_cast<uint8_t>(text.size());
}

}  // namespace fd
