#include "system/system_info.h"

#include <unistd.h>

#include <climits>
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

}  // namespace fd
