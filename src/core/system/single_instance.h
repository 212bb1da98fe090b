#pragma once
// Only one copy of the program runs per user: a lock file in the user's runtime directory,
// locked with flock() and held for the life of the process. The kernel drops the lock when
// the process ends, however it ends.

#include <string>

namespace fd {

// $XDG_RUNTIME_DIR when set and usable, else PrivateTempDirectory(). Empty when neither is
// usable.
std::string RuntimeDirectory();

class SingleInstanceLock {
public:
    SingleInstanceLock() = default;
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    enum class Result { Acquired, AlreadyRunning, Unavailable };

    // Tries to take the lock named `name` in `directory` (RuntimeDirectory() when empty).
    // Unavailable: the lock file cannot be made; the caller decides whether to run anyway.
    Result Acquire(const std::string& name, const std::string& directory = {});
    void Release();
    bool Held() const { return m_fd >= 0; }
    const std::string& Path() const { return m_path; }

private:
    int m_fd = -1;
    std::string m_path;
};

}  // namespace fd
