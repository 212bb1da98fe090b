#include "presentation/json_text.h"

#include <cstdio>

#include "wire/utf8.h"

namespace fd {

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        std::size_t len = 1;
        auto cp = DecodeUtf8At(text, i, len);
        if (!cp) {
            out += "\\ufffd";
            i += 1;
            continue;
        }
        switch (*cp) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            default:
                if (*cp < 0x20 || *cp == 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(*cp));
                    out += buf;
                } else {
                    out.append(text.substr(i, len));
                }
        }
        i += len;
    }
    out += '"';
    return out;
}

namespace {

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

class FlatReader {
public:
    explicit FlatReader(std::string_view t) : m_t(t) {}

    std::string error;
    int errorLine = 0;

    int Line() const { return m_line; }
    void Skip() {
        while (m_i < m_t.size()) {
            const char c = m_t[m_i];
            if (c == '\n') ++m_line;
            if (c != ' ' && c != '\n' && c != '\r' && c != '\t') break;
            ++m_i;
        }
    }
    char Peek() {
        Skip();
        return m_i < m_t.size() ? m_t[m_i] : '\0';
    }
    bool AtEnd() {
        Skip();
        return m_i == m_t.size();
    }
    bool Take(char c) {
        if (Peek() != c) return false;
        ++m_i;
        return true;
    }
    bool Fail(std::string why) {
        if (error.empty()) {
            error = std::move(why);
            errorLine = m_line;
        }
        return false;
    }
    bool Expect(char c, const char* what) {
        if (Take(c)) return true;
        return Fail(std::string("expected ") + what);
    }

    bool String(std::string& s) {
        if (!Expect('"', "a quoted text")) return false;
        while (m_i < m_t.size()) {
            const unsigned char c = static_cast<unsigned char>(m_t[m_i++]);
            if (c == '"') return true;
            if (c < 0x20) return Fail("a line break or control character inside a quoted text");
            if (c != '\\') {
                s += static_cast<char>(c);
                continue;
            }
            if (m_i >= m_t.size()) break;
            const char e = m_t[m_i++];
            switch (e) {
                case '"':
                    s += '"';
                    break;
                case '\\':
                    s += '\\';
                    break;
                case '/':
                    s += '/';
                    break;
                case 'n':
                    s += '\n';
                    break;
                case 't':
                    s += '\t';
                    break;
                case 'r':
                    s += '\r';
                    break;
                case 'b':
                    s += '\b';
                    break;
                case 'f':
                    s += '\f';
                    break;
                case 'u': {
                    auto hex = [&](char32_t& v) {
                        if (m_i + 4 > m_t.size()) return false;
                        v = 0;
                        for (int k = 0; k < 4; ++k) {
                            const char h = m_t[m_i++];
                            v <<= 4;
                            if (h >= '0' && h <= '9')
                                v |= static_cast<char32_t>(h - '0');
                            else if (h >= 'a' && h <= 'f')
                                v |= static_cast<char32_t>(h - 'a' + 10);
                            else if (h >= 'A' && h <= 'F')
                                v |= static_cast<char32_t>(h - 'A' + 10);
                            else
                                return false;
                        }
                        return true;
                    };
                    char32_t cp = 0;
                    if (!hex(cp)) return Fail("a bad \\u escape");
                    if (cp >= 0xD800 && cp < 0xDC00 && m_i + 1 < m_t.size() && m_t[m_i] == '\\' &&
                        m_t[m_i + 1] == 'u') {
                        m_i += 2;
                        char32_t low = 0;
                        if (!hex(low)) return Fail("a bad \\u escape");
                        cp = low >= 0xDC00 && low < 0xE000
                                 ? 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00)
                                 : 0xFFFD;
                    } else if (cp >= 0xD800 && cp < 0xE000) {
                        cp = 0xFFFD;
                    }
                    AppendUtf8(s, cp);
                    break;
                }
                default:
                    return Fail("a bad escape in a quoted text");
            }
        }
        return Fail("a quoted text is not closed");
    }

    bool Scalar(std::string& v) {
        const char c = Peek();
        if (c == '"') return String(v);
        if (c == '{' || c == '[') return Fail("a nested object or list (values are plain texts)");
        const std::size_t start = m_i;
        while (m_i < m_t.size() && m_t[m_i] != ',' && m_t[m_i] != '}' && m_t[m_i] != ']' &&
               m_t[m_i] != ' ' && m_t[m_i] != '\n' && m_t[m_i] != '\r' && m_t[m_i] != '\t')
            ++m_i;
        const std::string_view word = m_t.substr(start, m_i - start);
        if (word == "null") return true;
        if (word == "true" || word == "false") {
            v = word;
            return true;
        }
        bool number = !word.empty();
        for (char ch : word)
            if (!((ch >= '0' && ch <= '9') || ch == '-' || ch == '+' || ch == '.' || ch == 'e' ||
                  ch == 'E'))
                number = false;
        if (!number) return Fail("expected a value");
        v = word;
        return true;
    }

    bool Object(JsonFlatObject& o) {
        Skip();
        o.line = m_line;
        if (!Expect('{', "an object ({...})")) return false;
        if (Take('}')) return true;
        do {
            JsonMember m;
            Skip();
            m.line = m_line;
            if (!String(m.key) || !Expect(':', "':' after a key") || !Scalar(m.value)) return false;
            o.members.push_back(std::move(m));
        } while (Take(','));
        return Expect('}', "',' or '}'");
    }

private:
    std::string_view m_t;
    std::size_t m_i = 0;
    int m_line = 1;
};

}  // namespace

JsonFlatArray ReadJsonFlatArray(std::string_view text) {
    JsonFlatArray out;
    FlatReader r(text);
    auto done = [&] {
        out.error = r.error;
        out.errorLine = r.errorLine;
        return out;
    };
    if (!r.Expect('[', "a list of objects ([{...}, ...])")) return done();
    if (!r.Take(']')) {
        do {
            JsonFlatObject o;
            if (!r.Object(o)) return done();
            out.objects.push_back(std::move(o));
        } while (r.Take(','));
        if (!r.Expect(']', "',' or ']'")) return done();
    }
    if (!r.AtEnd()) r.Fail("text after the end of the list");
    return done();
}

std::optional<JsonFlatObject> ReadJsonFlatObject(std::string_view text) {
    FlatReader r(text);
    JsonFlatObject o;
    if (!r.Object(o) || !r.AtEnd()) return std::nullopt;
    return o;
}

}  // namespace fd
