// fielddesk-cli doctor in the lab: the real binary in the PC namespace against emulated
// devices, once healthy and once with each fault that makes a search come back empty or
// short. Every fault must be named and turn the exit code non-zero.

#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "devsim/device_peer.h"
#include "lab/cli_lab.h"
#include "support/lab.h"

using namespace fd;
using namespace fd::test;
using devsim::MakeDevice;

namespace {

class DoctorLabTest : public LabTest {
protected:
    void SetUp() override {
        LabTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        devsim::PeerOptions po;
        po.netns = m_lab.DevNamespace();
        m_peer = std::make_unique<devsim::DevicePeer>(po);
    }
    void TearDown() override {
        m_peer.reset();
        LabTest::TearDown();
    }

    // n devices; with `first` set, at first, first+1, ... instead of their own addresses.
    void StartDevices(int n, int firstOutside = 0) {
        std::vector<std::string> ips;
        for (int i = 0; i < n; ++i) {
            auto dev = MakeDevice(i);
            if (firstOutside > 0) {
                dev.address = "198.19.5." + std::to_string(firstOutside + i);
                IpFromText(dev.address, dev.info.ip);
            }
            if (dev.address != "198.18.1.1") ips.push_back(dev.address);
            m_peer->AddDevice(dev);
        }
        ASSERT_TRUE(m_lab.AddDeviceAddresses(ips)) << m_lab.Error();
        std::string err;
        ASSERT_TRUE(m_peer->Start(&err)) << err;
    }
    void InPc(const std::vector<std::string>& command) {
        std::string out;
        ASSERT_EQ(m_lab.Exec("pc", command, &out), 0) << out;
    }
    // The verdict line of a check in the text report.
    static std::string Line(const std::string& report, const std::string& check) {
        const auto p = report.find(check + " ");
        if (p == std::string::npos) return {};
        return report.substr(p, report.find('\n', p) - p);
    }

    std::unique_ptr<devsim::DevicePeer> m_peer;
};

TEST_F(DoctorLabTest, UnpluggedCableIsNamedWithItsFix) {
    StartDevices(2);
    // The devices' end of the link goes down: the PC's adapter keeps its address but has
    // no carrier, as with a pulled cable.
    std::string out;
    ASSERT_EQ(m_lab.Exec("dev", {"ip", "link", "set", "dev0", "down"}, &out), 0) << out;
    auto run = RunCli({"doctor", "--seconds", "2"});
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    const std::string adapters = Line(run.out, "adapters");
    EXPECT_NE(adapters.find("PROBLEM"), std::string::npos) << run.out;
    EXPECT_NE(adapters.find("pc0: cable unplugged or no link"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("fix: plug the cable into pc0"), std::string::npos) << run.out;
    // It is not searched on: with no other adapter there is nothing to search on.
    EXPECT_NE(Line(run.out, "search").find("not run: no adapter to search on"), std::string::npos)
        << run.out;
    // A search there finds nothing because of the PC, not of the LAN: it fails and says
    // where to look, instead of an empty list with success.
    const auto search = RunCli({"search", "--seconds", "2"});
    EXPECT_EQ(search.exitCode, 1) << search.out << search.err;
    EXPECT_EQ(search.out, "");
    EXPECT_NE(search.err.find("'fielddesk-cli doctor'"), std::string::npos) << search.err;

    // Plugged in again: the check passes and the devices answer.
    ASSERT_EQ(m_lab.Exec("dev", {"ip", "link", "set", "dev0", "up"}, &out), 0) << out;
    run = RunCli({"doctor", "--seconds", "2"});
    EXPECT_EQ(Line(run.out, "adapters").find("unplugged"), std::string::npos) << run.out;
    EXPECT_NE(Line(run.out, "adapters").find("pc0 (198.18.0.1/16)"), std::string::npos) << run.out;
}

TEST_F(DoctorLabTest, HealthyLabPassesEveryCheck) {
    StartDevices(4);
    auto run = RunCli({"doctor", "--seconds", "4"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(Line(run.out, "search").find("sent 2 searches on pc0 (198.18.0.1/16), 4 answers"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("no problem found"), std::string::npos) << run.out;

    run = RunCli({"doctor", "--seconds", "1", "--json"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(run.out.rfind("{\"checks\":[", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("\"problems\":0}"), std::string::npos) << run.out;
}

TEST_F(DoctorLabTest, NamesTheProgramHoldingAPort) {
    StartDevices(1);
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(s, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(9788);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    auto run = RunCli({"doctor", "--seconds", "1"});
    close(s);
    EXPECT_EQ(run.exitCode, 1) << run.out;
    const std::string ports = Line(run.out, "ports");
    EXPECT_NE(ports.find("PROBLEM"), std::string::npos) << run.out;
    EXPECT_NE(ports.find("UDP 9788 by cli_doctor_test (pid " + std::to_string(getpid()) + ")"),
              std::string::npos)
        << run.out;
    EXPECT_NE(Line(run.out, "search").find("not run"), std::string::npos) << run.out;
}

TEST_F(DoctorLabTest, StrictReversePathFilterDropsDevicesOfAnotherSubnet) {
    // The devices (198.19.5.x) are wired to pc0, but the PC's route to 198.19.0.0/16 leads
    // out of pc1: strict filtering drops their answers on pc0.
    ASSERT_TRUE(m_lab.AddLink(1, "198.19.0.1")) << m_lab.Error();
    InPc({"sysctl", "-qw", "net.ipv4.conf.all.rp_filter=1", "net.ipv4.conf.pc0.rp_filter=1"});
    // Filtering drops their address lookups too; a fixed neighbour entry lets the datagrams
    // themselves reach the filter.
    std::string mac;
    ASSERT_EQ(m_lab.Exec("pc", {"cat", "/sys/class/net/pc0/address"}, &mac), 0) << mac;
    mac.erase(mac.find_last_not_of(" \n") + 1);
    std::string out;
    ASSERT_EQ(m_lab.Exec("dev",
                         {"ip", "neigh", "replace", "198.18.0.1", "lladdr", mac, "dev", "dev0",
                          "nud", "permanent"},
                         &out),
              0)
        << out;
    StartDevices(3, 10);
    auto run = RunCli({"doctor", "--seconds", "4"});
    EXPECT_EQ(run.exitCode, 1) << run.out;
    const std::string rp = Line(run.out, "rp_filter");
    EXPECT_NE(rp.find("PROBLEM"), std::string::npos) << run.out;
    EXPECT_NE(rp.find("strict on pc0"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("net.ipv4.conf.pc0.rp_filter=2"), std::string::npos) << run.out;
    EXPECT_NE(Line(run.out, "search").find("no device answered"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("dropped by reverse-path filtering"), std::string::npos) << run.out;

    // The hint works: with loose filtering the answers come in.
    InPc({"sysctl", "-qw", "net.ipv4.conf.all.rp_filter=2", "net.ipv4.conf.pc0.rp_filter=2",
          "net.ipv4.conf.pc1.rp_filter=2"});
    run = RunCli({"doctor", "--seconds", "1"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(Line(run.out, "search").find("pc1 (198.19.0.1/16), 3 answers"), std::string::npos)
        << run.out;
}

TEST_F(DoctorLabTest, DevicesOutsideEverySubnetAreNamed) {
    StartDevices(2, 20);
    auto run = RunCli({"doctor", "--seconds", "1", "--json"});
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_NE(run.out.find("{\"check\":\"subnets\",\"verdict\":\"problem\",\"message\":\"2 "
                           "device(s) answered from outside every adapter's subnet (198.19.5.20, "
                           "198.19.5.21)"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\"problems\":1}"), std::string::npos) << run.out;
}

TEST_F(DoctorLabTest, FirewallRuleDroppingTheRepliesIsQuoted) {
    StartDevices(2);
    // Only in the lab's PC namespace.
    InPc({"nft",
          "add table inet fdtest; add chain inet fdtest input { type filter hook input "
          "priority 0; policy accept; }; add rule inet fdtest input udp dport 9788 drop"});
    auto run = RunCli({"doctor", "--seconds", "1"});
    EXPECT_EQ(run.exitCode, 1) << run.out;
    const std::string fw = Line(run.out, "firewall");
    EXPECT_NE(fw.find("PROBLEM"), std::string::npos) << run.out;
    EXPECT_NE(fw.find("UDP 9788 dropped by 'udp dport 9788 drop' (table inet fdtest / chain "
                      "input)"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(fw.find("9785"), std::string::npos) << run.out;
    // The search answers (9785) still come in; the details (9788) do not.
    const std::string search = Line(run.out, "search");
    EXPECT_NE(search.find("PROBLEM"), std::string::npos) << run.out;
    EXPECT_NE(search.find("2 answers; 0 of 2 sent their details"), std::string::npos) << run.out;
}

}  // namespace
