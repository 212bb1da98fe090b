#include "system/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "system/system_info.h"

namespace fd {

std::string RuntimeDirectory() {
    if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg != nullptr && xdg[0] == '/') {
        struct stat st {};
        if (stat(xdg, &st) == 0 && S_ISDIR(st.st_mode)) return xdg;
    }
    return PrivateTempDirectory();
}

SingleInstanceLock::~SingleInstanceLock() {
    Release();
}

SingleInstanceLock::Result SingleInstanceLock::Acquire(const std::string& name,
                                                       const std::string& directory) {
    Release();
    std::string dir = directory.empty() ? RuntimeDirectory() : directory;
    if (dir.empty()) return Result::Unavailable;
    if (dir.back() != '/') dir += '/';
    m_path = dir + name;
    // Close-on-exec: the file server and other programs we start must not keep our lock
    // alive after we are gone.
    const int fd = open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return Result::Unavailable;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool busy = errno == EWOULDBLOCK;
        close(fd);
        return busy ? Result::AlreadyRunning : Result::Unavailable;
    }
    m_fd = fd;
    return Result::Acquired;
}

void SingleInstanceLock::Release() {
    if (m_fd >= 0) {
        close(m_fd);  // closing drops the flock
        m_fd = -1;
    }
}

}  // namespace fd
