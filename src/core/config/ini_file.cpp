#include "config/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "wire/utf8.h"

namespace fd {
namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kBom = "\xEF\xBB\xBF";
// More distinct files than this are never read by one run; the bound only guards memory.
constexpr std::size_t kMaxCachedFiles = 64;

std::string_view Trim(std::string_view s) {
    const auto first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// What one line of an INI file is, without its line end.
struct LineInfo {
    enum Kind { kOther, kSection, kKey } kind = kOther;
    std::string_view name;   // section name or key, trimmed
    std::string_view value;  // trimmed, quotes not yet removed
};

LineInfo Classify(std::string_view line) {
    LineInfo info;
    const std::string_view t = Trim(line);
    if (t.empty() || t.front() == ';') return info;
    if (t.front() == '[') {
        std::string_view inner = t.substr(1);
        const auto close = inner.find(']');
        if (close != std::string_view::npos) inner = inner.substr(0, close);
        info.kind = LineInfo::kSection;
        info.name = Trim(inner);
        return info;
    }
    const auto eq = t.find('=');
    if (eq == std::string_view::npos) return info;
    info.name = Trim(t.substr(0, eq));
    if (info.name.empty()) return info;
    info.kind = LineInfo::kKey;
    info.value = Trim(t.substr(eq + 1));
    return info;
}

std::string_view CleanValue(std::string_view v) {
    // A value is a C string to the programs these files come from: a NUL ends it.
    const auto nul = v.find('\0');
    if (nul != std::string_view::npos) v = Trim(v.substr(0, nul));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
    }
    return v;
}

// Calls fn(lineWithoutEnd, lineWithEnd) for every line; the BOM is not part of line one.
template <typename Fn>
void ForEachLine(std::string_view data, Fn&& fn) {
    std::size_t pos = 0;
    if (data.substr(0, kBom.size()) == kBom) pos = kBom.size();
    while (pos < data.size()) {
        auto nl = data.find('\n', pos);
        const std::size_t end = nl == std::string_view::npos ? data.size() : nl + 1;
        std::string_view full = data.substr(pos, end - pos);
        std::string_view bare = full;
        if (!bare.empty() && bare.back() == '\n') bare.remove_suffix(1);
        if (!bare.empty() && bare.back() == '\r') bare.remove_suffix(1);
        fn(bare, full, pos);
        pos = end;
    }
}

using KeyMap = std::unordered_map<std::string, std::string>;

struct ParsedIni {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
    timespec ctime{};
    std::unordered_map<std::string, KeyMap> sections;  // lower-case names
};

bool SameFile(const ParsedIni& p, const struct stat& st) {
    return p.dev == st.st_dev && p.ino == st.st_ino && p.size == st.st_size &&
           p.mtime.tv_sec == st.st_mtim.tv_sec && p.mtime.tv_nsec == st.st_mtim.tv_nsec &&
           p.ctime.tv_sec == st.st_ctim.tv_sec && p.ctime.tv_nsec == st.st_ctim.tv_nsec;
}

// Reads the whole file; false when it cannot be read or is unreasonably large.
bool ReadWholeFile(int fd, std::size_t size, std::string& out) {
    out.clear();
    if (size > kMaxIniFileBytes) return false;
    out.resize(size);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, out.data() + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    out.resize(got);
    return true;
}

std::shared_ptr<const ParsedIni> Parse(const std::string& path) {
    // O_NONBLOCK: a FIFO in place of the file must not hang the caller in open().
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    struct stat st {};
    std::string data;
    const bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                    ReadWholeFile(fd, static_cast<std::size_t>(st.st_size), data);
    ::close(fd);
    if (!ok) return nullptr;

    auto parsed = std::make_shared<ParsedIni>();
    parsed->dev = st.st_dev;
    parsed->ino = st.st_ino;
    parsed->size = st.st_size;
    parsed->mtime = st.st_mtim;
    parsed->ctime = st.st_ctim;
    KeyMap* current = nullptr;
    ForEachLine(data, [&](std::string_view line, std::string_view, std::size_t) {
        const LineInfo info = Classify(line);
        if (info.kind == LineInfo::kSection) {
            current = &parsed->sections[AsciiLower(info.name)];
        } else if (info.kind == LineInfo::kKey && current != nullptr) {
            // try_emplace keeps the first occurrence of a key.
            current->try_emplace(AsciiLower(info.name), CleanValue(info.value));
        }
    });
    return parsed;
}

class IniCache {
public:
    std::shared_ptr<const ParsedIni> Get(const std::string& path) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            Forget(path);
            return nullptr;
        }
        {
            std::lock_guard lock(m_mutex);
            auto it = m_files.find(path);
            if (it != m_files.end() && SameFile(*it->second, st)) return it->second;
        }
        // Parsed outside the lock: two threads may parse the same file at once, which is
        // harmless, and a slow disk never blocks lookups of other files.
        auto parsed = Parse(path);
        std::lock_guard lock(m_mutex);
        if (!parsed) {
            m_files.erase(path);
            return nullptr;
        }
        if (m_files.size() >= kMaxCachedFiles && m_files.find(path) == m_files.end()) {
            m_files.clear();
        }
        m_files[path] = parsed;
        return parsed;
    }

    void Forget(const std::string& path) {
        std::lock_guard lock(m_mutex);
        m_files.erase(path);
    }

    void Clear() {
        std::lock_guard lock(m_mutex);
        m_files.clear();
    }

private:
    std::mutex m_mutex;
    std::unordered_map<std::string, std::shared_ptr<const ParsedIni>> m_files;
};

IniCache& Cache() {
    static IniCache cache;
    return cache;
}

bool HasLineBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::mutex& WriteMutex() {
    static std::mutex m;
    return m;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool ReplaceFileAtomically(const std::string& path, std::string_view content, mode_t mode) {
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string tmp = (dir.empty() ? std::string() : dir) + "/." + name + ".XXXXXX";
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0) return false;
    bool ok = WriteAll(fd, content) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}

}  // namespace

std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view def, std::size_t size) {
    if (size == 0) return {};
    const std::size_t limit = size - 1;
    section = Trim(section);
    key = Trim(key);
    if (!key.empty()) {
        if (auto parsed = Cache().Get(path)) {
            auto sec = parsed->sections.find(AsciiLower(section));
            if (sec != parsed->sections.end()) {
                auto it = sec->second.find(AsciiLower(key));
                if (it != sec->second.end()) return Utf8Prefix(it->second, limit);
            }
        }
    }
    return Utf8Prefix(def, limit);
}

bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
    section = Trim(section);
    key = Trim(key);
    if (path.empty() || section.empty() || key.empty()) return false;
    if (HasLineBreakOrNul(section) || HasLineBreakOrNul(key) || HasLineBreakOrNul(value))
        return false;
    if (section.find(']') != std::string_view::npos) return false;
    if (key.find('=') != std::string_view::npos || key.front() == '[' || key.front() == ';')
        return false;

    std::lock_guard writeLock(WriteMutex());

    // Write through a symbolic link to its target instead of replacing the link.
    std::string target = path;
    struct stat lst {};
    if (::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }

    std::string data;
    mode_t mode = 0644;
    const int fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
        struct stat st {};
        const bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                        ReadWholeFile(fd, static_cast<std::size_t>(st.st_size), data);
        ::close(fd);
        if (!ok) return false;
        mode = st.st_mode & 07777;
    } else if (errno != ENOENT) {
        return false;
    }

    // New lines follow the file's own line ends.
    const auto firstNl = data.find('\n');
    const std::string eol =
        firstNl != std::string::npos && firstNl > 0 && data[firstNl - 1] == '\r' ? "\r\n" : "\n";
    const std::string newLine = std::string(key) + "=" + std::string(value);

    // First pass: the first line of the key in any section of that name (the one a read
    // finds). Second pass, when there is none: the end of the first such section, i.e. after
    // its last non-blank line, so blank lines before the next section stay where they are.
    bool inSection = false;
    bool sectionSeen = false;
    std::size_t keyBegin = std::string::npos, keyLen = 0;  // the bare text of the key's line
    ForEachLine(data, [&](std::string_view bare, std::string_view, std::size_t pos) {
        if (keyBegin != std::string::npos) return;
        const LineInfo info = Classify(bare);
        if (info.kind == LineInfo::kSection) {
            inSection = EqualsNoCase(info.name, section);
            sectionSeen = sectionSeen || inSection;
        } else if (inSection && info.kind == LineInfo::kKey && EqualsNoCase(info.name, key)) {
            keyBegin = pos;
            keyLen = bare.size();
        }
    });

    std::size_t insertAt = std::string::npos;
    bool insertNeedsEol = false;  // the section's last line has no line end (end of file)
    if (keyBegin == std::string::npos && sectionSeen) {
        bool inFirst = false;
        bool done = false;
        ForEachLine(data, [&](std::string_view bare, std::string_view full, std::size_t pos) {
            if (done) return;
            const LineInfo info = Classify(bare);
            if (info.kind == LineInfo::kSection) {
                if (inFirst) {
                    done = true;
                    return;
                }
                inFirst = EqualsNoCase(info.name, section);
                if (!inFirst) return;
            } else if (!inFirst || Trim(bare).empty()) {
                return;
            }
            insertAt = pos + full.size();
            insertNeedsEol = full.empty() || full.back() != '\n';
        });
    }

    std::string out;
    out.reserve(data.size() + newLine.size() + section.size() + 8);
    if (keyBegin != std::string::npos) {
        out.append(data, 0, keyBegin);
        out += newLine;
        out.append(data, keyBegin + keyLen, std::string::npos);
    } else if (sectionSeen) {
        out.append(data, 0, insertAt);
        if (insertNeedsEol) out += eol;
        out += newLine;
        out += eol;
        out.append(data, insertAt, std::string::npos);
    } else {
        out = data;
        if (!out.empty() && out.back() != '\n') out += eol;
        out += "[";
        out += section;
        out += "]";
        out += eol;
        out += newLine;
        out += eol;
    }

    const bool ok = ReplaceFileAtomically(target, out, mode);
    Cache().Forget(target);
    Cache().Forget(path);
    return ok;
}

void ClearProfileCache() {
    Cache().Clear();
}

}  // namespace fd
