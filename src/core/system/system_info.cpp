#include "system/system_info.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

namespace fd {

std::string GetExecutableDirectory() {
    std::vector<char> buf(PATH_MAX);
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) break;
        if (static_cast<std::size_t>(n) < buf.size()) {
            std::string path(buf.data(), static_cast<std::size_t>(n));
            // A replaced executable reads as "/dir/name (deleted)"; only the folder matters.
            const auto slash = path.rfind('/');
            if (slash != std::string::npos) return path.substr(0, slash + 1);
            break;
        }
        buf.resize(buf.size() * 2);  // path longer than the buffer: try again
    }
    if (char* cwd = ::getcwd(nullptr, 0)) {
        std::string dir(cwd);
        ::free(cwd);
        if (dir.empty() || dir.back() != '/') dir += '/';
        return dir;
    }
    return "./";
}

const std::string& GetExecutableDirectoryCached() {
    static const std::string dir = GetExecutableDirectory();
    return dir;
}

std::string PrivateTempDirectory() {
    std::string base = "/tmp";
    if (const char* t = std::getenv("TMPDIR"); t != nullptr && t[0] == '/') {
        struct stat st {};
        if (stat(t, &st) == 0 && S_ISDIR(st.st_mode)) base = t;
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    const std::string stem = base + "/fielddesk-" + std::to_string(geteuid());
    for (int i = 0; i < 10; ++i) {
        const std::string dir = i == 0 ? stem : stem + "-" + std::to_string(i);
        if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) continue;
        // Trusted only when it is a real folder of ours that nobody else can write to: a
        // planted folder or link must not receive our files.
        struct stat st {};
        if (lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
            (st.st_mode & 0077) == 0 && access(dir.c_str(), W_OK | X_OK) == 0)
            return dir;
    }
    return {};
}

}  // namespace fd
