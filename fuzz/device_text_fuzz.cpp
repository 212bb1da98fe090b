// Device text repair over arbitrary bytes: the result is always well-formed UTF-8 without NUL,
// never longer than the input, and repairing it again changes nothing.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "wire/device_text.h"

namespace {

bool WellFormed(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == 0) return false;
        size_t n = c < 0x80 ? 0 : c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 ? 1 : 99;
        if (n == 99 || c > 0xF4 || i + n >= s.size() + (n ? 0 : 1)) return false;
        uint32_t cp = n == 0 ? c : c & (0x3F >> n);
        for (size_t k = 1; k <= n; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        static const uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n + 1;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view raw(reinterpret_cast<const char*>(data), size);
    const std::string out = fd::DeviceTextToLocal(raw);
    if (out.size() > size || !WellFormed(out)) __builtin_trap();
    if (fd::DeviceTextToLocal(out) != out) __builtin_trap();

    // The in-place field form, with the length byte taken from the input.
    uint8_t field[32] = {};
    std::memcpy(field, data, size < sizeof field ? size : sizeof field);
    uint8_t len = size ? data[0] : 0;
    fd::ConvertDeviceTextField(field, sizeof field, len, true);
    if (len > sizeof field) __builtin_trap();
    for (size_t i = len; i < sizeof field; ++i) {
        if (field[i] != 0) __builtin_trap();
    }
    return 0;
}
