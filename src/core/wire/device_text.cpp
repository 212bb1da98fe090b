#include "wire/device_text.h"

#include <cstring>

#include "wire/utf8.h"

namespace fd {

std::string DeviceTextToLocal(std::string_view raw) {
    return RepairUtf8(raw.substr(0, raw.find('\0')), BadBytes::Drop);
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
