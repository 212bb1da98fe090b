#pragma once
// A fresh directory under $TMPDIR (or /tmp) for one test, removed with everything in it.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace fd::test {

class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string templ = std::string(base && *base ? base : "/tmp") + "/fielddesk-test-XXXXXX";
        if (char* made = ::mkdtemp(templ.data())) m_path = made;
    }
    ~TempDir() {
        std::error_code ec;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool Ok() const { return !m_path.empty(); }
    // The directory with a trailing '/', the form the program's base directories have.
    std::string Dir() const { return m_path + "/"; }
    std::string Path(std::string_view name) const { return Dir() + std::string(name); }

    // Writes bytes exactly as given, creating parent folders.
    std::string Write(std::string_view name, std::string_view bytes) const {
        const std::string p = Path(name);
        std::filesystem::create_directories(std::filesystem::path(p).parent_path());
        std::ofstream(p, std::ios::binary | std::ios::trunc)
            .write(bytes.data(), std::streamsize(bytes.size()));
        return p;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::string m_path;
};

}  // namespace fd::test
