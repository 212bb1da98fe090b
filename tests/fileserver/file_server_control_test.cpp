// The upgrade's handle on the real FileServer program: settings file, start, watch, stop.

#include "actions/file_server_control.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "config/ini_file.h"
#include "fileserver/tftp_client.h"
#include "fileserver/tftp_protocol.h"
#include "store/sql_management.h"
#include "support/temp_dir.h"
#include "system/system_info.h"

namespace fs = std::filesystem;

namespace {

uint16_t FreeUdpPort() {
    int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

bool WaitRunning(fd::CFileServerControl& c, bool want) {
    for (int i = 0; i < 3000; ++i) {  // 30 s: a cold start may take seconds
        if (c.IsRunning() == want) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// A copy of the program under a name of this test alone, so the sweep by name touches
// nothing else.
std::string OwnProgram(const fd::test::TempDir& tmp, const std::string& tag) {
    const std::string program = tmp.Path("FileServer-" + tag + std::to_string(::getpid()));
    fs::copy_file(std::string(std::getenv("FD_BIN_DIR")) + "/FileServer", program);
    return program;
}

fd::tftp::FetchResult FetchWhenUp(uint16_t port, const std::string& name) {
    fd::tftp::FetchResult r;
    for (int i = 0; i < 50; ++i) {
        fd::tftp::FetchOptions fo;
        fo.wait = std::chrono::milliseconds(100);
        fo.retries = 1;
        r = fd::tftp::Fetch("127.0.0.1", port, name, fo);
        if (r.ok || r.errorCode != 0) break;  // an answer, whatever it is
    }
    return r;
}

}  // namespace

TEST(FileServerControl, ServesThePickedImageAloneFromAPrivateFolderThatGoesWithIt) {
    fd::test::TempDir tmp, work;
    // The image picked from a busy folder, through a link from another one.
    tmp.Write("downloads/fw-1.0.bin", "first image");
    tmp.Write("downloads/.netrc", "machine x password y");
    fs::permissions(tmp.Path("downloads/.netrc"), fs::perms(0600));
    tmp.Write("downloads/other.bin", "other image");
    fs::create_directories(tmp.Path("links"));
    fs::create_symlink("../downloads/fw-1.0.bin", tmp.Path("links/current.bin"));

    fd::CFileServerControl::Options o;
    o.program = OwnProgram(tmp, "t");
    o.port = FreeUdpPort();
    o.extraArgs = {"--quiet"};
    o.workDirectory = work.Path("run");
    fs::create_directories(o.workDirectory);
    fd::CFileServerControl c(o);
    EXPECT_EQ(c.IniPath(), tmp.Path("FileServer.ini"));  // beside the program
    EXPECT_FALSE(c.NeedsElevation());
    EXPECT_FALSE(c.IsRunning());

    // The restart of an upgrade: stop, the image, start.
    c.Stop();
    ASSERT_TRUE(c.ServeImage(tmp.Path("links/current.bin"), {"127.0.0.1"}));
    const std::string folder = c.ServedFolder();
    ASSERT_EQ(folder.rfind(o.workDirectory + "/", 0), 0u) << folder;
    EXPECT_EQ(fd::ReadProfileString(c.IniPath(), "SERVER", "Directory", "", 1024), folder);
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    std::vector<std::string> held;
    for (const auto& e : fs::directory_iterator(folder)) held.push_back(e.path().filename());
    EXPECT_EQ(held, std::vector<std::string>{"current.bin"});
    // The same file (a hard link), not the link: the server follows no link out of it.
    EXPECT_FALSE(fs::is_symlink(folder + "/current.bin"));
    EXPECT_EQ(fs::hard_link_count(tmp.Path("downloads/fw-1.0.bin")), 2u);

    c.Start();
    ASSERT_TRUE(WaitRunning(c, true));
    auto r = FetchWhenUp(o.port, "current.bin");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(std::string(r.data.begin(), r.data.end()), "first image");
    for (const char* name : {".netrc", "other.bin", "fw-1.0.bin", "FileServer.ini"})
        EXPECT_EQ(FetchWhenUp(o.port, name).errorCode, fd::tftp::ERR_NOT_FOUND) << name;
    EXPECT_EQ(c.HeardFrom("127.0.0.1"), true);
    EXPECT_EQ(c.HeardFrom("127.0.0.2"), false);
    EXPECT_EQ(c.Failure(), "");

    c.Stop();
    EXPECT_FALSE(c.IsRunning());
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_EQ(fs::hard_link_count(tmp.Path("downloads/fw-1.0.bin")), 1u);
    // What it heard is still known after the stop (the reasons are given then).
    EXPECT_EQ(c.HeardFrom("127.0.0.1"), true);

    // Where no hard link can be made (another file system), a copy of our own.
    if (::access("/dev/shm", W_OK) == 0) {
        fd::CFileServerControl::Options shm = o;
        shm.workDirectory = "/dev/shm";
        fd::CFileServerControl d(shm);
        ASSERT_TRUE(d.ServeImage(tmp.Path("links/current.bin"), {}));
        struct stat a {};
        struct stat b {};
        ::stat(tmp.Path("downloads/fw-1.0.bin").c_str(), &a);
        ::stat((d.ServedFolder() + "/current.bin").c_str(), &b);
        if (a.st_dev != b.st_dev) {
            EXPECT_EQ(b.st_mode & 07777, 0600u);
            EXPECT_EQ(fd::test::TempDir::Read(d.ServedFolder() + "/current.bin"), "first image");
        }
        const std::string gone = d.ServedFolder();
        d.Stop();
        EXPECT_FALSE(fs::exists(gone));
    }
    // Nothing to serve: a missing image or a folder.
    EXPECT_FALSE(c.ServeImage(tmp.Path("downloads/missing.bin"), {}));
    EXPECT_FALSE(c.ServeImage(tmp.Path("downloads"), {}));
    EXPECT_TRUE(fs::is_empty(o.workDirectory));
}

TEST(FileServerControl, APortThatIsTakenIsReportedAsTheReason) {
    fd::test::TempDir tmp, work;
    tmp.Write("img/fw.bin", "image");
    // Someone else holds the port on the address the devices need.
    const int holder = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ::getsockname(holder, reinterpret_cast<sockaddr*>(&a), &len);

    fd::CFileServerControl::Options o;
    o.program = OwnProgram(tmp, "p");
    o.port = ntohs(a.sin_port);
    o.extraArgs = {"--quiet"};
    o.workDirectory = work.Dir();
    fd::CFileServerControl c(o);
    ASSERT_TRUE(c.ServeImage(tmp.Path("img/fw.bin"), {"127.0.0.1"}));
    c.Start();
    std::string why;
    for (int i = 0; i < 3000 && why.empty(); ++i) {  // 30 s: a cold start may take seconds
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        why = c.Failure();
    }
    EXPECT_NE(why.find("cannot bind UDP port " + std::to_string(o.port)), std::string::npos) << why;
    EXPECT_FALSE(c.IsRunning());
    c.Stop();
    EXPECT_EQ(c.Failure(), why);
    ::close(holder);
}

TEST(FileServerControl, ServerEndsWhenItsStarterGoesAway) {
    // Even a server we may not signal (started elevated) must not outlive its starter: it
    // watches the pipe on its standard input.
    fd::test::TempDir tmp;
    const std::string name = "FileServer-u" + std::to_string(::getpid());
    const std::string program = tmp.Path(name);
    fs::copy_file(std::string(std::getenv("FD_BIN_DIR")) + "/FileServer", program);
    tmp.Write("img/fw.bin", "image");
    fd::CFileServerControl::Options o;
    o.program = program;
    o.port = FreeUdpPort();
    o.extraArgs = {"--quiet"};
    o.workDirectory = tmp.Dir();
    // Left alone long enough that only a server which never leaves by itself is killed.
    o.stopWait = std::chrono::seconds(60);
    const auto t0 = std::chrono::steady_clock::now();
    {
        fd::CFileServerControl c(o);
        ASSERT_TRUE(c.ServeImage(tmp.Path("img/fw.bin"), {"127.0.0.1"}));
        c.Start();
        ASSERT_TRUE(WaitRunning(c, true));
    }  // no Stop(): only the pipe closes
    EXPECT_EQ(COperateSystemInfo::FindProcessByName(name), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, o.stopWait);
}

// An installed program's folder (<prefix>/lib/fielddesk/) stays as the package left it,
// whoever runs the program: root can write there, and so can this test; the upgrade's
// settings file and the scratch database go to the runtime folder all the same.
TEST(FileServerControl, AnInstalledProgramWritesNothingIntoItsFolder) {
    fd::test::TempDir tmp, images, runtime;
    const std::string lib = tmp.Path("usr/lib/fielddesk");
    fs::create_directories(lib);
    const std::string program = lib + "/FileServer-installed" + std::to_string(::getpid());
    fs::copy_file(std::string(std::getenv("FD_BIN_DIR")) + "/FileServer", program);
    images.Write("fw-9.9.bin", "installed image");
    const std::string runtimeDir = runtime.Dir().substr(0, runtime.Dir().size() - 1);
    const char* oldRuntime = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedRuntime = oldRuntime ? oldRuntime : "";
    ::setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
    auto listing = [&] {
        std::vector<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(tmp.Dir()))
            names.push_back(e.path().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    const auto before = listing();

    fd::CFileServerControl::Options o;
    o.program = program;
    o.port = FreeUdpPort();
    o.extraArgs = {"--quiet"};
    {
        fd::CFileServerControl c(o);
        EXPECT_EQ(c.IniPath(), runtime.Path("FileServer.ini"));
        ASSERT_TRUE(c.ServeImage(images.Path("fw-9.9.bin"), {"127.0.0.1"}));
        c.Start();
        ASSERT_TRUE(WaitRunning(c, true)) << c.Failure();
        const auto r = FetchWhenUp(o.port, "fw-9.9.bin");
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(std::string(r.data.begin(), r.data.end()), "installed image");
        c.Stop();
    }
    EXPECT_EQ(fd::ChooseDatabaseDirectory(lib + "/"), runtime.Dir());
    // Beside a program of a build tree, both stay where they were.
    EXPECT_EQ(fd::ChooseDatabaseDirectory(tmp.Dir()), tmp.Dir());
    EXPECT_EQ(listing(), before);
    if (oldRuntime)
        ::setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
}
