// fielddesk-cli end to end: the real binary in the lab's PC namespace against emulated
// devices, its --json and --csv output read field by field, and actions that wait for the
// devices' answers.

#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>

#include <memory>
#include <string>

#include "config/labels.h"
#include "config/language.h"
#include "devsim/device_peer.h"
#include "lab/cli_lab.h"
#include "support/lab.h"
#include "support/lab_devices.h"

using namespace fd;
using namespace fd::test;
using devsim::AckMode;
using devsim::EmulatedDevice;
using devsim::MakeDevice;

namespace {

const std::string kTower = "\xE5\xA1\x94\xE6\x9E\xB6-\xE5\x8C\x97";  // 塔架-北

class CliLabTest : public CliPeerLabTest {
protected:
    // Devices 0..n-1 with their addresses; the caller adjusts them before StartPeer().
    std::vector<std::string> AddDevices(int n) { return AddLabDevices(m_lab, *m_peer, n); }
    void StartPeer() {
        std::string err;
        ASSERT_TRUE(m_peer->Start(&err)) << err;
    }
    static void Name(EmulatedDevice& d, const std::string& name) {
        SetFieldText(d.info.ap_name, sizeof d.info.ap_name, d.info.ap_name_len, name);
    }

};

}  // namespace

TEST_F(CliLabTest, SearchListsEveryDeviceFieldByField) {
    auto macs = AddDevices(4);
    m_peer->UpdateDevice(macs[0], [](EmulatedDevice& d) {
        Name(d, kTower);
        d.info.ap_type = 6;  // a model with AirSlot
        d.info.tdmaEn = 1;
        d.info.channel = 0;
        d.info.up_time = 90061;
    });
    m_peer->UpdateDevice(macs[1], [](EmulatedDevice& d) {
        Name(d, "roof, \"east\"");
        d.info.work_mode = WORK_MODE_AP;
        d.info.bridge_transparent = 1;
    });
    // Answers the search but never sends its details.
    m_peer->UpdateDevice(macs[3], [](EmulatedDevice& d) { d.answerInfo = false; });
    StartPeer();

    auto run = RunCli({"search", "--seconds", "3", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    auto rows = FlatJsonReader::Parse(run.out);
    ASSERT_TRUE(rows) << run.out;
    ASSERT_EQ(rows->size(), 4u) << run.out;

    // Sorted by IP ascending; the unconfirmed device comes last.
    const auto& r0 = (*rows)[0];
    EXPECT_EQ(r0.at("mac"), macs[0]);
    EXPECT_EQ(r0.at("location"), kTower);
    EXPECT_EQ(r0.at("type"), GetModelLabel(6));
    EXPECT_EQ(r0.at("ip"), "198.18.1.1");
    EXPECT_EQ(r0.at("operation_mode"), GetWorkModeLabel(WORK_MODE_STATION));
    EXPECT_EQ(r0.at("ssid"), "lab-0");
    EXPECT_EQ(r0.at("channel"), GetLangText("Auto"));
    EXPECT_EQ(r0.at("version"), "FD-LAB 1.0.0");
    EXPECT_EQ(r0.at("transparent_bridge"), GetLangText("Off2"));
    EXPECT_EQ(r0.at("airslot"), GetLangText("On2"));
    EXPECT_EQ(r0.at("time"), "1 1:1:1");
    EXPECT_EQ(r0.at("status"), GetStatusLabel(AP_STATUS_ONLINE));
    EXPECT_EQ(r0.at("confirmed"), "true");

    const auto& r1 = (*rows)[1];
    EXPECT_EQ(r1.at("mac"), macs[1]);
    EXPECT_EQ(r1.at("location"), "roof, \"east\"");
    EXPECT_EQ(r1.at("operation_mode"), GetWorkModeLabel(WORK_MODE_AP));
    EXPECT_EQ(r1.at("channel"), "36");
    EXPECT_EQ(r1.at("transparent_bridge"), GetLangText("On2"));
    EXPECT_EQ(r1.at("airslot"), "N/A");

    EXPECT_EQ((*rows)[2].at("mac"), macs[2]);
    const auto& r3 = (*rows)[3];
    EXPECT_EQ(r3.at("mac"), macs[3]);
    EXPECT_EQ(r3.at("confirmed"), "false");
    EXPECT_EQ(r3.at("status"), "");
    EXPECT_EQ(r3.at("ip"), "198.18.1.4");
    // Standard output carries nothing but the list.
    EXPECT_EQ(run.out.front(), '[');
}

TEST_F(CliLabTest, FilterSortAndCsv) {
    auto macs = AddDevices(3);
    m_peer->UpdateDevice(macs[1], [](EmulatedDevice& d) { Name(d, "roof, \"east\""); });
    // A name from the network must reach a spreadsheet as text, never as a formula.
    m_peer->UpdateDevice(macs[0],
                         [](EmulatedDevice& d) { Name(d, "=HYPERLINK(\"http://x\",\"y\")"); });
    StartPeer();

    auto run = RunCli({"search", "--seconds", "3", "--csv", "--sort", "mac", "--desc"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string header =
        "Location,Type,IP,MAC,OperationMode,SSID,Channel,Version,Transparent bridge,AirSlot,"
        "Time\r\n";
    ASSERT_EQ(run.out.substr(0, header.size()), header);
    // Descending by MAC: device 2, 1, 0; the name with a comma and quotes is quoted.
    const auto first = run.out.find(macs[2]), second = run.out.find(macs[1]),
               third = run.out.find(macs[0]);
    ASSERT_NE(third, std::string::npos);
    EXPECT_LT(first, second);
    EXPECT_LT(second, third);
    EXPECT_NE(run.out.find("\r\n\"roof, \"\"east\"\"\"," + GetModelLabel(1) + ",198.18.1.2,"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\r\n\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\","), std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("\r\n\"=HYPERLINK"), std::string::npos) << run.out;

    run = RunCli({"search", "--seconds", "3", "--json", "--filter", "lab-2"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    auto rows = FlatJsonReader::Parse(run.out);
    ASSERT_TRUE(rows) << run.out;
    ASSERT_EQ(rows->size(), 1u);
    EXPECT_EQ((*rows)[0].at("mac"), macs[2]);
}

TEST_F(CliLabTest, SettledSearchEndsOnceTheAnswersStop) {
    auto macs = AddDevices(5);
    StartPeer();
    const auto start = std::chrono::steady_clock::now();
    auto run = RunCli({"search", "--seconds", "60", "--settle", "2", "--json"});
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(run.exitCode, 0) << run.err;
    auto rows = FlatJsonReader::Parse(run.out);
    ASSERT_TRUE(rows) << run.out;
    EXPECT_EQ(rows->size(), 5u) << run.out;
    for (const auto& row : *rows) EXPECT_EQ(row.at("confirmed"), "true");
    // Long before --seconds: the answers stopped, so the search did.
    EXPECT_LT(took, std::chrono::seconds(45));
}

TEST_F(CliLabTest, RebootWaitsForTheAnswerAndReportsSilence) {
    auto macs = AddDevices(2);
    const std::string good = macs[0], silent = macs[1];
    m_peer->UpdateDevice(silent, [](EmulatedDevice& d) { d.ackMode = AckMode::Silent; });
    StartPeer();

    auto run = RunCli({"reboot", good, "--seconds", "10"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.out, good + "  198.18.1.1  " + GetStatusLabel(AP_STATUS_RESTARTING) + "\n");
    EXPECT_EQ(m_peer->CountCommand(CMD_REBOOT, good), 1u);

    // The silent one gets every retransmission and is reported; the exit code says so.
    run = RunCli({"reboot", good, silent, "--seconds", "10"});
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_NE(run.out.find(good + "  198.18.1.1  " + GetStatusLabel(AP_STATUS_RESTARTING)),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(silent + "  198.18.1.2  no answer"), std::string::npos) << run.out;
    EXPECT_GE(m_peer->CountCommand(CMD_REBOOT, silent), 2u);

    // A device no search finds: nothing is sent at all.
    run = RunCli({"reset", good, "02:fd:00:00:99:99", "--seconds", "3"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.out.find("02:fd:00:00:99:99  -  not found by the search"), std::string::npos);
    EXPECT_EQ(m_peer->CountCommand(CMD_RESET), 0u);
}

TEST_F(CliLabTest, SetIpAndRenameAreCheckedThenAcknowledged) {
    auto macs = AddDevices(2);
    ASSERT_TRUE(m_lab.AddDeviceAddresses({"198.18.7.10"})) << m_lab.Error();
    m_peer->UpdateDevice(macs[1], [](EmulatedDevice& d) { d.info.ap_type = 4; });  // strict names
    StartPeer();

    // Refused by the rules after the search: nothing goes out.
    auto run = RunCli({"set-ip", macs[0], "198.18.1.2", "--seconds", "10"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("already in use"), std::string::npos) << run.err;
    run = RunCli({"set-ip", macs[0], "198.18.7.10", "--mask", "255.255.255.0", "--seconds", "10"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("not in the same subnet"), std::string::npos) << run.err;
    run = RunCli({"rename", macs[1], "has space", "--seconds", "10"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("lowercase letters"), std::string::npos) << run.err;
    EXPECT_EQ(m_peer->CountCommand(CMD_SET_IP) + m_peer->CountCommand(CMD_SET_NAME), 0u);

    run = RunCli({"rename", macs[0], kTower, macs[1], "Mast_2", "--seconds", "10"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    auto dev0 = *m_peer->GetDevice(macs[0]);
    EXPECT_EQ(FieldText(dev0.info.ap_name, 32, dev0.info.ap_name_len), kTower);
    auto dev1 = *m_peer->GetDevice(macs[1]);
    EXPECT_EQ(FieldText(dev1.info.ap_name, 32, dev1.info.ap_name_len), "Mast_2");

    run = RunCli({"set-ip", macs[0], "198.18.7.10", "--seconds", "10"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.out, macs[0] + "  198.18.1.1  acknowledged, now 198.18.7.10\n" + macs[0] +
                           "  198.18.7.10  verified\n");
    dev0 = *m_peer->GetDevice(macs[0]);
    EXPECT_EQ(IpToText(dev0.info.ip), "198.18.7.10");
    EXPECT_EQ(IpToText(dev0.info.ip_mask), "255.255.0.0");  // kept from the device
    EXPECT_EQ(IpToText(dev0.info.ip_gateway), "198.18.0.254");
}

TEST_F(CliLabTest, RefusesToRunBesideAnotherHolderOfThePorts) {
    // This thread is in the lab's PC namespace: the port is taken only there.
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(kPortInfo);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    auto run = RunCli({"search", "--seconds", "1"});
    close(fd);
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.err.find("another FieldDesk is running, or port 9788 is in use"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.out, "");
}

TEST_F(CliLabTest, SetIpRangeHandsOutAddressesInTheOrderGiven) {
    auto macs = AddDevices(3);
    ASSERT_TRUE(m_lab.AddDeviceAddresses({"198.18.8.254", "198.18.9.1"})) << m_lab.Error();
    StartPeer();

    // Two usable addresses for three devices: refused before anything is sent.
    auto run = RunCli({"set-ip", "--range", "198.18.8.254", "--end", "198.18.9.1", macs[2], macs[0],
                       macs[1], "--seconds", "10"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("holds 2 usable addresses for 3 devices"), std::string::npos) << run.err;
    EXPECT_EQ(m_peer->CountCommand(CMD_SET_IP), 0u);

    // .255 and .0 are skipped; the order of the MACs decides who gets which.
    run = RunCli({"set-ip", "--range", "198.18.8.254", macs[2], macs[0], "--seconds", "10"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    // Each device was told once: its answer ended the request.
    EXPECT_EQ(m_peer->CountCommand(CMD_SET_IP), 2u);
    EXPECT_EQ(IpToText(m_peer->GetDevice(macs[2])->info.ip), "198.18.8.254");
    EXPECT_EQ(IpToText(m_peer->GetDevice(macs[0])->info.ip), "198.18.9.1");
    EXPECT_EQ(IpToText(m_peer->GetDevice(macs[1])->info.ip), "198.18.1.2");
    // Each device was asked again at its new address and reported it.
    EXPECT_NE(run.out.find(macs[2] + "  198.18.8.254  verified\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(macs[0] + "  198.18.9.1  verified\n"), std::string::npos) << run.out;
    EXPECT_EQ(m_peer->CountCommand(CMD_DEVICE_INFO, macs[2]),
              m_peer->CountCommand(CMD_DEVICE_INFO, macs[1]) + 1);
}

TEST_F(CliLabTest, DeviceOutsideEveryAdapterSubnetIsReportedNotSent) {
    auto macs = AddDevices(2);
    // It answers from a lab address but reports an address no adapter of the PC reaches.
    m_peer->UpdateDevice(macs[1], [](EmulatedDevice& d) { IpFromText("198.19.5.5", d.info.ip); });
    StartPeer();
    auto run = RunCli({"reboot", macs[0], macs[1], "--seconds", "10"});
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_NE(run.out.find(macs[1] + "  198.19.5.5  cannot be sent: no adapter"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(macs[0] + "  198.18.1.1  " + GetStatusLabel(AP_STATUS_RESTARTING)),
              std::string::npos)
        << run.out;
    EXPECT_EQ(m_peer->CountCommand(CMD_REBOOT, macs[1]), 0u);
}
