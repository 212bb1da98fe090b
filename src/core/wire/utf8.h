#pragma once
// UTF-8 one character at a time: reading, cutting to a byte budget and repairing. Shared by
// the device texts, the input rules, the fixed record fields and every front end.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace fd {

// The well-formed UTF-8 character that starts at text[i]: its code point, with its length
// in bytes in len. nullopt for anything else: a stray continuation byte, an overlong form,
// a UTF-16 surrogate, a value above U+10FFFF, or a sequence cut short by the text's end.
std::optional<char32_t> DecodeUtf8At(std::string_view text, std::size_t i, std::size_t& len);

// The length of the longest prefix of at most maxBytes bytes that does not end inside a
// multi-byte character: a name cut to a 32-byte field never sends half a character.
std::size_t Utf8PrefixLength(std::string_view text, std::size_t maxBytes);
// The text with ASCII letters in lower case and every other byte as it is: how names, words
// and keys are compared without case (a UTF-8 character's bytes are never touched).
inline std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}
inline std::string Utf8Prefix(std::string_view text, std::size_t maxBytes) {
    return std::string(text.substr(0, Utf8PrefixLength(text, maxBytes)));
}

// Valid UTF-8 from any bytes. Every byte that is not part of a well-formed character (a
// stray continuation byte, an overlong form, a surrogate, a value above U+10FFFF, a
// character cut short) becomes U+FFFD, or is dropped with BadBytes::Drop; every character
// `replace` picks (none when it is null) becomes U+FFFD as well.
enum class BadBytes { Replace, Drop };
std::string RepairUtf8(std::string_view text, BadBytes bad = BadBytes::Replace,
                       bool (*replace)(char32_t) = nullptr);

}  // namespace fd
