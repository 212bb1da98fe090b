// The management page and the configuration dialog over a real store on a scratch file and
// an engine that only records what it is asked to send.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QRadioButton>
#include <QValidator>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "../support/fake_device_engine.h"
#include "../support/temp_dir.h"
#include "app/app_context.h"
#include "app/child_dlg.h"
#include "config/language.h"
#include "controls/grid_ctrl.h"
#include "controls/t_button_picture.h"
#include "controls/t_edit.h"
#include "controls/t_static.h"
#include "controls/wait_dlg.h"
#include "pages/config/ip_set_dlg.h"
#include "pages/config/management_config_dlg.h"
#include "pages/config/management_dlg.h"
#include "pages/config/vlan_reboot_dlgs.h"
#include "pages/config/wireless_set_dlg.h"
#include "pages/devices/page_messages.h"
#include "rules/country_table.h"
#include "store/sql_management.h"

namespace {

using namespace std::chrono_literals;
using fd::test::RecordingEngine;

// Management page columns.
constexpr int kSerial = 0, kIp = 3, kMac = 4, kOperate = 10;

ap_info_stu Device(int id, int apType = 10) {
    ap_info_stu r{};
    std::snprintf(r.mac, sizeof r.mac, "00:1b:2c:00:00:%02x", id);
    r.ap_type = static_cast<uint16_t>(apType);
    r.ap_status = fd::AP_STATUS_ONLINE;
    r.work_mode = fd::WORK_MODE_AP;
    r.ip_mode = 1;
    fd::IpFromText("10.0.0." + std::to_string(id + 1), r.ip);
    fd::IpFromText("255.255.255.0", r.ip_mask);
    fd::IpFromText("10.0.0.254", r.ip_gateway);
    fd::SetFieldText(r.ap_name, sizeof r.ap_name, r.ap_name_len, "dev" + std::to_string(id));
    r.rf_count = 1;
    r.rf_en = 1;
    r.rf_type = 1;
    r.country_code = 1;  // US
    r.network_mode = 1;
    r.bandwidth = 0;
    r.channel = 36;
    r.tx_power = 20;
    r.tx_power_min = 3;
    r.tx_power_max = 27;
    r.ssid_rf_type = 1;
    fd::SetFieldText(r.ssid, sizeof r.ssid, r.ssid_len, "lab");
    r.ssid_count = 1;
    r.vlan_en = 1;
    r.vlan_id = 10;
    r.vlan_id_wlan = 20;
    r.vlan_id_lan = 30;
    r.vlan_pvid = 40;
    r.vlan_id_lan3 = 50;
    r.vlan_id_lan4 = 60;
    r.restart_type = 0x02;
    r.restart_time = 90;
    return r;
}

template <typename Pred>
bool WaitUntil(Pred pred, std::chrono::milliseconds limit = 5s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

class ManagementPagesTest : public ::testing::Test {
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
            ++m_dialogs;
            if (auto* w = dynamic_cast<CWaitDlg*>(&d)) {
                m_waits.push_back(w->Progress().Duration());
                m_waitSearches.push_back(w->Progress().SearchesLeft());
                return int(QDialog::Accepted);
            }
            return m_onDialog ? m_onDialog(d) : int(QDialog::Rejected);
        });
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(m_store->SaveApInfo(Device(i)));
    }
    void TearDown() override {
        fd::InstallServices({});
        fd::SetPageMessageHandler({});
        fd::SetPageDialogRunner({});
    }

    // A dialog for stored device id, as the page opens it.
    std::unique_ptr<CManagementConfigDlg> Dialog(int id) {
        ap_info_stu rec{};
        EXPECT_TRUE(m_store->QueryApByMac(Device(id).mac, rec));
        fd::ConfigurationTarget target{fd::IpToText(rec.ip), rec.mac, rec.ap_type};
        return std::make_unique<CManagementConfigDlg>(rec, target, m_engine, *m_store, m_sender);
    }
    std::vector<RecordingEngine::Send> SendsAfterSender() {
        EXPECT_TRUE(WaitUntil([&] { return !m_sender.Running(); }));
        return m_engine.Sends();
    }

    fd::test::TempDir m_dir;
    std::unique_ptr<CSqlManagement> m_store;
    RecordingEngine m_engine;
    fd::WorkerSlot m_sender;
    QStringList m_messages;
    int m_dialogs = 0;
    std::vector<int> m_waits;
    std::vector<int> m_waitSearches;
    std::function<int(QDialog&)> m_onDialog;
};

}  // namespace

TEST_F(ManagementPagesTest, SaveWithNothingChangedClosesAndSendsNothing) {
    auto dlg = Dialog(0);
    EXPECT_EQ(dlg->CurrentTab(), CManagementConfigDlg::kWirelessTab);
    EXPECT_TRUE(dlg->WirelessPage()->isVisibleTo(dlg.get()));
    EXPECT_FALSE(dlg->IpPage()->isVisibleTo(dlg.get()));
    dlg->OnSave();
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_TRUE(dlg->Pending().Empty());
    EXPECT_TRUE(SendsAfterSender().empty());
    EXPECT_EQ(m_dialogs, 0);  // no wait
    EXPECT_TRUE(m_messages.isEmpty());
}

TEST_F(ManagementPagesTest, OnlyTheNameChangedSendsOneNameCommandWithoutAWait) {
    auto dlg = Dialog(1);
    dlg->ShowTab(CManagementConfigDlg::kIpTab);
    dlg->IpPage()->NameEdit()->setText(QStringLiteral("东塔 1"));
    dlg->OnSave();
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    const auto sends = SendsAfterSender();
    ASSERT_EQ(sends.size(), 1u);
    EXPECT_EQ(sends[0].command, fd::CMD_SET_NAME);
    EXPECT_EQ(sends[0].ip, "10.0.0.2");
    EXPECT_EQ(sends[0].body.size(), 33u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sends[0].body.data()), sends[0].body[32]),
              "东塔 1");
    EXPECT_EQ(m_dialogs, 0);
}

TEST_F(ManagementPagesTest, AddressAndVlanTogetherSendVlanThenAddressAndWaitSixtySeconds) {
    auto dlg = Dialog(0);
    dlg->IpPage()->IpEdit()->setText(QStringLiteral("10.0.0.77"));
    dlg->VlanPage()->WlanEdit()->setText(QStringLiteral("21"));
    dlg->OnSave();
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    const auto sends = SendsAfterSender();
    ASSERT_EQ(sends.size(), 2u);
    EXPECT_EQ(sends[0].command, fd::CMD_SET_VLAN);
    ASSERT_EQ(sends[0].body.size(), 22u);  // model 10
    EXPECT_EQ(sends[0].body[8], 1);
    EXPECT_EQ(sends[0].body[4], 21);
    EXPECT_EQ(sends[1].command, fd::CMD_SET_IP);
    EXPECT_EQ(sends[1].body[21], 0);
    const auto pending = m_engine.PendingAddresses();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].newIp, "10.0.0.77");
    EXPECT_EQ(m_waits, std::vector<int>{120});  // 60 s in half-second ticks
    EXPECT_EQ(m_waitSearches, std::vector<int>{0});

    // The address alone: the short wait with three searches.
    m_waits.clear();
    m_waitSearches.clear();
    auto again = Dialog(2);
    again->IpPage()->IpEdit()->setText(QStringLiteral("10.0.0.78"));
    again->OnSave();
    EXPECT_EQ(m_waits, std::vector<int>{30});
    EXPECT_EQ(m_waitSearches, std::vector<int>{3});
}

TEST_F(ManagementPagesTest, ARefusalKeepsTheDialogOpenAndSendsNothing) {
    auto dlg = Dialog(0);
    dlg->IpPage()->NameEdit()->setText(QStringLiteral("renamed"));
    dlg->VlanPage()->WlanEdit()->setText(QStringLiteral("0"));
    dlg->OnSave();
    EXPECT_EQ(m_messages, QStringList{"WLAN range:1-4094"});
    EXPECT_NE(dlg->result(), QDialog::Accepted);
    EXPECT_TRUE(SendsAfterSender().empty());

    // The wireless tab is examined first.
    m_messages.clear();
    dlg->WirelessPage()->PowerEdit()->setText(QStringLiteral("2"));
    dlg->OnSave();
    EXPECT_EQ(m_messages, QStringList{"Power value range:3-27"});
    dlg->WirelessPage()->PowerEdit()->setText(QStringLiteral("27"));
    dlg->VlanPage()->EnableCheck()->setChecked(false);  // ids no longer examined
    EXPECT_FALSE(dlg->VlanPage()->WlanEdit()->isEnabled());
    m_messages.clear();
    dlg->OnSave();
    EXPECT_TRUE(m_messages.isEmpty()) << m_messages.join("|").toStdString();
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
}

TEST_F(ManagementPagesTest, ValuesTheListsDoNotHoldAreShownAndKeptWhenOnlyTheNameChanges) {
    // A radar channel in Australia, and a country (NL) without a row in the list.
    ap_info_stu radar = Device(7, 1);
    radar.country_code = static_cast<uint8_t>(fd::CountryCodeNumber("AU"));
    radar.channel = 100;
    ap_info_stu dutch = Device(8, 1);
    dutch.country_code = static_cast<uint8_t>(fd::CountryCodeNumber("NL"));
    ASSERT_TRUE(m_store->SaveApInfo(radar));
    ASSERT_TRUE(m_store->SaveApInfo(dutch));

    const QString shots = QString::fromLocal8Bit(qgetenv("FD_SCREENSHOT_DIR"));
    if (!shots.isEmpty()) fd::InitLanguage(qgetenv("FD_BIN_DIR").toStdString() + "/");
    auto dlg = Dialog(7);
    EXPECT_EQ(dlg->WirelessPage()->ChannelList()->currentText(), "100 (current)");
    if (!shots.isEmpty()) dlg->grab().save(shots + "/config_wireless_radar_channel.png");
    dlg->ShowTab(CManagementConfigDlg::kIpTab);
    dlg->IpPage()->NameEdit()->setText(QStringLiteral("renamed-7"));
    dlg->OnSave();
    EXPECT_TRUE(m_messages.isEmpty()) << m_messages.join("|").toStdString();
    auto sends = SendsAfterSender();
    ASSERT_EQ(sends.size(), 1u);
    EXPECT_EQ(sends[0].command, fd::CMD_SET_NAME);

    auto nl = Dialog(8);
    EXPECT_EQ(nl->WirelessPage()->CountryList()->currentText(), "NL (current)");
    EXPECT_EQ(nl->WirelessPage()->ChannelList()->currentText(), "36 (current)");
    nl->IpPage()->NameEdit()->setText(QStringLiteral("renamed-8"));
    nl->OnSave();
    sends = SendsAfterSender();
    ASSERT_EQ(sends.size(), 2u);
    EXPECT_EQ(sends[1].command, fd::CMD_SET_NAME);
}

TEST_F(ManagementPagesTest, AnAddressTextThatIsNoAddressIsRefusedOnItsOwnTab) {
    auto dlg = Dialog(0);
    // The mask reads loosely as the device's own 255.255.255.0 less a part; it is refused,
    // and the tab holding it comes to the front.
    dlg->IpPage()->MaskEdit()->setText(QStringLiteral("255.255.255"));
    ASSERT_EQ(dlg->CurrentTab(), CManagementConfigDlg::kWirelessTab);
    dlg->OnSave();
    EXPECT_EQ(m_messages, QStringList{"The subnet mask is invalid!"});
    EXPECT_EQ(dlg->CurrentTab(), CManagementConfigDlg::kIpTab);
    EXPECT_NE(dlg->result(), QDialog::Accepted);
    EXPECT_TRUE(SendsAfterSender().empty());
    // The address boxes take digits and dots only.
    int pos = 0;
    QString typed = QStringLiteral("10.0.0.a");
    EXPECT_EQ(dlg->IpPage()->MaskEdit()->validator()->validate(typed, pos), QValidator::Invalid);
}

TEST_F(ManagementPagesTest, WirelessListsFollowEachOther) {
    ap_info_stu rec = Device(5, 1);
    rec.rf_type = 0;
    rec.ssid_rf_type = 0;
    rec.country_code = 44;  // AU: 13 channels
    rec.network_mode = 4;
    rec.bandwidth = 1;
    rec.channel = 11;
    rec.expand_channel = 0;
    CWirelessSetDlg page(rec, nullptr);
    EXPECT_EQ(page.PowerRange()->text(), "(3-27)");
    EXPECT_EQ(page.ChannelList()->count(), 14);
    EXPECT_TRUE(page.ExtensionList()->isEnabled());
    ASSERT_EQ(page.ExtensionList()->count(), 1);
    EXPECT_EQ(page.ExtensionList()->itemText(0), "7");

    // 11b/g offers only 20 MHz; the extension channel goes.
    page.NetworkModeList()->setCurrentIndex(page.NetworkModeList()->findData(0));
    ASSERT_EQ(page.BandwidthList()->count(), 1);
    EXPECT_EQ(page.BandwidthList()->itemText(0), "20MHz");
    EXPECT_FALSE(page.ExtensionList()->isEnabled());

    // Back to 11b/g/n at 40 MHz on channel 6: both sides, the first chosen after a change.
    page.NetworkModeList()->setCurrentIndex(page.NetworkModeList()->findData(4));
    page.BandwidthList()->setCurrentIndex(page.BandwidthList()->findData(1));
    page.ChannelList()->setCurrentIndex(page.ChannelList()->findData(6));
    ASSERT_EQ(page.ExtensionList()->count(), 2);
    EXPECT_EQ(page.ExtensionList()->currentIndex(), 0);

    // The United States stop at channel 11; the chosen channel stays when it still exists.
    page.CountryList()->setCurrentIndex(fd::FindCountryRow("US"));
    EXPECT_EQ(page.ChannelList()->count(), 12);
    EXPECT_EQ(page.ChannelList()->currentData().toInt(), 6);

    // Security: each mode shows its own fields.
    page.SecurityList()->setCurrentIndex(page.SecurityList()->findData(fd::kSecureWep));
    EXPECT_TRUE(page.Wep()->isVisibleTo(&page));
    EXPECT_FALSE(page.Wpa()->isVisibleTo(&page));
    EXPECT_FALSE(page.PskKeyEdit()->isVisibleTo(&page));
    page.SecurityList()->setCurrentIndex(page.SecurityList()->findData(fd::kSecureWpa2));
    EXPECT_TRUE(page.Wpa()->isVisibleTo(&page));
    page.SecurityList()->setCurrentIndex(page.SecurityList()->findData(fd::kSecureWpaPsk));
    EXPECT_TRUE(page.PskKeyEdit()->isVisibleTo(&page));
    EXPECT_FALSE(page.Wep()->isVisibleTo(&page));

    const fd::WirelessForm f = page.Form();
    EXPECT_EQ(f.countryRow, fd::FindCountryRow("US"));
    EXPECT_EQ(f.channel, 6);
    EXPECT_EQ(f.extensionChannel, 0);
    EXPECT_EQ(f.secureMode, fd::kSecureWpaPsk);
}

TEST_F(ManagementPagesTest, VlanAndRebootPagesByModel) {
    CVlanDlg ap11(Device(0, 11), nullptr);
    EXPECT_EQ(ap11.Lan2Label()->text(), "LAN");
    EXPECT_TRUE(ap11.PvidEdit()->isVisibleTo(&ap11));
    EXPECT_FALSE(ap11.Lan3Edit()->isVisibleTo(&ap11));
    CVlanDlg ap1(Device(0, 1), nullptr);
    EXPECT_FALSE(ap1.PvidEdit()->isVisibleTo(&ap1));
    EXPECT_FALSE(ap1.Lan2Edit()->isVisibleTo(&ap1));

    CTimeRebootDlg reboot(Device(0), nullptr);
    EXPECT_FALSE(reboot.HourEdit()->isEnabled());  // switched off in the record
    reboot.EnableCheck()->setChecked(true);
    EXPECT_TRUE(reboot.DayCheck(3)->isEnabled());
    reboot.EverydayCheck()->setChecked(true);
    for (int d = 0; d < 7; ++d) {
        EXPECT_TRUE(reboot.DayCheck(d)->isChecked());
        EXPECT_FALSE(reboot.DayCheck(d)->isEnabled());
    }
    reboot.EverydayCheck()->setChecked(false);
    EXPECT_FALSE(reboot.DayCheck(0)->isChecked());
    EXPECT_TRUE(reboot.DayCheck(0)->isEnabled());
}

TEST_F(ManagementPagesTest, OperateOpensTheDialogWithRefreshPausedAndReloadsTwoSecondsAfter) {
    CChildDlg host;
    auto* page = new CManagementDlg(&host);
    host.AddPage(page);
    page->ReloadCurrentPage();
    CGridCtrl* grid = page->Grid();
    EXPECT_EQ(grid->GetColumnCount(), 11);
    EXPECT_EQ(grid->GetItemText(0, kOperate), "Operate");

    // Sorted by the IP column (the fourth here, no tick column before it), highest first.
    const QString firstIp = grid->GetItemText(1, kIp);
    EXPECT_EQ(firstIp, "10.0.0.3");
    // Serial and Operate headers do not sort.
    page->OnCellClicked(0, kSerial);
    page->OnCellClicked(0, kOperate);
    EXPECT_EQ(grid->GetItemText(1, kIp), firstIp);

    const int row = page->RowOfMac(Device(2).mac);
    ASSERT_GT(row, 0);
    bool refreshDuring = true;
    std::string macInDialog;
    m_onDialog = [&](QDialog& d) {
        auto* cfg = dynamic_cast<CManagementConfigDlg*>(&d);
        EXPECT_NE(cfg, nullptr);
        refreshDuring = host.AutoRefresh();
        if (cfg) macInDialog = cfg->IpPage()->IpEdit()->text().toStdString();
        return int(QDialog::Rejected);
    };
    page->OnCellClicked(row, kMac);  // not the Operate cell
    EXPECT_EQ(m_dialogs, 0);
    page->OnCellClicked(row, kOperate);
    EXPECT_EQ(m_dialogs, 1);
    EXPECT_FALSE(refreshDuring);
    EXPECT_EQ(macInDialog, "10.0.0.3");
    EXPECT_EQ(page->Target().mac, Device(2).mac);
    EXPECT_EQ(page->Target().apType, 10);
    EXPECT_TRUE(host.AutoRefresh());
    EXPECT_TRUE(page->ReloadTimer().isActive());
    EXPECT_EQ(page->ReloadTimer().interval(), 2000);
    EXPECT_TRUE(page->ReloadTimer().isSingleShot());
    EXPECT_TRUE(m_engine.Sends().empty());  // cancelled
}

// Renders each tab to a PNG when FD_SCREENSHOT_DIR names a folder (for looking at them).
TEST_F(ManagementPagesTest, TabsRender) {
    const QString dir = QString::fromLocal8Bit(qgetenv("FD_SCREENSHOT_DIR"));
    // The language of the locale, so that the pictures show the texts a user reads.
    if (!dir.isEmpty()) fd::InitLanguage(qgetenv("FD_BIN_DIR").toStdString() + "/");
    ap_info_stu rec = Device(0);
    rec.secure_mode = fd::kSecureWpa2Psk;
    fd::SetFieldText(rec.wpapsk_key_value, sizeof rec.wpapsk_key_value, rec.wpapsk_key_value_len,
                     "lab passphrase");
    rec.wpapsk_key_time = 3600;
    rec.restart_en = 1;
    fd::ConfigurationTarget target{"10.0.0.1", rec.mac, rec.ap_type};
    CManagementConfigDlg dlg(rec, target, m_engine, *m_store, m_sender);
    static const char* const kNames[4] = {"wireless", "ip", "vlan", "reboot"};
    for (int t = 0; t < 4; ++t) {
        dlg.ShowTab(t);
        const QImage img = dlg.grab().toImage();
        EXPECT_EQ(img.size(), dlg.size());
        if (!dir.isEmpty()) {
            EXPECT_TRUE(
                img.save(QDir(dir).filePath(QStringLiteral("config_%1.png").arg(kNames[t]))));
        }
    }
    // The security modes with fields of their own.
    dlg.ShowTab(CManagementConfigDlg::kWirelessTab);
    QComboBox* security = dlg.WirelessPage()->SecurityList();
    for (int mode : {fd::kSecureWep, fd::kSecureWpa2}) {
        security->setCurrentIndex(security->findData(mode));
        const QImage img = dlg.grab().toImage();
        if (!dir.isEmpty()) {
            EXPECT_TRUE(
                img.save(QDir(dir).filePath(QStringLiteral("config_wireless_%1.png")
                                                .arg(mode == fd::kSecureWep ? "wep" : "wpa2"))));
        }
    }
}
