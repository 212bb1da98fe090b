// The bridge page and its wizard over a real store on a scratch file and an engine that
// only records what it is asked to send. With FD_SCREENSHOT_DIR set, the wizard's four
// steps are saved there as PNG files.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QRadioButton>
#include <QTest>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "../support/fake_device_engine.h"
#include "../support/temp_dir.h"
#include "app/app_context.h"
#include "gui_test_support.h"
#include "controls/grid_ctrl.h"
#include "controls/t_button_picture.h"
#include "controls/t_edit.h"
#include "controls/t_static.h"
#include "pages/bridge/bridge_config_dlg.h"
#include "pages/bridge/bridge_dlg.h"
#include "pages/bridge/bridge_steps.h"
#include "pages/devices/page_messages.h"
#include "presentation/bridge_page.h"
#include "store/sql_management.h"

namespace {

using namespace std::chrono_literals;
using fd::test::RecordingEngine;

constexpr int kOperate = 10;  // the bridge page's Operate column
const std::string kStation = "02:fd:00:00:00:07";

ap_info_stu Station(int modeSwitch = 0) {
    ap_info_stu rec{};
    std::snprintf(rec.mac, sizeof rec.mac, "%s", kStation.c_str());
    rec.ap_type = 1;
    rec.ap_status = fd::AP_STATUS_ONLINE;
    rec.work_mode = fd::WORK_MODE_AP;
    rec.mode_btn_status = static_cast<uint8_t>(modeSwitch);
    rec.rf_type = 1;  // 5 GHz, 20 MHz, China: 149 is among its channels
    rec.ip_mode = 1;
    fd::IpFromText("198.18.1.7", rec.ip);
    fd::IpFromText("255.255.0.0", rec.ip_mask);
    fd::IpFromText("198.18.0.254", rec.ip_gateway);
    fd::SetFieldText(rec.ap_name, sizeof rec.ap_name, rec.ap_name_len, "roof");
    return rec;
}

config_otherwl_basic Neighbour(uint8_t last, int signal, int secureMode, const std::string& ssid) {
    config_otherwl_basic ap{};
    const uint8_t mac[6] = {0x02, 0xaa, 0, 0, 0, last};
    std::memcpy(ap.mac, mac, 6);
    ap.signal = static_cast<int8_t>(signal);
    ap.channel = 149;
    ap.secure_mode = static_cast<uint8_t>(secureMode);
    fd::SetFieldText(ap.ssid, sizeof ap.ssid, ap.ssid_len, ssid);
    return ap;
}

template <typename Pred>
bool WaitUntil(Pred pred) {
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

void Shot(QWidget& w, const char* name) {
    const QByteArray dir = qgetenv("FD_SCREENSHOT_DIR");
    if (dir.isEmpty()) return;
    QDir().mkpath(QString::fromLocal8Bit(dir));
    w.grab().save(QString::fromLocal8Bit(dir) + "/" + name);
}

class BridgePagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.Ok());
        m_store =
            std::make_unique<CSqlManagement>(m_dir.Path("data.mdb"), [](const std::string&) {});
        ASSERT_TRUE(m_store->IsOpen());
        fd::InstallServices({&m_engine, m_store.get(), {}, {}});
        fd::SetPageMessageHandler([this](QWidget*, const fd::PageMessage& m) {
            m_messages.push_back(m.key);
            return QMessageBox::Ok;
        });
        fd::SetPageDialogRunner([this](QDialog& d) {
            auto* wizard = dynamic_cast<CBridgeConfigDlg*>(&d);
            if (wizard == nullptr || !m_inWizard) return int(QDialog::Rejected);
            m_inWizard(*wizard);
            return d.result();
        });
    }
    void TearDown() override {
        fd::InstallServices({});
        fd::SetPageMessageHandler({});
        fd::SetPageDialogRunner({});
    }

    // The device reports its neighbours and finishes its scan.
    void ScanAnswer(CBridgeConfigDlg& w, const std::vector<config_otherwl_basic>& aps) {
        ASSERT_TRUE(m_store->SaveOtherApList(fd::DecodeScanResult(fd::EncodeScanResult(1, 0, aps))));
        m_engine.SetScanComplete(true);
        w.ScanStep()->OnScanTick();
    }
    int Sent(int command) const {
        int n = 0;
        for (const auto& s : m_engine.Sends()) n += s.command == command;
        return n;
    }
    std::size_t Neighbours() {
        OtherApList list;
        m_store->QueryOtherApList(0, list, true);
        return list.size();
    }

    fd::test::TempDir m_dir;
    std::unique_ptr<CSqlManagement> m_store;
    RecordingEngine m_engine;
    QStringList m_messages;
    std::function<void(CBridgeConfigDlg&)> m_inWizard;
};

TEST_F(BridgePagesTest, WizardPicksAnAccessPointAndSendsTheLinkAfterEveryCheck) {
    ASSERT_TRUE(m_store->SaveApInfo(Station()));
    ASSERT_TRUE(m_store->SaveApInfo([] {
        ap_info_stu other = Station();
        std::snprintf(other.mac, sizeof other.mac, "02:fd:00:00:00:08");
        fd::IpFromText("198.18.1.8", other.ip);
        return other;
    }()));
    CBridgeDlg page;
    page.ReloadCurrentPage();
    const int row = page.RowOfMac(kStation);
    ASSERT_GE(row, 1);
    bool ran = false;
    m_inWizard = [&](CBridgeConfigDlg& w) {
        ran = true;
        w.resize(w.size());
        // Step 0: the scan went to the device at once; Next waits for a tick.
        ASSERT_EQ(Sent(fd::CMD_SCAN), 1);
        EXPECT_EQ(m_engine.Sends()[0].ip, "198.18.1.7");
        EXPECT_EQ(m_engine.Sends()[0].mac, kStation);
        EXPECT_FALSE(w.NextButton()->isEnabled());
        EXPECT_FALSE(w.BackButton()->isVisible() && w.BackButton()->isVisibleTo(&w));
        EXPECT_TRUE(w.ScanStep()->ScanningLabel()->isVisibleTo(&w));
        ScanAnswer(w, {Neighbour(1, -60, 10, "mast"), Neighbour(2, -59, 4, "\xE5\xA1\x94"),
                       Neighbour(3, -75, 0, "far")});
        CGridCtrl* grid = w.ScanStep()->Grid();
        ASSERT_EQ(grid->GetRowCount(), 4);
        // Strongest first, with its icon.
        EXPECT_EQ(grid->GetItemText(1, fd::kScanMacColumn), "02:aa:00:00:00:02");
        EXPECT_EQ(grid->Model()->Image(1, fd::kScanSignalColumn), 5);
        EXPECT_EQ(grid->Model()->Image(2, fd::kScanSignalColumn), 3);
        EXPECT_EQ(grid->Model()->Image(3, fd::kScanSignalColumn), 1);
        EXPECT_EQ(grid->GetItemText(2, 4), "WPA-PSK/TKIP&AES");
        EXPECT_FALSE(w.NextButton()->isEnabled());
        w.ScanStep()->OnCellClicked(0, fd::kScanTickColumn);  // nothing
        // One access point at a time: the header keeps its title, no tick-all box.
        EXPECT_FALSE(grid->Model()
                         ->headerData(fd::kScanTickColumn, Qt::Horizontal, Qt::CheckStateRole)
                         .isValid());
        EXPECT_EQ(grid->GetItemText(1, fd::kScanMacColumn), "02:aa:00:00:00:02");
        w.ScanStep()->OnCellClicked(1, 2);
        EXPECT_TRUE(w.NextButton()->isEnabled());
        w.ScanStep()->OnCellClicked(2, 1);  // a second tick takes the first one's place
        EXPECT_FALSE(grid->GetCheck(1, fd::kScanTickColumn));
        EXPECT_TRUE(grid->GetCheck(2, fd::kScanTickColumn));
        w.ScanStep()->OnCellClicked(2, 1);
        EXPECT_FALSE(w.NextButton()->isEnabled());
        w.ScanStep()->OnCellClicked(2, 1);
        // A real click on another row's tick box moves the tick there too.
        w.show();
        const QRect box = grid->visualRect(grid->Model()->index(2, fd::kScanTickColumn));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, box.center());
        EXPECT_FALSE(grid->GetCheck(2, fd::kScanTickColumn));
        EXPECT_TRUE(grid->GetCheck(3, fd::kScanTickColumn));
        EXPECT_EQ(w.ScanStep()->List().TickedRow(), 2u);
        EXPECT_TRUE(w.NextButton()->isEnabled());
        w.ScanStep()->OnCellClicked(2, 1);
        Shot(w, "bridge_step0_scan.png");

        // Step 1: WPA-PSK with TKIP&AES as the access point reports it.
        w.OnNext();
        ASSERT_EQ(w.Step(), 1);
        CBridgeSecureDlg* sec = w.SecureStep();
        EXPECT_EQ(sec->SsidEdit()->text(), "mast");
        EXPECT_EQ(sec->SecurityCombo()->currentData().toInt(), fd::kBridgeSecurityWpaPsk);
        EXPECT_TRUE(sec->CipherRadio(fd::PskCipher::TkipAes)->isChecked());
        EXPECT_FALSE(sec->CipherRadio(fd::PskCipher::TkipAes)->isEnabled());
        EXPECT_EQ(sec->ChannelCombo()->currentData().toInt(), 149);
        sec->OnSecurityChanged(sec->SecurityCombo()->currentIndex());
        EXPECT_TRUE(sec->CipherRadio(fd::PskCipher::Aes)->isChecked());
        sec->KeyEdit()->setText("mast-key-2024");
        Shot(w, "bridge_step1_security.png");
        w.OnNext();
        ASSERT_EQ(w.Step(), 2) << m_messages.join("|").toStdString();

        // Step 2: the device's own addresses; another device's address is refused.
        EXPECT_EQ(w.IpStep()->IpEdit()->text(), "198.18.1.7");
        EXPECT_EQ(w.IpStep()->GatewayEdit()->text(), "198.18.0.254");
        w.IpStep()->IpEdit()->setText("198.18.1.8");
        w.OnNext();
        EXPECT_EQ(w.Step(), 2);
        ASSERT_FALSE(m_messages.isEmpty());
        EXPECT_EQ(m_messages.back(), "The ip address is already in use, please respecify!");
        w.IpStep()->IpEdit()->setText("198.18.1.9");
        Shot(w, "bridge_step2_ip.png");
        w.OnNext();
        ASSERT_EQ(w.Step(), 3);
        EXPECT_EQ(w.NextButton()->text(), "Save");
        Shot(w, "bridge_step3_finish.png");
        // Back turns Save into Next; Next checks the addresses again.
        w.OnBack();
        EXPECT_EQ(w.NextButton()->text(), "Next");
        w.IpStep()->GatewayEdit()->setText("10.0.0.1");
        w.OnNext();
        EXPECT_EQ(w.Step(), 2);
        EXPECT_EQ(m_messages.back(), "Ip address and gateway address is not in the same subnet!");
        w.IpStep()->GatewayEdit()->setText("198.18.0.254");
        w.OnNext();
        ASSERT_EQ(w.Step(), 3);
        EXPECT_EQ(Sent(fd::CMD_BRIDGE_CONFIG), 0);
        w.OnNext();  // Save
        EXPECT_EQ(w.result(), QDialog::Accepted);
    };
    page.OnCellClicked(row, kOperate);
    ASSERT_TRUE(ran);
    ASSERT_TRUE(WaitUntil([&] { return Sent(fd::CMD_BRIDGE_CONFIG) == 1; }));
    const auto sends = m_engine.Sends();
    const auto& link = sends.back();
    EXPECT_EQ(link.ip, "198.18.1.7");
    EXPECT_EQ(link.mac, kStation);
    EXPECT_TRUE(link.retransmit);
    ASSERT_EQ(link.body.size(), 326u);
    const auto body = fd::DecodeBody<BridgeConfigBody>(link.body);
    EXPECT_EQ(fd::MacToText(body.wireless.ap_mac), "02:aa:00:00:00:01");
    EXPECT_EQ(body.wireless.channel, 149);
    EXPECT_EQ(fd::FieldText(body.wireless.ssid, 32, body.wireless.ssid_len), "mast");
    EXPECT_EQ(body.wireless.secure_mode, fd::kBridgeSecurityWpaPsk);
    EXPECT_EQ(body.wireless.wpapsk_auth_type, 0);  // AES, after the list was chosen again
    EXPECT_EQ(fd::FieldText(body.wireless.wpapsk_key, 64, body.wireless.wpapsk_key_len),
              "mast-key-2024");
    EXPECT_EQ(fd::IpToText(body.ip.ip), "198.18.1.9");
    EXPECT_EQ(body.ip.ip_mode, 1);
    EXPECT_EQ(Neighbours(), 0u);
    EXPECT_TRUE(page.ReloadTimer().isActive());
}

TEST_F(BridgePagesTest, ModeSwitchInTheApPositionKeepsTheWizardShut) {
    for (int modeSwitch : {0, 1, 2}) {
        ASSERT_TRUE(m_store->SaveApInfo(Station(modeSwitch)));
        CBridgeDlg page;
        page.ReloadCurrentPage();
        int opened = 0;
        m_inWizard = [&](CBridgeConfigDlg& w) {
            ++opened;
            w.OnClose();
        };
        m_messages.clear();
        page.OnCellClicked(page.RowOfMac(kStation), kOperate);
        EXPECT_EQ(opened, modeSwitch == 1 ? 0 : 1) << modeSwitch;
        EXPECT_EQ(m_messages.size(), modeSwitch == 1 ? 1 : 0) << modeSwitch;
        if (modeSwitch == 1) {
            EXPECT_EQ(m_messages[0].toStdString(), fd::kMsgModeSwitchAtAp);
        }
    }
    EXPECT_EQ(Sent(fd::CMD_BRIDGE_CONFIG), 0);
}

TEST_F(BridgePagesTest, ClosingAtAnyStepEmptiesTheNeighbourTableAndSendsNothing) {
    ASSERT_TRUE(m_store->SaveApInfo(Station()));
    CBridgeDlg page;
    page.ReloadCurrentPage();
    for (int closeAt = 0; closeAt <= 3; ++closeAt) {
        m_inWizard = [&](CBridgeConfigDlg& w) {
            ScanAnswer(w, {Neighbour(1, -50, 0, "open-ap"), Neighbour(2, -70, 1, "wep-ap")});
            ASSERT_EQ(Neighbours(), 2u);
            w.ScanStep()->OnCellClicked(1, 0);
            for (int s = 0; s < closeAt; ++s) w.OnNext();
            ASSERT_EQ(w.Step(), closeAt) << m_messages.join("|").toStdString();
            // The close button as the user reaches it: a click where it is drawn.
            w.show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
            fdtest::ClickWhereDrawn(w.CloseButton());
            EXPECT_FALSE(w.isVisible()) << "step " << closeAt;
            EXPECT_EQ(w.result(), QDialog::Rejected);
            EXPECT_EQ(w.ScanStep()->Grid()->GetRowCount(), 1);
        };
        page.OnCellClicked(page.RowOfMac(kStation), kOperate);
        EXPECT_EQ(Neighbours(), 0u) << closeAt;
        m_engine.SetScanComplete(false);
    }
    EXPECT_EQ(Sent(fd::CMD_BRIDGE_CONFIG), 0);
}

TEST_F(BridgePagesTest, ScanThatNeverCompletesEndsAfterThirtySecondsWithWhatArrived) {
    ASSERT_TRUE(m_store->SaveApInfo(Station()));
    CBridgeDlg page;
    page.ReloadCurrentPage();
    m_inWizard = [&](CBridgeConfigDlg& w) {
        ASSERT_TRUE(m_store->SaveOtherApList(
            fd::DecodeScanResult(
                fd::EncodeScanResult(2, 0, std::vector{Neighbour(4, -66, 2, "half")}))));
        for (int s = 1; s < 30; ++s) w.ScanStep()->OnScanTick();
        EXPECT_TRUE(w.ScanStep()->IsScanning());
        EXPECT_FALSE(w.ScanStep()->ScanButton()->isVisibleTo(w.ScanStep()));
        w.ScanStep()->OnScanTick();
        EXPECT_FALSE(w.ScanStep()->IsScanning());
        EXPECT_TRUE(w.ScanStep()->ScanButton()->isVisibleTo(w.ScanStep()));
        EXPECT_EQ(w.ScanStep()->Grid()->GetRowCount(), 2);
        // The sort by signal turns the order and drops the tick with the refill.
        w.ScanStep()->OnCellClicked(1, 0);
        EXPECT_TRUE(w.NextButton()->isEnabled());
        w.ScanStep()->OnCellClicked(0, fd::kScanSignalColumn);
        EXPECT_FALSE(w.NextButton()->isEnabled());
        w.OnClose();
    };
    page.OnCellClicked(page.RowOfMac(kStation), kOperate);
}

TEST_F(BridgePagesTest, WepAccessPointIsJoinedWithItsWepKey) {
    ASSERT_TRUE(m_store->SaveApInfo(Station()));
    CBridgeDlg page;
    page.ReloadCurrentPage();
    m_inWizard = [&](CBridgeConfigDlg& w) {
        ScanAnswer(w, {Neighbour(5, -55, 1, "old-wep")});
        w.ScanStep()->OnCellClicked(1, 0);
        w.OnNext();
        CBridgeSecureDlg* sec = w.SecureStep();
        EXPECT_EQ(sec->SecurityCombo()->currentData().toInt(), fd::kBridgeSecurityWep);
        EXPECT_TRUE(sec->WepPage()->isVisibleTo(sec));
        EXPECT_FALSE(sec->KeyEdit()->isEnabled());
        sec->WepPage()->KeyEdit(0)->setText("0a1b2c3d4e");
        sec->WepPage()->FormatCombo(0)->setCurrentIndex(0);  // Hex
        Shot(w, "bridge_step1_wep.png");
        w.OnNext();
        ASSERT_EQ(w.Step(), 2) << m_messages.join("|").toStdString();
        EXPECT_EQ(w.WirelessBlock().secure_mode, fd::kBridgeSecurityWep);
        EXPECT_EQ(w.WirelessBlock().wep_key_index, 1);
        EXPECT_EQ(w.WirelessBlock().wep_keys[0].type, 1);
        EXPECT_EQ(w.WirelessBlock().wep_keys[0].len, 10);
        EXPECT_EQ(w.WirelessBlock().wpapsk_key_len, 0);
        w.OnClose();
    };
    page.OnCellClicked(page.RowOfMac(kStation), kOperate);
}

}  // namespace
