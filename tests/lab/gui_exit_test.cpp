// The desktop program in the lab: started offscreen in the PC namespace, it learns two
// devices from a search, and a normal end (SIGTERM closes the main window) must tell every
// device it knows that this PC is going away and leave no scratch database behind.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "devsim/device_peer.h"
#include "wire/packet.h"
#include "support/lab.h"

namespace fd::test {
namespace {

using namespace std::chrono_literals;

std::string BinDir() {
    const char* dir = std::getenv("FD_BIN_DIR");
    return dir ? dir : ".";
}

// The search broadcast, sent from an ordinary socket of the PC's address: the devices answer
// the PC's port 9785, where the program listens.
bool BroadcastSearch() {
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return false;
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kPortSearch);
    inet_pton(AF_INET, "198.18.255.255", &to.sin_addr);
    const uint8_t noMac[6] = {};
    auto bytes = EncodeDatagram(CMD_SEARCH, {}, noMac, 0);
    bool ok = sendto(s, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to),
                     sizeof to) == static_cast<ssize_t>(bytes.size());
    close(s);
    return ok;
}

class GuiExitLabTest : public LabTest {};

TEST_F(GuiExitLabTest, NormalExitProbesEveryDeviceAndDeletesTheDatabase) {
    const std::string program = BinDir() + "/fielddesk";
    if (access(program.c_str(), X_OK) != 0) GTEST_SKIP() << "no " << program;
    const std::filesystem::path database = std::filesystem::path(BinDir()) / "data.mdb";

    devsim::PeerOptions po;
    po.netns = m_lab.DevNamespace();
    devsim::DevicePeer peer(po);
    std::vector<std::string> macs;
    for (int i = 0; i < 2; ++i) {
        auto dev = devsim::MakeDevice(i);
        if (i != 0) {  // 198.18.1.1 is there from the start
            ASSERT_TRUE(m_lab.AddDeviceAddresses({dev.address})) << m_lab.Error();
        }
        macs.push_back(dev.MacText());
        peer.AddDevice(dev);
    }
    std::string err;
    ASSERT_TRUE(peer.Start(&err)) << err;

    char runtimeDir[] = "/tmp/fd-gui-exit-XXXXXX";
    ASSERT_NE(mkdtemp(runtimeDir), nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        // The child starts in this thread's namespace: the lab's PC side.
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("XDG_RUNTIME_DIR", runtimeDir, 1);
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(pid, 0);

    // Search until the program has asked both devices for their information.
    bool found = WaitUntil(
        [&] {
            BroadcastSearch();
            return peer.WaitForCommand(CMD_DEVICE_INFO, macs[0], 1, 300ms) &&
                   peer.WaitForCommand(CMD_DEVICE_INFO, macs[1], 1, 300ms);
        },
        15s);
    EXPECT_TRUE(found);
    EXPECT_TRUE(WaitUntil([&] { return std::filesystem::exists(database); }, 5s));
    EXPECT_EQ(peer.CountCommand(CMD_PROBE), 0u);

    kill(pid, SIGTERM);
    int status = -1;
    bool ended = WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 15s);
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    ASSERT_TRUE(ended) << "fielddesk did not end on SIGTERM";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    for (const std::string& mac : macs)
        EXPECT_TRUE(peer.WaitForCommand(CMD_PROBE, mac, 1, 3s)) << mac;
    EXPECT_EQ(peer.CountCommand(CMD_PROBE), macs.size());  // once each
    EXPECT_FALSE(std::filesystem::exists(database));
    peer.Stop();
    std::filesystem::remove_all(runtimeDir);
}

}  // namespace
}  // namespace fd::test
