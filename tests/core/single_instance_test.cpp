#include "system/single_instance.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

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

TEST(RuntimeDirectory, PrefersXdgRuntimeDir) {
    char tmpl[] = "/tmp/fd-xdg-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = old != nullptr ? old : "";
    setenv("XDG_RUNTIME_DIR", tmpl, 1);
    EXPECT_EQ(fd::RuntimeDirectory(), tmpl);
    unsetenv("XDG_RUNTIME_DIR");
    const std::string fallback = fd::RuntimeDirectory();
    EXPECT_EQ(fallback, "/tmp/fielddesk-" + std::to_string(geteuid()));
    struct stat st {};
    ASSERT_EQ(stat(fallback.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    if (old != nullptr) setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    rmdir(tmpl);
}

}  // namespace
