// The bridge page end to end: the real engine in the lab's PC namespace, a real store, and
// an emulated access point and station behind the veth pair. The wizard is driven through
// its steps as a user would; the reboot page then restarts the pair. Skips without root.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialog>
#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "app/app_context.h"
#include "controls/grid_ctrl.h"
#include "controls/t_button_picture.h"
#include "controls/t_edit.h"
#include "devsim/device_peer.h"
#include "gui/page_lab_test.h"
#include "pages/bridge/bridge_config_dlg.h"
#include "pages/bridge/bridge_dlg.h"
#include "pages/bridge/bridge_steps.h"
#include "pages/devices/page_messages.h"
#include "pages/devices/restart_pages.h"
#include "support/lab.h"

namespace {

using namespace std::chrono_literals;
using fd::test::WaitUntil;

constexpr int kOperate = 10;
constexpr int kTick = 0;  // reboot page

class BridgePagesLabTest : public fd::test::PageLabTest {
protected:
    void SetUp() override {
        EngineLabTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        fd::devsim::EmulatedDevice ap = fd::devsim::MakeDevice(0);
        ap.info.work_mode = fd::WORK_MODE_AP;
        ap.info.ssid_mac[0] = 0x06;  // its radio's mac, which a station links to
        ap.info.secure_mode = 3;     // WPA2-PSK, AES
        fd::SetFieldText(ap.info.ssid, 32, ap.info.ssid_len, "mast-ap");
        fd::devsim::EmulatedDevice sta = fd::devsim::MakeDevice(1);
        sta.info.work_mode = fd::WORK_MODE_AP;  // becomes a station through the wizard
        sta.info.rf_type = 1;                   // on the access point's band
        auto heard = fd::devsim::MakeNeighbours(39, {-61, -66, -72, -80});
        heard.insert(heard.begin() + 7, fd::devsim::NeighbourOf(ap, -52));
        sta.scanBodies = fd::devsim::ScanBodiesFor(heard);
        m_ap = ap.MacText();
        m_sta = sta.MacText();
        m_bssid = fd::MacToText(ap.info.ssid_mac);
        m_peer->AddDevice(ap);
        m_peer->AddDevice(sta);
        ASSERT_TRUE(m_lab.AddDeviceAddresses({sta.address})) << m_lab.Error();
        ASSERT_TRUE(StartPeer());
        ASSERT_TRUE(StartEngine(60000ms));
        InstallPageServices();
    }

    // Both devices stored, their information read afresh.
    bool Search() {
        const auto before = m_peer->Counters().deviceInfo;
        m_engine->SendSearch();
        return WaitUntil([&] { return m_peer->Counters().deviceInfo >= before + 2; },
                         fd::test::kWait) &&
               WaitUntil([&] { return StoredCount() == 2; }, fd::test::kWait);
    }

    // Runs the wizard on the station to the end with this key; the scan list it saw.
    void RunWizard(CBridgeDlg& page, const std::string& key, int& listed) {
        m_onDialog = [&](QDialog& d) {
            auto* w = dynamic_cast<CBridgeConfigDlg*>(&d);
            EXPECT_NE(w, nullptr);
            if (w == nullptr) return int(QDialog::Rejected);
            CBridgeSearcgAPDlg* scan = w->ScanStep();
            for (int s = 0; s < 300 && scan->IsScanning(); ++s) {
                std::this_thread::sleep_for(100ms);
                scan->OnScanTick();
            }
            listed = scan->Grid()->GetRowCount() - 1;
            int apRow = -1;
            for (int r = 1; r < scan->Grid()->GetRowCount(); ++r)
                if (scan->Grid()->GetItemText(r, fd::kScanMacColumn).toStdString() == m_bssid)
                    apRow = r;
            EXPECT_EQ(apRow, 1);  // the strongest
            if (apRow < 0) return int(QDialog::Rejected);
            scan->OnCellClicked(apRow, 1);
            w->OnNext();
            EXPECT_EQ(w->SecureStep()->SecurityCombo()->currentData().toInt(),
                      fd::kBridgeSecurityWpa2Psk);
            w->SecureStep()->KeyEdit()->setText(QString::fromStdString(key));
            w->OnNext();
            w->OnNext();
            EXPECT_EQ(w->Step(), 3) << m_messages.join("|").toStdString();
            w->OnNext();  // Save
            return w->result();
        };
        page.OpenWizard(page.RowOfMac(m_sta));
    }

    std::string m_ap, m_sta, m_bssid;
};

TEST_F(BridgePagesLabTest, WizardLinksTheStationAndTheRebootPageRestartsTheAccessPointFirst) {
    ASSERT_TRUE(Search());
    CBridgeDlg page;
    page.ReloadCurrentPage();
    ASSERT_GE(page.RowOfMac(m_sta), 1);

    int listed = 0;
    RunWizard(page, "mast-key-2024", listed);
    EXPECT_EQ(listed, 40);  // 31 + 9 from two result packets
    EXPECT_EQ(m_peer->Counters().scans, 2u);
    ASSERT_TRUE(
        WaitUntil([&] { return m_store->GetApStatus(m_sta) == fd::AP_STATUS_BRIDGE_SUCCESS; },
                  fd::test::kWait));
    OtherApList left;
    m_store->QueryOtherApList(0, left, true);
    EXPECT_TRUE(left.empty());

    // The station's next information shows the link in the store (once the engine has
    // handled it: the devices' answers are counted when they are sent).
    ASSERT_TRUE(Search());
    std::string peer;
    ASSERT_TRUE(WaitUntil([&] { return m_store->FindBridgePeer(m_sta, peer); }, fd::test::kWait));
    EXPECT_EQ(peer, m_ap);
    ASSERT_TRUE(m_store->FindBridgePeer(m_ap, peer));
    EXPECT_EQ(peer, m_sta);
    EXPECT_TRUE(m_store->HasBridgedStation(m_ap));
    EXPECT_EQ(Row(m_sta)->work_mode, fd::WORK_MODE_STATION);
    // What the station took from the body.
    const ap_info_stu linked = m_peer->GetDevice(m_sta)->info;
    EXPECT_EQ(linked.bridge_channel, 36);
    EXPECT_EQ(fd::FieldText(linked.bridge_ssid, 32, linked.bridge_ssid_len), "mast-ap");

    // Rebooting both: the access point leaves first, its station after the gap.
    CRebootDlg reboot;
    reboot.ReloadCurrentPage();
    reboot.Grid()->SetCheck(reboot.RowOfMac(m_sta), kTick, true);
    reboot.Grid()->SetCheck(reboot.RowOfMac(m_ap), kTick, true);
    m_onDialog = [](QDialog&) { return int(QDialog::Accepted); };
    reboot.OnAction();
    ASSERT_TRUE(WaitUntil([&] { return !reboot.Worker().Running(); }, fd::test::kWait));
    ASSERT_TRUE(m_peer->WaitForCommand(fd::CMD_REBOOT, m_sta, 1, fd::test::kWait));
    const auto reboots = m_peer->ReceivedCommands(fd::CMD_REBOOT);
    ASSERT_FALSE(reboots.empty());
    EXPECT_EQ(reboots.front().MacText(), m_ap);
    std::string order;
    for (const auto& r : reboots) order += r.MacText() + " ";
    const auto stationAt = std::find_if(reboots.begin(), reboots.end(),
                                        [&](const auto& r) { return r.MacText() == m_sta; });
    ASSERT_NE(stationAt, reboots.end()) << order;
    EXPECT_GE(stationAt->at - reboots.front().at, 150ms) << order;
}

TEST_F(BridgePagesLabTest, RefusedLinkIsMarkedAndPairsNothing) {
    m_peer->UpdateDevice(
        m_sta, [](fd::devsim::EmulatedDevice& d) { d.ackResult[fd::CMD_BRIDGE_CONFIG] = 1; });
    ASSERT_TRUE(Search());
    CBridgeDlg page;
    page.ReloadCurrentPage();
    int listed = 0;
    RunWizard(page, "mast-key-2024", listed);
    ASSERT_TRUE(WaitUntil([&] { return m_store->GetApStatus(m_sta) == fd::AP_STATUS_BRIDGE_FAIL; },
                          fd::test::kWait));
    ASSERT_TRUE(Search());
    std::string peer;
    EXPECT_FALSE(m_store->FindBridgePeer(m_sta, peer));
    EXPECT_FALSE(m_store->HasBridgedStation(m_ap));
    EXPECT_EQ(m_peer->GetDevice(m_sta)->info.work_mode, fd::WORK_MODE_AP);
}

}  // namespace
