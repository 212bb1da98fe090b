// The management page and its configuration dialog end to end: the real engine with short
// timings in the lab's PC namespace, a real store, and emulated devices that apply what they
// are sent. A change on every tab reaches the device and shows after the reload.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QApplication>
#include <QComboBox>
#include <QPainter>
#include <QToolTip>
#include <QDialog>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "app/app_context.h"
#include "controls/grid_ctrl.h"
#include "controls/t_edit.h"
#include "controls/wait_dlg.h"
#include "devsim/device_peer.h"
#include "gui/page_lab_test.h"
#include "pages/config/ip_set_dlg.h"
#include "pages/config/management_config_dlg.h"
#include "pages/config/management_dlg.h"
#include "pages/config/vlan_reboot_dlgs.h"
#include "pages/config/wireless_set_dlg.h"
#include "pages/devices/page_messages.h"
#include "pages/devices/restart_pages.h"
#include "support/lab.h"

namespace {

using namespace std::chrono_literals;
using fd::test::WaitUntil;

// Management page columns.
constexpr int kLocation = 1, kIp = 3, kSsid = 6, kChannel = 7, kSecure = 8, kOperate = 10;
class ManagementPagesLabTest : public fd::test::PageLabTest {
protected:
    void SetUp() override {
        EngineLabTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        fd::devsim::PeerOptions po;
        po.netns = m_lab.DevNamespace();
        po.onAddressChange = [this](const std::string& ip) { m_lab.AddDeviceAddresses({ip}); };
        m_peer = std::make_unique<fd::devsim::DevicePeer>(po);
        m_macs = AddDevices(2);
        // Device 0 is a model with the VLAN extension.
        m_peer->UpdateDevice(m_macs[0], [](fd::devsim::EmulatedDevice& d) { d.info.ap_type = 10; });
        ASSERT_TRUE(StartPeer());
        ASSERT_TRUE(StartEngine(60000ms));
        InstallPageServices();
    }
    // The waits run to their end at once; their lengths are kept.
    int RunDialog(QDialog& d) override {
        if (auto* w = dynamic_cast<CWaitDlg*>(&d)) {
            m_waits.push_back(w->Progress().Duration());
            return int(QDialog::Accepted);
        }
        return PageLabTest::RunDialog(d);
    }

    bool Stored(const CDeviceListPage& page) const {
        for (const auto& mac : m_macs) {
            const int row = page.RowOfMac(mac);
            if (row < 0 || page.Grid()->GetItemData(row) != 2) return false;
        }
        return true;
    }

    std::vector<std::string> m_macs;
    std::vector<int> m_waits;
};

TEST_F(ManagementPagesLabTest, AChangeOnEveryTabReachesTheDeviceAndShowsAfterTheReload) {
    CManagementDlg page;
    ASSERT_TRUE(SearchUntil(page, [&] { return Stored(page); }));
    const std::string mac = m_macs[0];
    EXPECT_EQ(Cell(page, mac, kIp), "198.18.1.1");

    bool saved = false;
    m_onDialog = [&](QDialog& d) {
        auto* dlg = dynamic_cast<CManagementConfigDlg*>(&d);
        EXPECT_NE(dlg, nullptr);
        if (!dlg) return int(QDialog::Rejected);
        CWirelessSetDlg* w = dlg->WirelessPage();
        EXPECT_EQ(w->SsidEdit()->text(), "lab-0");
        w->SsidEdit()->setText("field-5g");
        w->ChannelList()->setCurrentIndex(w->ChannelList()->findData(149));
        w->SecurityList()->setCurrentIndex(w->SecurityList()->findData(fd::kSecureWpa2Psk));
        w->PskKeyEdit()->setText("lab passphrase");
        w->PskIntervalEdit()->setText("3600");
        dlg->ShowTab(CManagementConfigDlg::kIpTab);
        dlg->IpPage()->NameEdit()->setText("Mast-9");
        dlg->IpPage()->IpEdit()->setText("198.18.7.30");
        dlg->ShowTab(CManagementConfigDlg::kVlanTab);
        CVlanDlg* v = dlg->VlanPage();
        v->EnableCheck()->setChecked(true);
        v->ManageEdit()->setText("100");
        v->WlanEdit()->setText("200");
        v->PvidEdit()->setText("10");
        v->Lan2Edit()->setText("20");
        v->Lan3Edit()->setText("30");
        v->Lan4Edit()->setText("40");
        dlg->ShowTab(CManagementConfigDlg::kRebootTab);
        CTimeRebootDlg* r = dlg->RebootPage();
        r->EnableCheck()->setChecked(true);
        r->HourEdit()->setText("23");
        r->MinuteEdit()->setText("59");
        for (int day = 0; day < 7; ++day) r->DayCheck(day)->setChecked(day == 6);
        dlg->OnSave();
        saved = dlg->result() == QDialog::Accepted;
        return dlg->result();
    };
    page.OnCellClicked(page.RowOfMac(mac), kOperate);
    EXPECT_TRUE(saved);
    EXPECT_TRUE(m_messages.isEmpty()) << m_messages.join('|').toStdString();
    EXPECT_EQ(m_waits, std::vector<int>{120});  // the VLAN change: 60 s without searches
    EXPECT_TRUE(page.ReloadTimer().isActive());
    ASSERT_TRUE(WaitUntil([&] { return !page.Sender().Running(); }, fd::test::kWait));

    // Every command arrived once, the address last, and the device took all of them.
    ASSERT_TRUE(m_peer->WaitForCommand(fd::CMD_SET_IP, mac, 1, fd::test::kWait));
    for (uint16_t cmd : {fd::CMD_SET_NAME, fd::CMD_SET_WIRELESS, fd::CMD_SET_TIMED_REBOOT,
                         fd::CMD_SET_VLAN, fd::CMD_SET_IP})
        EXPECT_EQ(m_peer->CountCommand(cmd, mac), 1u) << cmd;
    EXPECT_EQ(m_peer->ReceivedCommands(fd::CMD_SET_VLAN, mac)[0].decoded->body[8], 1);
    EXPECT_EQ(m_peer->ReceivedCommands(fd::CMD_SET_IP, mac)[0].decoded->body[21], 0);
    const ap_info_stu dev = m_peer->GetDevice(mac)->info;
    EXPECT_EQ(fd::IpToText(dev.ip), "198.18.7.30");
    EXPECT_EQ(+dev.vlan_id_wlan, 200);
    EXPECT_EQ(+dev.vlan_id_lan4, 40);
    EXPECT_EQ(dev.restart_type, 0x80);
    EXPECT_EQ(+dev.restart_time, 1439);
    EXPECT_EQ(dev.secure_mode, fd::kSecureWpa2Psk);
    // The other device was left alone.
    for (uint16_t cmd : {fd::CMD_SET_NAME, fd::CMD_SET_WIRELESS, fd::CMD_SET_TIMED_REBOOT,
                         fd::CMD_SET_VLAN, fd::CMD_SET_IP})
        EXPECT_EQ(m_peer->CountCommand(cmd, m_macs[1]), 0u) << cmd;

    // The searches the page runs find it at its new address with its new settings.
    EXPECT_TRUE(SearchUntil(page, [&] {
        return Cell(page, mac, kIp) == "198.18.7.30" && Cell(page, mac, kLocation) == "Mast-9" &&
               Cell(page, mac, kSsid) == "field-5g";
    })) << Cell(page, mac, kIp).toStdString();
    EXPECT_EQ(Cell(page, mac, kChannel), "149");
    EXPECT_EQ(Cell(page, mac, kSecure), "WPA2_PSK");
    ap_info_stu stored{};
    ASSERT_TRUE(m_store->QueryApByMac(mac, stored));
    EXPECT_EQ(stored.vlan_en, 1);
    EXPECT_EQ(+stored.vlan_id, 100);
    EXPECT_EQ(stored.restart_en, 1);
    EXPECT_EQ(+stored.restart_time, 1439);
    EXPECT_EQ(StoredCount(), 2u);
}

// A device that acknowledges the new channel but keeps its own: after the dialog's Save the
// sender reads the settings back, and the lists show the change as not applied, with the
// field, the value sent and the value reported.
class ManagementReadBackLabTest : public ManagementPagesLabTest {
protected:
    void SetUp() override {
        m_commandLog = &m_log;
        ManagementPagesLabTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        m_peer->UpdateDevice(m_macs[1],
                             [](fd::devsim::EmulatedDevice& d) { d.ignoredField = "channel"; });
        fd::AppServices services = fd::Services();
        services.commands = &m_log;
        fd::InstallServices(services);
    }
    fd::CommandLog m_log;
};

TEST_F(ManagementReadBackLabTest, AChannelTheDeviceIgnoredShowsAsNotApplied) {
    CManagementDlg page;
    ASSERT_TRUE(SearchUntil(page, [&] { return Stored(page); }));
    const std::string mac = m_macs[1];
    m_onDialog = [&](QDialog& d) {
        auto* dlg = dynamic_cast<CManagementConfigDlg*>(&d);
        if (!dlg) return int(QDialog::Rejected);
        CWirelessSetDlg* w = dlg->WirelessPage();
        w->ChannelList()->setCurrentIndex(w->ChannelList()->findData(149));
        dlg->OnSave();
        return dlg->result();
    };
    page.OnCellClicked(page.RowOfMac(mac), kOperate);
    EXPECT_TRUE(m_messages.isEmpty()) << m_messages.join('|').toStdString();
    ASSERT_TRUE(WaitUntil(
        [&] { return m_log.VerificationOf(mac).state == fd::VerificationState::NotApplied; },
        fd::test::kWait))
        << m_log.VerificationOf(mac).text;
    EXPECT_EQ(m_log.VerificationOf(mac).text, "not applied: channel (sent 149, device reports 36)");
    // Only the wireless command went out, and the device was asked again once.
    EXPECT_EQ(m_peer->CountCommand(fd::CMD_SET_WIRELESS, mac), 1u);
    EXPECT_EQ(m_peer->CountCommand(fd::CMD_SET_NAME, mac), 0u);

    page.ReloadCurrentPage();
    const int row = page.RowOfMac(mac);
    ASSERT_GT(row, 0);
    EXPECT_EQ(page.Grid()->GetItemData(row), 4);
    EXPECT_EQ(page.Grid()->model()->data(page.Grid()->model()->index(row - 1, kChannel),
                                         Qt::ToolTipRole),
              "not applied: channel (sent 149, device reports 36)");
    EXPECT_EQ(Cell(page, mac, kChannel), "36");  // what the device reports
    // The other device's row is as before.
    EXPECT_EQ(page.Grid()->GetItemData(page.RowOfMac(m_macs[0])), 2);

    // A list with a Status column shows the result there.
    CRebootDlg reboot;
    reboot.ReloadCurrentPage();
    const int rebootRow = reboot.RowOfMac(mac);
    ASSERT_GT(rebootRow, 0);
    bool shown = false;
    for (int c = 0; c < reboot.Grid()->GetColumnCount(); ++c)
        shown = shown || reboot.Grid()->GetItemText(rebootRow, c) == "not applied";
    EXPECT_TRUE(shown);

    const QString dir = QString::fromLocal8Bit(qgetenv("FD_SCREENSHOT_DIR"));
    if (!dir.isEmpty()) {
        page.resize(1000, 560);
        // The row's tooltip, as hovering shows it, drawn over the list where it would appear.
        QPixmap shot = page.grab();
        const QModelIndex cell = page.Grid()->model()->index(row - 1, kLocation);
        const QRect rect = page.Grid()->visualRect(cell);
        const QPoint at = page.Grid()->viewport()->mapTo(&page, rect.bottomLeft());
        QToolTip::showText(page.mapToGlobal(at),
                           page.Grid()->model()->data(cell, Qt::ToolTipRole).toString(), &page);
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->inherits("QTipLabel") && w->isVisible()) {
                QPainter p(&shot);
                p.drawPixmap(at + QPoint(8, 4), w->grab());
            }
        QToolTip::hideText();
        shot.save(dir + "/management_not_applied.png");
        reboot.resize(1000, 560);
        reboot.grab().save(dir + "/reboot_not_applied.png");
    }
}

}  // namespace
