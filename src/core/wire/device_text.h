#pragma once
// Names and SSIDs as devices send them. They travel in UTF-8, which is also this program's
// local encoding, so conversion means checking and repairing: the program never stores or
// shows bytes that are not valid UTF-8.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fd {

// Returns the text as it is to be kept:
//  - a NUL ends the text (devices zero-pad their fields);
//  - pure ASCII is copied unchanged;
//  - a multi-byte character cut short at the end (a name cut to 32 bytes by the device) is
//    dropped;
//  - every other byte that is not part of a well-formed UTF-8 character (stray
//    continuation bytes, overlong forms, surrogates, values above U+10FFFF) is dropped.
// Invalid bytes are dropped rather than replaced by U+FFFD because the result goes back
// into fixed 32-byte record fields: dropping never makes a text longer than it came, so it
// always fits its field and its length byte, and no replacement character has to be cut.
std::string DeviceTextToLocal(std::string_view raw);

// Converts one text field of a received record in place: reads min(len, capacity) bytes,
// clears the whole field, writes the converted text back. When `updateLength` is set the
// length byte becomes the converted length; otherwise it keeps the value the device sent.
void ConvertDeviceTextField(uint8_t* field, std::size_t capacity, uint8_t& len, bool updateLength);

}  // namespace fd
