// The upgrade's handle on the real FileServer program: settings file, start, watch, stop.

#include "actions/file_server_control.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "config/ini_file.h"
#include "fileserver/tftp_client.h"
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

}  // namespace

TEST(FileServerControl, ServesTheFolderItWasPointedAtAndStopsWhenAsked) {
    fd::test::TempDir tmp;
    // A copy under a name of this test alone, so the sweep by name touches nothing else.
    const std::string program = tmp.Path("FileServer-t" + std::to_string(::getpid()));
    fs::copy_file(std::string(std::getenv("FD_BIN_DIR")) + "/FileServer", program);
    tmp.Write("images1/fw.bin", "first image");
    tmp.Write("images2/fw.bin", "second image");

    fd::CFileServerControl::Options o;
    o.program = program;
    o.port = FreeUdpPort();
    o.extraArgs = {"--quiet", "--bind", "127.0.0.1"};
    fd::CFileServerControl c(o);
    EXPECT_EQ(c.IniPath(), tmp.Path("FileServer.ini"));  // beside the program
    EXPECT_FALSE(c.NeedsElevation());
    EXPECT_FALSE(c.IsRunning());

    for (const char* folder : {"images1", "images2"}) {
        // The restart of an upgrade: stop, point at the folder, start.
        c.Stop();
        ASSERT_TRUE(c.WriteDirectory(tmp.Path(folder)));
        EXPECT_EQ(fd::ReadProfileString(c.IniPath(), "SERVER", "Directory", "", 1024),
                  tmp.Path(folder));
        c.Start();
        ASSERT_TRUE(WaitRunning(c, true));
        fd::tftp::FetchResult r;
        for (int i = 0; i < 50 && !r.ok; ++i) {
            fd::tftp::FetchOptions fo;
            fo.wait = std::chrono::milliseconds(100);
            r = fd::tftp::Fetch("127.0.0.1", o.port, "fw.bin", fo);
        }
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(std::string(r.data.begin(), r.data.end()),
                  std::string(folder) == "images1" ? "first image" : "second image");
    }
    c.Stop();
    EXPECT_FALSE(c.IsRunning());
}

TEST(FileServerControl, ServerEndsWhenItsStarterGoesAway) {
    // Even a server we may not signal (started elevated) must not outlive its starter: it
    // watches the pipe on its standard input.
    fd::test::TempDir tmp;
    const std::string name = "FileServer-u" + std::to_string(::getpid());
    const std::string program = tmp.Path(name);
    fs::copy_file(std::string(std::getenv("FD_BIN_DIR")) + "/FileServer", program);
    fs::create_directories(tmp.Path("img"));
    fd::CFileServerControl::Options o;
    o.program = program;
    o.port = FreeUdpPort();
    o.extraArgs = {"--quiet", "--bind", "127.0.0.1"};
    // Left alone long enough that only a server which never leaves by itself is killed.
    o.stopWait = std::chrono::seconds(60);
    const auto t0 = std::chrono::steady_clock::now();
    {
        fd::CFileServerControl c(o);
        c.WriteDirectory(tmp.Path("img"));
        c.Start();
        ASSERT_TRUE(WaitRunning(c, true));
    }  // no Stop(): only the pipe closes
    EXPECT_EQ(COperateSystemInfo::FindProcessByName(name), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, o.stopWait);
}
