#include "system/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace fd {

namespace {

bool IsOwnPrivateDir(const std::string& dir) {
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 0022) == 0;
}

}  // namespace

std::string RuntimeDirectory() {
    if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg != nullptr && xdg[0] == '/') {
        struct stat st {};
        if (stat(xdg, &st) == 0 && S_ISDIR(st.st_mode)) return xdg;
    }
    // A shared /tmp: another user could plant the directory (or a link) first, so the
    // folder is only trusted when it is ours and not writable by others.
    std::string dir = "/tmp/fielddesk-" + std::to_string(geteuid());
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return {};
    return IsOwnPrivateDir(dir) ? dir : std::string{};
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
