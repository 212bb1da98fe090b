// A firmware upgrade end to end in the lab: the real engine and store, the FileServer
// program on the PC side, emulated devices that fetch the image by TFTP, report, flash and
// come back; the upgrade's own course driven at ten ticks a second.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "actions/file_server_control.h"
#include "actions/upgrade_session.h"
#include "engine_lab.h"
#include "support/temp_dir.h"

namespace fd::test {

namespace {

class UpgradeLabTest : public EngineLabTest {};

std::string VersionText(const ap_info_stu& rec) {
    return std::string(reinterpret_cast<const char*>(rec.version),
                       strnlen(reinterpret_cast<const char*>(rec.version),
                               std::min<std::size_t>(rec.version_len, sizeof rec.version)));
}

}  // namespace

TEST_F(UpgradeLabTest, TenDevicesFetchFlashAndComeBackWhileABrokenFetchIsReportedFailed) {
    // Ten devices; the fourth breaks off its fetch.
    std::vector<std::string> macs = AddDevices(10);
    m_peer->UpdateDevice(macs[3], [](devsim::EmulatedDevice& d) { d.upgradeFetchFails = true; });
    for (const auto& mac : macs)
        m_peer->UpdateDevice(mac, [](devsim::EmulatedDevice& d) { d.flashSilence = 1500ms; });
    ASSERT_TRUE(StartPeer());
    ASSERT_TRUE(StartEngine());
    ASSERT_TRUE(SearchUntilStored(10));

    // A generated image; its name gives the version the devices come back with.
    TempDir tmp;
    std::string image(3 * 1024 * 1024 + 321, '\0');
    std::mt19937 rng(5);
    for (auto& c : image) c = static_cast<char>(rng());
    const std::string path = tmp.Write("images/fdx-2.0.7.BIN", image);
    ASSERT_EQ(CheckUpgradeFilePath(path), "");
    const std::string name = SplitImagePath(path).second;

    // The FileServer program under a name of this test alone, on port 69 of the PC side.
    const std::string program = tmp.Path("FileServer-lab" + std::to_string(::getpid()));
    std::filesystem::copy_file(std::string(std::getenv("FD_BIN_DIR")) + "/FileServer", program);
    CFileServerControl::Options so;
    so.program = program;
    so.extraArgs = {"--quiet"};
    so.workDirectory = tmp.Path("run");
    std::filesystem::create_directories(so.workDirectory);
    CFileServerControl server(so);

    std::vector<DeviceTarget> targets;
    for (const auto& mac : macs) {
        auto rec = Row(mac);
        ASSERT_TRUE(rec);
        DeviceTarget t{};
        std::snprintf(t.ip, sizeof t.ip, "%s", IpToText(rec->ip).c_str());
        std::snprintf(t.mac, sizeof t.mac, "%s", mac.c_str());
        t.ap_type = rec->ap_type;
        targets.push_back(t);
    }
    // Every lab device is of one model unless told otherwise; upgrade that model.
    const auto choices = UpgradeModelChoices(targets);
    ASSERT_EQ(choices.size(), 1u);

    std::map<std::string, std::set<int>> seen;
    bool closed = false;
    CUpgradeSession session(*m_engine, *m_store, server,
                            {[&](const std::string& mac, int s) { seen[mac].insert(s); },
                             [&](bool) { closed = true; }, nullptr});
    session.Start(targets, choices[0].second, path,
                  MakeUpgradeImageInfo(name, UpgradeImageSize(path)));
    int transferTicks = 0;
    for (int i = 0; i < 400 && !closed; ++i) {
        std::this_thread::sleep_for(100ms);
        session.Tick();
        if (session.GetPhase() == CUpgradeSession::Phase::Transfer) transferTicks = i + 1;
    }
    ASSERT_TRUE(closed);
    // The transfer phase ended early: every device had answered before its time was up.
    EXPECT_LT(transferTicks, CUpgradeSession::kBatchWaitLimit);
    EXPECT_FALSE(server.IsRunning());

    // The searches at the end bring the flashed devices back with the new version.
    EXPECT_TRUE(WaitUntil(
        [&] {
            for (int i = 0; i < 10; ++i) {
                auto rec = Row(macs[i]);
                if (i != 3 && (!rec || VersionText(*rec) != "fdx-2.0.7")) return false;
            }
            return true;
        },
        kWait));
    for (int i = 0; i < 10; ++i) {
        auto rec = Row(macs[i]);
        ASSERT_TRUE(rec) << i;
        if (i == 3) {
            EXPECT_TRUE(seen[macs[i]].count(AP_STATUS_UPGRADE_FAIL))
                << "the failure was never shown";
            EXPECT_FALSE(seen[macs[i]].count(AP_STATUS_UPGRADING));
            EXPECT_NE(VersionText(*rec), "fdx-2.0.7");
        } else {
            EXPECT_TRUE(seen[macs[i]].count(AP_STATUS_UPGRADING)) << i;
            EXPECT_EQ(rec->ap_status, AP_STATUS_ONLINE) << i;
        }
    }
    // Every device was asked to fetch; only those that fetched were told to flash.
    std::set<std::string> asked, started;
    for (const auto& d : m_peer->ReceivedCommands(CMD_UPGRADE)) asked.insert(d.MacText());
    for (const auto& d : m_peer->ReceivedCommands(CMD_UPGRADE_START)) started.insert(d.MacText());
    EXPECT_EQ(asked.size(), 10u);
    EXPECT_EQ(started.size(), 9u);
    EXPECT_FALSE(started.count(macs[3]));
}

}  // namespace fd::test
