#pragma once
// INI files read and written with the profile-string rules the settings, language and file
// server files were authored for:
//  - section and key names match without regard to ASCII letter case, blanks around them
//    ignored; the first matching key wins (also across repeated sections of one name);
//  - blanks around the value are trimmed, and one pair of matching surrounding quotes
//    ('...' or "...") is removed;
//  - a present key with an empty value reads as empty, only a missing key gives the default;
//  - the value is cut to size-1 bytes, never in the middle of a UTF-8 character;
//  - CRLF or LF line ends, an optional UTF-8 byte order mark, ';' comment lines; lines
//    without '=' inside a section are ignored.
// Parsed files are cached per path and revalidated with stat() on every read, so reading a
// file once per looked-up text stays cheap. All functions are safe from any thread.

#include <cstddef>
#include <string>
#include <string_view>

namespace fd {

// Files larger than this are treated as unreadable (no INI file of ours comes near it).
inline constexpr std::size_t kMaxIniFileBytes = 16 * 1024 * 1024;

// Reads one value; `def` when the file, the section or the key is missing. `size` is the
// caller's buffer size: at most size-1 bytes are returned (0 gives empty text).
std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view def, std::size_t size);

// Sets one key of one section, creating the file or the section when missing. Every other
// line stays byte for byte as it was. The file is replaced atomically (temporary file in the
// same folder, then rename). Names or values that would break the file's structure (line
// breaks, NUL, '=' or a leading '[' or ';' in a key, ']' in a section) are refused.
bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);

// Forgets every cached file (tests; a program never needs it).
void ClearProfileCache();

}  // namespace fd

// One INI file, for the places that read and write the same file several times.
class COperateFileIni {
public:
    explicit COperateFileIni(std::string path) : m_path(std::move(path)) {}

    const std::string& GetPath() const { return m_path; }

    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view def = {}, std::size_t size = 1024) const {
        return fd::ReadProfileString(m_path, section, key, def, size);
    }
    bool WriteString(std::string_view section, std::string_view key, std::string_view value) {
        return fd::WriteProfileString(m_path, section, key, value);
    }

private:
    std::string m_path;
};
