// Starting, finding and ending programs by name, and the version mark of our programs.

#include "system/system_info.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// A copy of sleep(1) under a name nobody else uses, in a folder anyone may enter.
struct Sleeper {
    fd::test::TempDir tmp;
    std::string name = "fd-sleeper-" + std::to_string(::getpid());
    std::string path;
    Sleeper() {
        path = tmp.Path(name);
        fs::copy_file("/bin/sleep", path);
        ::chmod(tmp.Dir().c_str(), 0755);
        ::chmod(path.c_str(), 0755);
    }
    // Runs it as another user (a forked child that drops to uid 65534 first). The program is
    // opened before the drop: the other user may not be allowed through the folders above
    // the temporary one (a private, owner-only TMPDIR), and only the file itself matters.
    pid_t StartAs(uid_t uid) const {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return -1;
        pid_t pid = ::fork();
        if (pid == 0) {
            if (uid != ::getuid() && (::setgid(uid) != 0 || ::setuid(uid) != 0)) _exit(99);
            std::string arg0 = name, arg1 = "30";
            char* argv[] = {arg0.data(), arg1.data(), nullptr};
            ::fexecve(fd, argv, environ);
            _exit(98);
        }
        ::close(fd);
        return pid;
    }
};

bool Alive(pid_t pid) {
    return ::waitpid(pid, nullptr, WNOHANG) == 0;
}

}  // namespace

// Whether a forked child can become another user (root with that uid mapped).
bool CanRunAsOtherUser() {
    const pid_t pid = ::fork();
    if (pid == 0) _exit(::setgid(65534) == 0 && ::setuid(65534) == 0 ? 0 : 1);
    int st = 0;
    ::waitpid(pid, &st, 0);
    return WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

TEST(ProcessControl, OnlyTheCurrentUsersProcessesOfThatNameAreFoundAndEnded) {
    // A made-up process table: the same name under another user, our own processes of
    // other names, our own one (its file replaced since), and a finished one.
    fd::test::TempDir proc;
    const uid_t me = ::getuid();
    auto add = [&](int pid, uid_t uid, char state, const std::string& exe) {
        const std::string dir = proc.Path(std::to_string(pid));
        proc.Write(std::to_string(pid) + "/status", "Name:\tx\nState:\t" + std::string(1, state) +
                                                        " (x)\nUid:\t" + std::to_string(uid) +
                                                        "\t" + std::to_string(uid) + "\n");
        if (!exe.empty()) fs::create_symlink(exe, dir + "/exe");
    };
    add(4000001, me + 1, 'S', "/opt/other/FileServer");
    add(4000002, me, 'S', "/usr/bin/FileServer-old");
    add(4000003, me, 'S', "/home/me/bin/FileServer (deleted)");
    add(4000004, me, 'Z', "");
    fs::create_directories(proc.Path("self"));
    std::string root = proc.Dir();
    root.pop_back();
    EXPECT_EQ(COperateSystemInfo::ProcessesByName("FileServer", root), std::vector<pid_t>{4000003});

    // The same with real processes, where this machine lets a child become another user.
    if (::getuid() != 0 || !CanRunAsOtherUser()) return;
    Sleeper s;
    const pid_t stranger = s.StartAs(65534);
    pid_t mine = 0;
    ASSERT_TRUE(COperateSystemInfo::RunProcess(s.path, {"30"}, false, {}, &mine));
    // Both must be running the program before the sweep, or it proves nothing.
    for (int i = 0; i < 3000 && COperateSystemInfo::FindProcessByName(s.name) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(COperateSystemInfo::FindProcessByName(s.name), mine);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(Alive(stranger));

    EXPECT_TRUE(COperateSystemInfo::KillProcessesByName(s.name));
    EXPECT_EQ(COperateSystemInfo::FindProcessByName(s.name), 0);
    EXPECT_FALSE(Alive(mine));
    EXPECT_TRUE(Alive(stranger)) << "another user's process of the same name was ended";

    ::kill(stranger, SIGKILL);
    ::waitpid(stranger, nullptr, 0);
}

TEST(ProcessControl, AProcessIgnoringTermIsEndedByForceInTime) {
    Sleeper s;
    // A process that ignores SIGTERM is ended by force; the sweep ends in time either way.
    std::string script =
        s.tmp.Write("stubborn", "#!/bin/sh\ntrap '' TERM\nexec " + s.path + " 30\n");
    ::chmod(script.c_str(), 0755);
    pid_t pid = 0;
    ASSERT_TRUE(COperateSystemInfo::RunProcess(script, {}, false, {}, &pid));
    for (int i = 0; i < 3000 && COperateSystemInfo::FindProcessByName(s.name) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const auto t0 = std::chrono::steady_clock::now();
    // Force after half the patience; the other half is for the killed process to go, which
    // on a loaded machine is not always a matter of milliseconds.
    EXPECT_TRUE(COperateSystemInfo::KillProcessesByName(s.name, std::chrono::milliseconds(4000)));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(15));  // not its 30 s
    EXPECT_FALSE(Alive(pid));
}

TEST(ProcessControl, RunProcessReportsMissingAndFailingPrograms) {
    fd::test::TempDir tmp;
    EXPECT_FALSE(COperateSystemInfo::RunProcess(tmp.Path("missing"), {}, true));
    EXPECT_FALSE(COperateSystemInfo::RunProcess(tmp.Path("missing"), {}, false, "runas"));
    // It runs in its own folder, with the arguments as given (no shell in between).
    std::string script =
        tmp.Write("where", "#!/bin/sh\npwd > out.txt\necho \"$1\" >> out.txt\nexit \"$2\"\n");
    ::chmod(script.c_str(), 0755);
    EXPECT_TRUE(COperateSystemInfo::RunProcess(script, {"a b;c", "0"}, true));
    const std::string out = fd::test::TempDir::Read(tmp.Path("out.txt"));
    EXPECT_EQ(out, fs::canonical(tmp.Dir()).string() + "\na b;c\n");
    EXPECT_FALSE(COperateSystemInfo::RunProcess(script, {"x", "3"}, true));
    // Elevation is asked for only by someone who lacks it.
    if (::geteuid() == 0) {
        EXPECT_TRUE(COperateSystemInfo::RunProcess(script, {"y", "0"}, true, "runas"));
    }
}

TEST(SystemInfo, FileVersionOfOurProgramsOnly) {
    std::string text = "unchanged";
    EXPECT_FALSE(COperateSystemInfo::GetFileVersionText("/bin/sh", text));
    EXPECT_EQ(text, "unchanged");
    EXPECT_FALSE(COperateSystemInfo::GetFileVersionText("/no/such/file", text));
    // This test program is built from the tree, so it carries the mark.
    ASSERT_TRUE(COperateSystemInfo::GetFileVersionText("/proc/self/exe", text));
    EXPECT_EQ(text, fd::OwnFileVersionText());
    EXPECT_EQ(std::count(text.begin(), text.end(), '.'), 3);
    EXPECT_EQ(COperateSystemInfo::GetExecutableDirectory().back(), '/');
}
