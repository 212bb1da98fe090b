// fielddesk-devsim run as a program in the lab's devices namespace, found by the engine.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "lab/engine_lab.h"

extern char** environ;

using namespace fd;
using namespace fd::test;

namespace {

std::string DevsimPath() {
    const char* bin = std::getenv("FD_BIN_DIR");
    return bin ? std::string(bin) + "/fielddesk-devsim" : std::string();
}

// The simulator, started through netlab in the devices' namespace; stopped by its id.
class Simulator {
public:
    bool Start(const std::vector<std::string>& args) {
        std::vector<std::string> all = {NetlabPath()};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        return posix_spawn(&m_pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0;
    }
    // Its exit code, or -1 when it did not exit on its own within the time.
    int Wait(std::chrono::milliseconds within) {
        auto deadline = std::chrono::steady_clock::now() + within;
        while (m_pid > 0) {
            int status = 0;
            pid_t r = waitpid(m_pid, &status, WNOHANG);
            if (r == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (std::chrono::steady_clock::now() >= deadline) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }
    ~Simulator() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }

private:
    pid_t m_pid = -1;
};

class DevsimProgramTest : public EngineLabTest {};

// The simulator starts through a script and adds its addresses first: seconds on a cold or
// loaded machine. The search repeats until then.
constexpr auto kProgramStart = std::chrono::seconds(60);

}  // namespace

TEST_F(DevsimProgramTest, EmulatesTheConfiguredDevices) {
    std::string devsim = DevsimPath();
    if (devsim.empty() || access(devsim.c_str(), X_OK) != 0) GTEST_SKIP() << "no " << devsim;
    std::string config = m_dbDir + "/devices.ini";
    {
        std::ofstream f(config);
        f << "[Device 1]\nname=屋顶 CPE\nmac=02:00:00:00:aa:01\nip=198.18.7.7\nup_time=5000\n"
             "[Device 3]\nanswer_info=0\n";
    }
    Simulator sim;
    ASSERT_TRUE(sim.Start({"exec", m_lab.Name(), "dev", "--", devsim, "--count", "4", "--seed", "7",
                           "--config", config, "--duration", "300", "--keepalive", "0.5"}));
    ASSERT_TRUE(StartEngine());

    // It needs a moment to add its addresses and open its sockets: search until all the
    // devices that answer their info are in.
    ASSERT_TRUE(WaitUntil(
        [&] {
            m_engine->SendSearch();
            return WaitUntil([&] { return StoredCount() == 3; }, std::chrono::milliseconds(500));
        },
        kProgramStart));
    auto row = Row("02:00:00:00:aa:01");
    ASSERT_TRUE(row);
    EXPECT_EQ(FieldText(row->ap_name, 32, row->ap_name_len), "屋顶 CPE");
    EXPECT_EQ(IpToText(row->ip), "198.18.7.7");
    // Device 3 never delivers its info: its search-only row is written once its hold ends.
    ASSERT_TRUE(WaitUntil([&] { return !DiscoveredRows().empty(); }, kWait));
    const ApInfoList discovered = DiscoveredRows();
    ASSERT_EQ(discovered.size(), 1u);
    EXPECT_EQ(IpToText(discovered.front().ip), "198.18.1.4");

    // Keepalives to the PC that searched carry the growing up-time.
    uint32_t first = row->up_time;
    EXPECT_GE(first, 5000u);
    EXPECT_TRUE(WaitUntil([&] { return Row("02:00:00:00:aa:01")->up_time >= first + 2; }, kWait));
}

TEST_F(DevsimProgramTest, RefusesAddressesOutsideTheLabRange) {
    std::string devsim = DevsimPath();
    if (devsim.empty() || access(devsim.c_str(), X_OK) != 0) GTEST_SKIP() << "no " << devsim;
    Simulator sim;
    ASSERT_TRUE(sim.Start({"exec", m_lab.Name(), "dev", "--", devsim, "--count", "2", "--first-ip",
                           "192.168.1.10", "--duration", "5"}));
    EXPECT_EQ(sim.Wait(kWait), 2);
    std::string out;
    m_lab.Exec("dev", {"ip", "-o", "-4", "addr", "show", "dev", "dev0"}, &out);
    EXPECT_EQ(out.find("192.168"), std::string::npos);
}

TEST_F(DevsimProgramTest, ScanAnswersAndBridgeResultsFollowTheConfiguration) {
    std::string devsim = DevsimPath();
    if (devsim.empty() || access(devsim.c_str(), X_OK) != 0) GTEST_SKIP() << "no " << devsim;
    std::string config = m_dbDir + "/devices.ini";
    {
        std::ofstream f(config);
        f << "[Device 0]\nwork_mode=1\nssid=mast-ap\nneighbours=0\n"
             "[Device 1]\nhears=0\nneighbours=31\nneighbour_signals=-70,-80\n"
             "neighbour_security=1\nbridge_result=3\nmode_btn=0\n";
    }
    Simulator sim;
    ASSERT_TRUE(sim.Start({"exec", m_lab.Name(), "dev", "--", devsim, "--count", "2", "--config",
                           config, "--duration", "300", "--keepalive", "0"}));
    ASSERT_TRUE(StartEngine());
    ASSERT_TRUE(WaitUntil(
        [&] {
            m_engine->SendSearch();
            return WaitUntil([&] { return StoredCount() == 2; }, std::chrono::milliseconds(500));
        },
        kProgramStart));
    const std::string ap = "02:fd:00:00:00:00", station = "02:fd:00:00:00:01";

    // The heard access point first (it is not among the generated ones), then 31 more: two
    // result packets.
    ASSERT_TRUE(m_engine->SendToDevice("198.18.1.2", CMD_SCAN, nullptr, 0, station, true));
    ASSERT_TRUE(WaitUntil([&] { return m_engine->IsScanComplete(); }, kWait));
    OtherApList heard;
    ASSERT_TRUE(m_store->QueryOtherApList(4, heard, false));
    ASSERT_EQ(heard.size(), 32u);
    EXPECT_EQ(MacToText(heard.front().mac), ap);
    EXPECT_EQ(FieldText(heard.front().ssid, 32, heard.front().ssid_len), "mast-ap");
    EXPECT_EQ(heard[1].signal, -70);
    EXPECT_EQ(heard.back().signal, -80);
    EXPECT_EQ(heard.back().secure_mode, 1);

    // It refuses the link with the configured result.
    BridgeConfigBody body{};
    std::memcpy(body.wireless.ap_mac, heard.front().mac, 6);
    body.ip = GetIpBlock(*Row(station));
    ASSERT_TRUE(
        m_engine->SendToDevice("198.18.1.2", CMD_BRIDGE_CONFIG, &body, sizeof body, station, true));
    EXPECT_TRUE(
        WaitUntil([&] { return m_store->GetApStatus(station) == AP_STATUS_BRIDGE_FAIL; }, kWait));
}
