#include "system/single_instance.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace {

class SingleInstance : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/fd-instance-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::string m_dir;
};

// A child process that takes the lock and then waits to be killed.
pid_t HoldInChild(const std::string& dir, int readyPipe) {
    const pid_t pid = fork();
    if (pid == 0) {
        fd::SingleInstanceLock lock;
        const char ok =
            lock.Acquire("Norvu_FieldDesk", dir) == fd::SingleInstanceLock::Result::Acquired ? 1
                                                                                             : 0;
        [[maybe_unused]] ssize_t n = write(readyPipe, &ok, 1);
        for (;;) pause();
    }
    return pid;
}

TEST_F(SingleInstance, SecondCopyIsRefusedAndTheLockDiesWithItsProcess) {
    int pipefd[2];
    ASSERT_EQ(pipe(pipefd), 0);
    const pid_t child = HoldInChild(m_dir, pipefd[1]);
    ASSERT_GT(child, 0);
    char ok = 0;
    ASSERT_EQ(read(pipefd[0], &ok, 1), 1);
    ASSERT_EQ(ok, 1);

    fd::SingleInstanceLock second;
    EXPECT_EQ(second.Acquire("Norvu_FieldDesk", m_dir),
              fd::SingleInstanceLock::Result::AlreadyRunning);
    EXPECT_FALSE(second.Held());

    // Killed, not exited: the kernel still drops the lock.
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(second.Acquire("Norvu_FieldDesk", m_dir), fd::SingleInstanceLock::Result::Acquired);
    EXPECT_TRUE(second.Held());
    close(pipefd[0]);
    close(pipefd[1]);
}

TEST_F(SingleInstance, ReleaseLetsTheNextCopyStart) {
    fd::SingleInstanceLock first;
    ASSERT_EQ(first.Acquire("Norvu_FieldDesk", m_dir), fd::SingleInstanceLock::Result::Acquired);
    fd::SingleInstanceLock second;
    EXPECT_EQ(second.Acquire("Norvu_FieldDesk", m_dir),
              fd::SingleInstanceLock::Result::AlreadyRunning);
    first.Release();
    EXPECT_EQ(second.Acquire("Norvu_FieldDesk", m_dir), fd::SingleInstanceLock::Result::Acquired);
    // Another name is another lock.
    fd::SingleInstanceLock other;
    EXPECT_EQ(other.Acquire("Other", m_dir), fd::SingleInstanceLock::Result::Acquired);
}

TEST_F(SingleInstance, LockIsNotInheritedByProgramsWeStart) {
    fd::SingleInstanceLock lock;
    ASSERT_EQ(lock.Acquire("Norvu_FieldDesk", m_dir), fd::SingleInstanceLock::Result::Acquired);
    // A started program (exec) must not keep the lock alive after we are gone.
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c",
              "ls -l /proc/$$/fd | grep -q Norvu_FieldDesk && exit 1; exit 0",
              static_cast<char*>(nullptr));
        _exit(3);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(SingleInstance, PlantedSymlinkIsNotFollowed) {
    // A symlink planted where the lock file goes must not be followed.
    const std::string target = m_dir + "/elsewhere";
    ASSERT_EQ(symlink(target.c_str(), (m_dir + "/Norvu_FieldDesk").c_str()), 0);
    fd::SingleInstanceLock lock;
    EXPECT_EQ(lock.Acquire("Norvu_FieldDesk", m_dir), fd::SingleInstanceLock::Result::Unavailable);
    EXPECT_FALSE(std::filesystem::exists(target));
}

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old;
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (m_old)
            setenv(m_name, m_old->c_str(), 1);
        else
            unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

TEST_F(SingleInstance, RuntimeDirectoryPrefersXdgThenAPrivateFolderInTmpdir) {
    const std::string xdg = m_dir + "/xdg";
    ASSERT_EQ(mkdir(xdg.c_str(), 0700), 0);
    ScopedEnv tmpdir("TMPDIR", m_dir.c_str());
    {
        ScopedEnv runtime("XDG_RUNTIME_DIR", xdg.c_str());
        EXPECT_EQ(fd::RuntimeDirectory(), xdg);
    }
    ScopedEnv runtime("XDG_RUNTIME_DIR", nullptr);
    const std::string fallback = fd::RuntimeDirectory();
    EXPECT_EQ(fallback, m_dir + "/fielddesk-" + std::to_string(geteuid()));
    struct stat st {};
    ASSERT_EQ(stat(fallback.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(fd::RuntimeDirectory(), fallback);  // the same folder every time
}

TEST_F(SingleInstance, FolderNameTakenBySomeoneElseIsPassedOver) {
    // What another user can write to (or a link they planted) must not receive our lock
    // or database; the next name that is ours is used, the same one every time.
    ScopedEnv tmpdir("TMPDIR", m_dir.c_str());
    ScopedEnv runtime("XDG_RUNTIME_DIR", nullptr);
    const std::string stem = m_dir + "/fielddesk-" + std::to_string(geteuid());
    ASSERT_EQ(mkdir(stem.c_str(), 0700), 0);
    ASSERT_EQ(chmod(stem.c_str(), 0777), 0);
    ASSERT_EQ(symlink(m_dir.c_str(), (stem + "-1").c_str()), 0);
    EXPECT_EQ(fd::RuntimeDirectory(), stem + "-2");
    EXPECT_EQ(fd::RuntimeDirectory(), stem + "-2");
    fd::SingleInstanceLock lock;
    EXPECT_EQ(lock.Acquire("Norvu_FieldDesk"), fd::SingleInstanceLock::Result::Acquired);
    EXPECT_EQ(lock.Path(), stem + "-2/Norvu_FieldDesk");
}

}  // namespace
