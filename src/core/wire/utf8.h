#pragma once
// Reading UTF-8 one character at a time, shared by the device-text repair, the input rules
// and the command-line output.

#include <cstddef>
#include <optional>
#include <string_view>

namespace fd {

// The well-formed UTF-8 character that starts at text[i]: its code point, with its length
// in bytes in len. nullopt for anything else: a stray continuation byte, an overlong form,
// a UTF-16 surrogate, a value above U+10FFFF, or a sequence cut short by the text's end.
std::optional<char32_t> DecodeUtf8At(std::string_view text, std::size_t i, std::size_t& len);

}  // namespace fd
