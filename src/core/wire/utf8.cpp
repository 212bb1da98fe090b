#include "wire/utf8.h"

namespace fd {

std::optional<char32_t> DecodeUtf8At(std::string_view text, std::size_t i, std::size_t& len) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    std::size_t extra;
    char32_t cp;
    char32_t min;
    if (b0 < 0x80) {
        len = 1;
        return b0;
    } else if ((b0 & 0xE0) == 0xC0) {
        extra = 1, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3, cp = b0 & 0x07, min = 0x10000;
    } else {
        return std::nullopt;
    }
    if (i + extra >= text.size()) return std::nullopt;
    for (std::size_t k = 1; k <= extra; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80) return std::nullopt;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    len = extra + 1;
    return cp;
}

std::size_t Utf8PrefixLength(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return text.size();
    // Only a lead byte whose character runs past the cut goes; bytes that are not UTF-8
    // at all stay as they are.
    const std::size_t n = maxBytes;
    for (std::size_t back = 1; back <= 3 && back <= n; ++back) {
        const auto c = static_cast<unsigned char>(text[n - back]);
        if ((c & 0xC0) == 0x80) continue;
        const std::size_t need = (c & 0xE0) == 0xC0   ? 2
                                 : (c & 0xF0) == 0xE0 ? 3
                                 : (c & 0xF8) == 0xF0 ? 4
                                                      : 0;
        return need > back ? n - back : n;
    }
    return n;
}

std::string RepairUtf8(std::string_view text, BadBytes bad, bool (*replace)(char32_t)) {
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::size_t i = 0;
    if (!replace) {
        while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x80) ++i;
        if (i == text.size()) return std::string(text);  // ASCII, by far the most common
    }
    std::string out(text.substr(0, i));
    out.reserve(text.size());
    while (i < text.size()) {
        std::size_t len = 1;
        const auto cp = DecodeUtf8At(text, i, len);
        if (!cp || (replace && replace(*cp))) {
            if (cp || bad == BadBytes::Replace) out += kReplacement;
            i += cp ? len : 1;
            continue;
        }
        out.append(text.substr(i, len));
        i += len;
    }
    return out;
}

}  // namespace fd
