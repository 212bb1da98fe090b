// The desktop program in the lab: started offscreen in the PC namespace, it learns two
// devices from a search, and a normal end (SIGTERM closes the main window) must tell every
// device it knows that this PC is going away and leave no scratch database behind, at
// whatever moment of its start-up the signal comes.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "devsim/device_peer.h"
#include "wire/packet.h"
#include "support/lab.h"
#include "support/lab_devices.h"
#include "support/program_folder.h"

namespace fd::test {
namespace {

using namespace std::chrono_literals;

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

// Whether the process has a handler for SIGTERM yet (its SigCgt mask in /proc).
bool CatchesSigterm(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("SigCgt:", 0) != 0) continue;
        const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
        return (mask >> (SIGTERM - 1)) & 1;
    }
    return false;
}

// Whether the process has a UDP socket bound to this port (its /proc/PID/net/udp shows the
// sockets of its own network namespace).
bool HasUdpPort(pid_t pid, uint16_t port) {
    std::ifstream udp("/proc/" + std::to_string(pid) + "/net/udp");
    char hex[8];
    std::snprintf(hex, sizeof hex, ":%04X", port);
    std::string line;
    std::getline(udp, line);  // the heading
    while (std::getline(udp, line)) {
        // "  sl  local_address rem_address ...": the local address is the second field.
        std::istringstream fields(line);
        std::string slot, local;
        fields >> slot >> local;
        if (local.size() > 5 && local.compare(local.size() - 5, 5, hex) == 0) return true;
    }
    return false;
}

class GuiExitLabTest : public LabTest {
protected:
    void StartDevices() {
        devsim::PeerOptions po;
        po.netns = m_lab.DevNamespace();
        m_peer = std::make_unique<devsim::DevicePeer>(po);
        m_macs = AddLabDevices(m_lab, *m_peer, 2);
        std::string err;
        ASSERT_TRUE(m_peer->Start(&err)) << err;
    }

    // The program in a folder of its own (its database is made there), with a runtime
    // folder of its own for the single-instance lock.
    pid_t StartProgram(const ProgramFolder& folder) {
        const std::string runtime = folder.Path("run");
        std::filesystem::create_directory(runtime);
        std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
        const pid_t pid = fork();
        if (pid == 0) {
            // The child starts in this thread's namespace: the lab's PC side.
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
            execl(folder.Program().c_str(), folder.Program().c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return pid;
    }

    // Waits for the program's end (killing it after a minute); its wait status.
    static int WaitForEnd(pid_t pid) {
        int status = -1;
        if (!WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 60s)) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        return status;
    }

    std::unique_ptr<devsim::DevicePeer> m_peer;
    std::vector<std::string> m_macs;
};

TEST_F(GuiExitLabTest, NormalExitProbesEveryDeviceAndDeletesTheDatabase) {
    StartDevices();
    const ProgramFolder folder("fielddesk");
    ASSERT_TRUE(folder.Ok()) << folder.Error();
    const std::string database = folder.Path("data.mdb");
    const pid_t pid = StartProgram(folder);
    ASSERT_GT(pid, 0);

    // Search until the program has asked both devices for their information.
    bool found = WaitUntil(
        [&] {
            BroadcastSearch();
            return m_peer->WaitForCommand(CMD_DEVICE_INFO, m_macs[0], 1, 300ms) &&
                   m_peer->WaitForCommand(CMD_DEVICE_INFO, m_macs[1], 1, 300ms);
        },
        60s);
    EXPECT_TRUE(found);
    EXPECT_TRUE(std::filesystem::exists(database));
    EXPECT_EQ(m_peer->CountCommand(CMD_PROBE), 0u);

    kill(pid, SIGTERM);
    const int status = WaitForEnd(pid);
    ASSERT_NE(status, -1) << "fielddesk did not end on SIGTERM";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    // The probes went out before the program ended; the peer may still be reading them.
    for (const std::string& mac : m_macs) {
        EXPECT_TRUE(m_peer->WaitForCommand(CMD_PROBE, mac, 1, 10s)) << mac;
        EXPECT_EQ(m_peer->CountCommand(CMD_PROBE, mac), 1u) << mac;  // once each
    }
    EXPECT_FALSE(std::filesystem::exists(database));
}

// A logout or kill while the program is still coming up (engine starting, window being
// built, skin and fonts loading on a cold machine) ends it the same normal way.
TEST_F(GuiExitLabTest, SigtermAtAnyMomentOfStartUpEndsNormally) {
    StartDevices();
    // Counted from the first moment a stop has something to end: the program catches the
    // signal, or its engine has opened the port the devices answer on, whichever comes
    // first (a program that opened its ports first could be stopped without its shutdown).
    // The window takes from a few hundred milliseconds to seconds on a cold machine, so the
    // later moments fall after it.
    for (int delayMs : {0, 1, 5, 20, 50, 100, 200, 300, 500, 800, 1200, 2000}) {
        SCOPED_TRACE("SIGTERM " + std::to_string(delayMs) + " ms into start-up");
        const ProgramFolder folder("fielddesk");
        ASSERT_TRUE(folder.Ok()) << folder.Error();
        m_peer->ClearReceived();
        const pid_t pid = StartProgram(folder);
        ASSERT_GT(pid, 0);
        ASSERT_TRUE(WaitUntil(
            [&] { return CatchesSigterm(pid) || HasUdpPort(pid, kPortSearchReply); }, 60s));
        // Searches all along, so that the devices become known as early as the engine
        // can learn them.
        const auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs);
        do {
            BroadcastSearch();
            std::this_thread::sleep_until(std::min(due, std::chrono::steady_clock::now() + 20ms));
        } while (std::chrono::steady_clock::now() < due);
        // A device the program asked for its information is in its list: it must get the
        // probe. Which ones that are depends on how far the start-up got.
        std::vector<std::string> known;
        for (const std::string& mac : m_macs)
            if (m_peer->CountCommand(CMD_DEVICE_INFO, mac) > 0) known.push_back(mac);
        kill(pid, SIGTERM);

        const int status = WaitForEnd(pid);
        ASSERT_NE(status, -1) << "fielddesk did not end on SIGTERM";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << (WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status))
                                    : "exit status " + std::to_string(WEXITSTATUS(status)));
        EXPECT_FALSE(std::filesystem::exists(folder.Path("data.mdb")));
        for (const std::string& mac : known)
            EXPECT_TRUE(m_peer->WaitForCommand(CMD_PROBE, mac, 1, 10s)) << mac;
    }
}

}  // namespace
}  // namespace fd::test
