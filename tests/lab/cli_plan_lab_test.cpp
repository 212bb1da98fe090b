// fielddesk-cli plan end to end: the real binary against emulated devices. A run killed in
// the middle and run again configures no device twice and ends with every device verified;
// a device that takes a change without applying it is reported, field by field.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "devsim/device_peer.h"
#include "lab/cli_lab.h"
#include "presentation/plan_journal.h"
#include "rules/vlan_reboot_settings.h"
#include "support/lab_devices.h"
#include "support/temp_dir.h"

using namespace fd;
using namespace fd::test;
using devsim::EmulatedDevice;

namespace {

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class CliPlanLabTest : public CliPeerLabTest {
protected:
    // n devices; each row gives a new name, SSID, VLAN and an address in 198.18.50.0.
    std::string MakePlan(int n, const std::function<void(EmulatedDevice&)>& adjust,
                         bool vlanAndAddress) {
        std::vector<int> models;
        m_macs = AddLabDevices(m_lab, *m_peer, n, 0, [&](EmulatedDevice& d) {
            if (adjust) adjust(d);
            models.push_back(d.info.ap_type);
        });
        std::vector<std::string> moved;
        for (int i = 0; i < n; ++i) moved.push_back("198.18.50." + std::to_string(i + 1));
        EXPECT_TRUE(m_lab.AddDeviceAddresses(moved)) << m_lab.Error();
        std::string csv = "mac,name,ssid,vlan,vlan-wlan,pvid,lan,lan3,lan4,ip\r\n";
        for (int i = 0; i < n; ++i) {
            const VlanFields f = VlanFieldsOf(models[static_cast<std::size_t>(i)]);
            csv +=
                m_macs[static_cast<std::size_t>(i)] + ",site-" + std::to_string(i) + ",plan-ssid";
            if (vlanAndAddress)
                csv += "," + std::to_string(100 + i) + ",200," + (f.pvid ? "10,20" : ",") +
                       (f.lanPorts == 3 ? ",30,40" : ",,") + "," +
                       moved[static_cast<std::size_t>(i)];
            else
                csv += ",,,,,,,";
            csv += "\r\n";
        }
        const std::string path = m_dir.Path("site.csv");
        std::ofstream(path, std::ios::binary) << csv;
        std::string err;
        EXPECT_TRUE(m_peer->Start(&err)) << err;
        return path;
    }

    TempDir m_dir;
    std::vector<std::string> m_macs;
};

}  // namespace

TEST_F(CliPlanLabTest, AKilledRunResumesWithoutConfiguringAnyDeviceTwice) {
    constexpr int kDevices = 24;
    // The VLAN change restarts the devices: their address commands are answered only after
    // the silence, so the run is still under way when it is killed.
    const std::string plan = MakePlan(
        kDevices, [](EmulatedDevice& d) { d.restartSilence = std::chrono::seconds(3); }, true);
    const std::string journal = m_dir.Path("run.jsonl");
    const std::vector<std::string> args = {"plan",       "apply", plan,        "--journal", journal,
                                           "--parallel", "4",     "--seconds", "20"};

    // The first run, killed as a crash would end it once some devices are part-way.
    {
        const ProgramFolder folder("fielddesk-cli");
        ASSERT_TRUE(folder.Ok()) << folder.Error();
        std::vector<char*> argv{const_cast<char*>(folder.Program().c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execv(argv[0], argv.data());
            _exit(127);
        }
        ASSERT_GT(pid, 0);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (Count(Read(journal), "\"sending\"") < 8 &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        const std::string first = Read(journal);
        ASSERT_GE(Count(first, "\"sending\""), 8u) << first;
        ASSERT_LT(Count(first, "\"verified\""), static_cast<std::size_t>(kDevices)) << first;
    }

    // The same command again: it finishes the plan.
    const CliRun run = RunCli(args, std::chrono::seconds(120));
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.err.find("resuming from"), std::string::npos) << run.err;
    for (int i = 0; i < kDevices; ++i) {
        const std::string& mac = m_macs[static_cast<std::size_t>(i)];
        // Configured once: the name is the first command and is never sent again, neither to
        // a device the first run finished nor to one it left part-way.
        EXPECT_EQ(m_peer->CountCommand(CMD_SET_NAME, mac), 1u) << mac;
        const ap_info_stu r = m_peer->GetDevice(mac)->info;
        EXPECT_EQ(FieldText(r.ap_name, 32, r.ap_name_len), "site-" + std::to_string(i));
        EXPECT_EQ(+r.vlan_id, 100 + i);
        EXPECT_EQ(IpToText(r.ip), "198.18.50." + std::to_string(i + 1));
    }
    const auto states = ReadPlanJournal(journal);
    ASSERT_EQ(states.size(), static_cast<std::size_t>(kDevices));
    for (const auto& [mac, state] : states) EXPECT_EQ(state, PlanState::Verified) << mac;

    // A third run finds nothing left to do and sends nothing.
    m_peer->ClearReceived();
    const CliRun again = RunCli(args, std::chrono::seconds(60));
    EXPECT_EQ(again.exitCode, 0) << again.out << again.err;
    EXPECT_EQ(m_peer->CountCommand(CMD_SET_NAME) + m_peer->CountCommand(CMD_SET_IP), 0u);
}

TEST_F(CliPlanLabTest, ADeviceThatIgnoresOneFieldIsReportedNotAppliedForThatField) {
    const std::string plan = MakePlan(3, {}, false);
    const auto before = m_peer->GetDevice(m_macs[1])->info;
    const std::string ssid(FieldText(before.ssid, 32, before.ssid_len));
    m_peer->UpdateDevice(m_macs[1], [](EmulatedDevice& d) { d.ignoredField = "ssid"; });
    const std::string report = m_dir.Path("report.json");
    const CliRun run = RunCli({"plan", "apply", plan, "--report", report, "--seconds", "10"},
                              std::chrono::seconds(90));
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    // The name it did apply is not named; the SSID it acknowledged and ignored is.
    EXPECT_NE(run.out.find(m_macs[1] +
                           "  198.18.1.2  not applied: ssid (sent plan-ssid, device "
                           "reports " +
                           ssid + ")\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(m_macs[0] + "  198.18.1.1  verified: name ssid"), std::string::npos)
        << run.out;
    const auto rows = FlatJsonReader::Parse(Read(report));
    ASSERT_TRUE(rows && rows->size() == 3) << Read(report);
    EXPECT_EQ((*rows)[1].at("result"), "not applied");
    EXPECT_EQ((*rows)[1].at("differing"), "ssid (sent plan-ssid, device reports " + ssid + ")");
    EXPECT_EQ((*rows)[2].at("result"), "verified");
}
