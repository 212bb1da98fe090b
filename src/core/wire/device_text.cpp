#include "wire/device_text.h"

#include <cstring>

#include "wire/utf8.h"

namespace fd {
namespace {

// Length of the well-formed UTF-8 character at text[i], or 0 when text[i] does not begin one.
std::size_t ValidSequenceLength(std::string_view text, std::size_t i) {
    std::size_t len = 0;
    return DecodeUtf8At(text, i, len) ? len : 0;
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
        const std::size_t len = ValidSequenceLength(raw, i);
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
