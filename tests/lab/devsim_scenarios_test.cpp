// The simulator program end to end: fielddesk-devsim in the lab's devices namespace, met by
// fielddesk-cli (its JSON read field by field against what the simulator was given) or by
// the engine itself where the test must watch a status change.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "config/language.h"
#include "lab/cli_lab.h"
#include "lab/engine_lab.h"
#include "config/labels.h"

extern char** environ;

using namespace fd;
using namespace fd::test;

namespace {

// fielddesk-devsim started through netlab in the devices' namespace; stopped by its id.
class Simulator {
public:
    ~Simulator() { Stop(); }

    // Starts it and waits until it says it runs; false (with its words in Said()) if not.
    bool Start(const std::string& lab, const std::vector<std::string>& args) {
        const char* bin = std::getenv("FD_BIN_DIR");
        std::vector<std::string> all = {
            NetlabPath(), "exec", lab,
            "dev",        "--",   std::string(bin ? bin : ".") + "/fielddesk-devsim"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0) return false;
        if (pipe2(err, O_CLOEXEC) != 0) {
            close(out[0]), close(out[1]);
            return false;
        }
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_adddup2(&fa, err[1], 2);
        int rc = posix_spawn(&m_pid, argv[0], &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        close(out[1]);
        close(err[1]);
        m_out = out[0];
        m_err = err[0];
        if (rc != 0) {
            m_pid = -1;
            return false;
        }
        return WaitFor(m_err, m_said, " devices from ", std::chrono::seconds(20));
    }

    // SIGTERM, then what it printed on standard output (its --stats line).
    std::string Stop() {
        std::string out;
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            WaitFor(m_out, out, "\n", std::chrono::seconds(10));
            waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
        for (int* f : {&m_out, &m_err}) {
            if (*f >= 0) close(*f);
            *f = -1;
        }
        return out;
    }
    const std::string& Said() const { return m_said; }

private:
    static bool WaitFor(int fd, std::string& text, const std::string& marker,
                        std::chrono::seconds within) {
        auto deadline = std::chrono::steady_clock::now() + within;
        while (text.find(marker) == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char buf[1024];
            ssize_t n = read(fd, buf, sizeof buf);
            if (n <= 0) break;
            text.append(buf, static_cast<std::size_t>(n));
        }
        return text.find(marker) != std::string::npos;
    }

    pid_t m_pid = -1;
    int m_out = -1, m_err = -1;
    std::string m_said;
};

// What one device of the description file is given.
struct Given {
    std::string mac, ip, name, ssid, version;
    int apType = 1, workMode = 1, channel = 36, bridge = 0, airslot = 0;
    uint32_t upTime = 0;
};

const char* kCjk[] = {"屋顶-北", "东塔", "仓库 CPE", "楼顶 AP"};
const int kTypes[] = {1, 2, 3, 5, 6, 8, 10, 11, 257, 265};

Given GivenFor(int i) {
    Given g;
    char mac[18];
    std::snprintf(mac, sizeof mac, "02:fd:10:00:00:%02x", i + 1);
    g.mac = mac;
    g.ip = "198.18.1." + std::to_string(i + 1);
    g.name = i % 5 == 0 ? std::string(kCjk[(i / 5) % 4]) + std::to_string(i)
                        : "cpe-" + std::to_string(i);
    g.ssid = i % 7 == 0 ? "无线-" + std::to_string(i) : "net-" + std::to_string(i);
    g.version = "FDX 3.1." + std::to_string(100 + i);
    g.apType = kTypes[i % 10];
    g.workMode = 1 + i % 7;
    g.channel = i % 9 == 0 ? 0 : 36 + 4 * (i % 4);
    g.bridge = i % 2;
    g.airslot = (i / 2) % 2;
    g.upTime = 1000u * static_cast<uint32_t>(i) + 7;
    return g;
}

std::string Section(int n, const Given& g) {
    std::ostringstream s;
    s << "[Device " << n << "]\nmac=" << g.mac << "\nip=" << g.ip << "\nname=" << g.name
      << "\nssid=" << g.ssid << "\nversion=" << g.version << "\nap_type=" << g.apType
      << "\nwork_mode=" << g.workMode << "\nchannel=" << g.channel
      << "\ntransparent_bridge=" << g.bridge << "\nairslot=" << g.airslot
      << "\nup_time=" << g.upTime << "\n";
    return s.str();
}

class DevsimScenarioTest : public EngineLabTest {
protected:
    void SetUp() override {
        EngineLabTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        const char* bin = std::getenv("FD_BIN_DIR");
        ASSERT_NE(bin, nullptr);
        if (access((std::string(bin) + "/fielddesk-devsim").c_str(), X_OK) != 0 ||
            access(CliPath().c_str(), X_OK) != 0)
            GTEST_SKIP() << "fielddesk-devsim or fielddesk-cli not built";
        setenv("LC_ALL", "C", 1);  // the CLI reads its language the way this process does
        InitLanguage(std::string(bin) + "/");
    }

    void TearDown() override {
        m_sim.Stop();  // before its namespace goes with the lab
        EngineLabTest::TearDown();
    }

    // A description file of the given devices plus extra lines per device index.
    std::string WriteConfig(const std::vector<Given>& devices,
                            const std::map<int, std::string>& extra = {}) {
        std::string path = m_dbDir + "/devices.ini";
        std::ofstream f(path);
        for (std::size_t i = 0; i < devices.size(); ++i) {
            f << Section(static_cast<int>(i), devices[i]);
            if (auto it = extra.find(static_cast<int>(i)); it != extra.end()) f << it->second;
        }
        return path;
    }

    std::vector<FlatJsonReader::Object> SearchJson(int seconds) {
        auto run = RunCli({"search", "--seconds", std::to_string(seconds), "--json"});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        auto rows = FlatJsonReader::Parse(run.out);
        EXPECT_TRUE(rows) << run.out;
        return rows ? *rows : std::vector<FlatJsonReader::Object>{};
    }

    static const FlatJsonReader::Object* RowOf(const std::vector<FlatJsonReader::Object>& rows,
                                               const std::string& mac) {
        for (const auto& r : rows)
            if (r.at("mac") == mac) return &r;
        return nullptr;
    }

    Simulator m_sim;
};

}  // namespace

TEST_F(DevsimScenarioTest, FiftyDevicesListedFieldByField) {
    std::vector<Given> given;
    for (int i = 0; i < 50; ++i) given.push_back(GivenFor(i));
    auto config = WriteConfig(given);
    auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(m_sim.Start(m_lab.Name(), {"--count", "50", "--config", config, "--keepalive", "0",
                                           "--duration", "300"}))
        << m_sim.Said();

    auto rows = SearchJson(2);
    ASSERT_EQ(rows.size(), 50u);
    auto ranFor =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started)
            .count();
    for (const Given& g : given) {
        SCOPED_TRACE(g.mac);
        const auto* r = RowOf(rows, g.mac);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->at("location"), g.name);
        EXPECT_EQ(r->at("type"), GetModelLabel(g.apType));
        EXPECT_EQ(r->at("ip"), g.ip);
        EXPECT_EQ(r->at("operation_mode"), GetWorkModeLabel(g.workMode));
        EXPECT_EQ(r->at("ssid"), g.ssid);
        EXPECT_EQ(r->at("channel"), GetChannelLabel(g.channel));
        EXPECT_EQ(r->at("version"), g.version);
        EXPECT_EQ(r->at("transparent_bridge"),
                  GetTransparentBridgeLabel(g.apType, g.workMode, g.bridge));
        EXPECT_EQ(r->at("airslot"), GetAirSlotLabel(g.apType, g.airslot));
        EXPECT_EQ(r->at("status"), GetStatusLabel(AP_STATUS_ONLINE));
        EXPECT_EQ(r->at("confirmed"), "true");
        // The simulated clocks run while the test does.
        std::set<std::string> times;
        for (long k = 0; k <= ranFor + 1; ++k)
            times.insert(GetUptimeText(g.upTime + static_cast<uint32_t>(k)));
        EXPECT_TRUE(times.count(r->at("time"))) << r->at("time");
    }
}

TEST_F(DevsimScenarioTest, RenameAndSetIpChangeTheDevice) {
    std::vector<Given> given = {GivenFor(1), GivenFor(2), GivenFor(3)};
    for (auto& g : given) g.apType = 1;  // names of any ASCII or Chinese characters
    ASSERT_TRUE(m_sim.Start(m_lab.Name(),
                            {"--count", "3", "--config", WriteConfig(given), "--duration", "300"}))
        << m_sim.Said();
    const std::string mac = given[1].mac, oldIp = given[1].ip;

    auto run = RunCli({"rename", mac, "北门 relay", "--seconds", "5"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    run = RunCli({"set-ip", mac, "198.18.9.9", "--seconds", "5"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;

    auto rows = SearchJson(2);
    ASSERT_EQ(rows.size(), 3u);
    const auto* r = RowOf(rows, mac);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->at("location"), "北门 relay");
    EXPECT_EQ(r->at("ip"), "198.18.9.9");
    EXPECT_EQ(r->at("confirmed"), "true");
    for (const auto& row : rows) EXPECT_NE(row.at("ip"), oldIp);
    // The others are untouched.
    EXPECT_EQ(RowOf(rows, given[0].mac)->at("location"), given[0].name);
    EXPECT_EQ(RowOf(rows, given[2].mac)->at("ip"), given[2].ip);

    // The engine of a running program sees the move too: the device's row follows it to the
    // new address, and no row keeps the old one.
    ASSERT_TRUE(StartEngine());
    ASSERT_TRUE(SearchUntilStored(3));
    auto row = Row(mac);
    ASSERT_TRUE(row);
    EXPECT_EQ(IpToText(row->ip), "198.18.9.9");
    std::vector<std::string> ips;
    m_store->QueryApIpList(ips);
    EXPECT_EQ(std::count(ips.begin(), ips.end(), oldIp), 0);
}

TEST_F(DevsimScenarioTest, RebootAndResetGoQuietThenComeBackOnline) {
    std::vector<Given> given = {GivenFor(0), GivenFor(1), GivenFor(2)};
    given[0].upTime = 100000;  // far from a clock that restarted, however long this takes
    // The third device is faulty: a malformed datagram before each answer, answers late.
    auto config = WriteConfig(given, {{2, "malformed=1\ndelay_ms=200\n"}});
    ASSERT_TRUE(m_sim.Start(m_lab.Name(), {"--count", "3", "--config", config, "--duration", "300",
                                           "--restart-seconds", "4", "--keepalive", "1"}))
        << m_sim.Said();
    ASSERT_TRUE(StartEngine());
    ASSERT_TRUE(SearchUntilStored(3));
    // The malformed datagrams were dropped at the door and changed nothing.
    EXPECT_GT(m_engine->GetStats().filtered[0], 0u);
    ASSERT_TRUE(Row(given[2].mac));
    EXPECT_EQ(FieldText(Row(given[2].mac)->ap_name, 32, Row(given[2].mac)->ap_name_len),
              given[2].name);

    const std::string a = given[0].mac, b = given[1].mac;
    auto statusOf = [&](const std::string& mac) { return m_store->GetApStatus(mac); };

    // Rename b, then reset it: it comes back with the name it had from the factory.
    DeviceNameBlock name{};
    SetFieldText(name.ap_name, sizeof name.ap_name, name.ap_name_len, "renamed");
    ASSERT_TRUE(m_engine->SendToDevice(given[1].ip, CMD_SET_NAME, &name, sizeof name, b, true));
    ASSERT_TRUE(PendingEmpty());

    ASSERT_TRUE(m_engine->SendToDevice(given[0].ip, CMD_REBOOT, nullptr, 0, a, true));
    ASSERT_TRUE(m_engine->SendToDevice(given[1].ip, CMD_RESET, nullptr, 0, b, true));
    EXPECT_TRUE(WaitUntil([&] { return statusOf(a) == AP_STATUS_RESTARTING; }, kWait));
    EXPECT_TRUE(WaitUntil([&] { return statusOf(b) == AP_STATUS_RESETING; }, kWait));

    // While restarting (4 s, long enough for these steps on a loaded machine) they do not
    // answer a search; the healthy third one does.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    m_engine->SendSearch();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(statusOf(a), AP_STATUS_RESTARTING);
    EXPECT_EQ(statusOf(b), AP_STATUS_RESETING);

    // Back after the silence: the next search finds them Online, their clocks restarted.
    EXPECT_TRUE(WaitUntil(
        [&] {
            m_engine->SendSearch();
            return WaitUntil(
                [&] { return statusOf(a) == AP_STATUS_ONLINE && statusOf(b) == AP_STATUS_ONLINE; },
                std::chrono::milliseconds(400));
        },
        std::chrono::seconds(30)));
    auto ra = Row(a), rb = Row(b);
    ASSERT_TRUE(ra && rb);
    EXPECT_LT(ra->up_time, 1000u);
    EXPECT_EQ(FieldText(rb->ap_name, 32, rb->ap_name_len), given[1].name);
}

TEST_F(DevsimScenarioTest, FivePercentDropStillFindsEveryDevice) {
    std::vector<Given> given;
    for (int i = 0; i < 50; ++i) given.push_back(GivenFor(i));
    ASSERT_TRUE(m_sim.Start(m_lab.Name(),
                            {"--count", "50", "--config", WriteConfig(given), "--drop-rate", "0.05",
                             "--seed", "5", "--keepalive", "0", "--duration", "300", "--stats"}))
        << m_sim.Said();
    // Searches at 0, 3 and 6 s; device-info requests are retried.
    auto rows = SearchJson(7);
    std::string stats = m_sim.Stop();
    EXPECT_EQ(rows.size(), 50u);
    for (const auto& r : rows) EXPECT_EQ(r.at("confirmed"), "true") << r.at("mac");
    // The simulator did lose datagrams: the retries made up for them.
    auto at = stats.find("dropped=");
    ASSERT_NE(at, std::string::npos) << stats;
    EXPECT_GT(std::stoul(stats.substr(at + 8)), 0u) << stats;
}

TEST_F(DevsimScenarioTest, DuplicateAddressKeepsTheFirst) {
    std::vector<Given> given = {GivenFor(0), GivenFor(1), GivenFor(2)};
    given[1].ip = given[0].ip;  // the second device claims the first one's address
    ASSERT_TRUE(m_sim.Start(m_lab.Name(), {"--count", "3", "--config", WriteConfig(given),
                                           "--keepalive", "0", "--duration", "300"}))
        << m_sim.Said();
    auto rows = SearchJson(2);
    int confirmedAtShared = 0;
    for (const auto& r : rows) {
        if (r.at("ip") != given[0].ip || r.at("confirmed") != "true") continue;
        ++confirmedAtShared;
        EXPECT_EQ(r.at("mac"), given[0].mac);
        EXPECT_EQ(r.at("location"), given[0].name);
    }
    EXPECT_EQ(confirmedAtShared, 1);
    ASSERT_NE(RowOf(rows, given[2].mac), nullptr);
    EXPECT_EQ(RowOf(rows, given[2].mac)->at("confirmed"), "true");
}
