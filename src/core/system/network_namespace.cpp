#include "system/network_namespace.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace fd {

bool EnterNetworkNamespace(const std::string& nameOrPath, std::string* error) {
    if (nameOrPath.empty()) {
        if (error) *error = "no namespace given";
        return false;
    }
    std::string path = nameOrPath.front() == '/' ? nameOrPath : "/run/netns/" + nameOrPath;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = setns(fd, CLONE_NEWNET) == 0;
    if (!ok && error) *error = "setns " + path + ": " + std::strerror(errno);
    close(fd);
    return ok;
}

int SaveNetworkNamespace() {
    // thread-self, not self: the namespace is a property of the thread.
    return open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
}

bool ReturnToNetworkNamespace(int savedFd) {
    if (savedFd < 0) return false;
    bool ok = setns(savedFd, CLONE_NEWNET) == 0;
    close(savedFd);
    return ok;
}

}  // namespace fd
