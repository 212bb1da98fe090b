// The status and reboot pages end to end: the real engine with short timings in the lab's PC
// namespace, a real store on a scratch file, and emulated devices behind the veth pair. The
// pages' one-second timers are driven by hand at a faster pace; message boxes and modal
// dialogs are answered through the page hooks. Every test skips without root or a lab.

#include <gtest/gtest.h>

#include <QDialog>
#include <QProgressBar>
#include <QStringList>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/app_context.h"
#include "controls/grid_ctrl.h"
#include "controls/t_edit.h"
#include "controls/t_static.h"
#include "controls/wait_dlg.h"
#include "devsim/device_peer.h"
#include "gui/page_lab_test.h"
#include "pages/devices/multi_set_dlgs.h"
#include "pages/devices/page_messages.h"
#include "pages/devices/restart_pages.h"
#include "pages/devices/status_dlg.h"
#include "support/lab.h"

namespace {

using namespace std::chrono_literals;
using fd::test::WaitUntil;
using Clock = std::chrono::steady_clock;

// Status page columns.
constexpr int kTick = 0, kLocation = 2, kIp = 4, kMac = 5;
class DevicePagesLabTest : public fd::test::PageLabTest {
protected:
    void SetUp() override {
        EngineLabTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        // A peer whose devices take their new addresses into the lab when told to move.
        fd::devsim::PeerOptions po;
        po.netns = m_lab.DevNamespace();
        po.onAddressChange = [this](const std::string& ip) {
            const bool added = m_lab.AddDeviceAddresses({ip});
            std::lock_guard lock(m_movedLock);
            m_moved.push_back(added ? ip : "failed:" + ip);
        };
        m_peer = std::make_unique<fd::devsim::DevicePeer>(po);
        m_macs = AddDevices(4);  // 198.18.1.1 .. 198.18.1.4, "Device-0" .. "Device-3"
        ASSERT_TRUE(StartPeer());
        // No keepalives come from the emulated devices: keep the liveness sweep out of the way.
        ASSERT_TRUE(StartEngine(60000ms));
        InstallPageServices();
    }

    // Every emulated device has its row on the status page, stored (its information read),
    // with its name and the address it answers from.
    bool AllShown(const CStatusDlg& page) const {
        for (std::size_t i = 0; i < m_macs.size(); ++i) {
            const auto dev = m_peer->GetDevice(m_macs[i]);
            if (!dev) return false;
            const int row = page.RowOfMac(m_macs[i]);
            if (row < 0 || page.Grid()->GetItemData(row) != 2) return false;
            if (Cell(page, m_macs[i], kLocation) != QString("Device-%1").arg(i)) return false;
            if (Cell(page, m_macs[i], kIp).toStdString() != dev->address) return false;
        }
        return true;
    }

    static QStringList Column(const CGridCtrl* grid, int col) {
        QStringList out;
        for (int r = 1; r < grid->GetRowCount(); ++r) out << grid->GetItemText(r, col);
        return out;
    }

    std::vector<std::string> Moved() {
        std::lock_guard lock(m_movedLock);
        return m_moved;
    }

    std::vector<std::string> m_macs;
    std::mutex m_movedLock;
    std::vector<std::string> m_moved;
};

TEST_F(DevicePagesLabTest, SearchOnTheStatusPageShowsEveryDeviceWithNameIpAndMac) {
    CStatusDlg page;
    page.ReloadCurrentPage();
    EXPECT_EQ(page.Grid()->GetRowCount(), 1);  // nothing known yet

    EXPECT_TRUE(SearchUntil(page, [&] { return AllShown(page); }))
        << Column(page.Grid(), kMac).join(' ').toStdString();
    EXPECT_FALSE(page.IsSearching());
    EXPECT_EQ(StoredCount(), 4u);
    CGridCtrl* grid = page.Grid();
    ASSERT_EQ(grid->GetRowCount(), 5);
    // Address descending, the MAC cells as the devices report them.
    EXPECT_EQ(Column(grid, kIp),
              (QStringList{"198.18.1.4", "198.18.1.3", "198.18.1.2", "198.18.1.1"}));
    for (const auto& mac : m_macs) EXPECT_GE(page.RowOfMac(mac), 1) << mac;
    EXPECT_EQ(Cell(page, m_macs[2], kMac).toLower().toStdString(), m_macs[2]);
    EXPECT_EQ(page.CountLabel()->text(), "Online device count:4");
    EXPECT_TRUE(m_messages.isEmpty()) << m_messages.join('|').toStdString();
}

TEST_F(DevicePagesLabTest, SetIpMovesThreeTickedDevicesIntoTheRange) {
    CStatusDlg page;
    ASSERT_TRUE(SearchUntil(page, [&] { return AllShown(page); }));
    CGridCtrl* grid = page.Grid();
    // Rows by address descending: tick .4, .3 and .2; Device-0 at .1 stays where it is.
    for (int r = 1; r <= 3; ++r) grid->SetCheck(r, kTick, true);
    const std::vector<std::string> ticked = {m_macs[3], m_macs[2], m_macs[1]};
    const std::vector<std::string> wanted = {"198.18.7.10", "198.18.7.11", "198.18.7.12"};

    bool closed = false;
    m_onDialog = [&](QDialog& d) {
        auto* dlg = dynamic_cast<CIpsetMutilDlg*>(&d);
        EXPECT_NE(dlg, nullptr);
        if (!dlg) return int(QDialog::Rejected);
        EXPECT_EQ(dlg->BeginEdit()->text(), "198.18.1.4");  // from the first ticked device
        dlg->BeginEdit()->setText("198.18.7.10");
        dlg->EndEdit()->setText("198.18.7.20");
        dlg->MaskEdit()->setText("255.255.0.0");
        dlg->GatewayEdit()->setText("");
        dlg->OnSave();
        EXPECT_TRUE(dlg->Progress()->isVisibleTo(dlg));
        // The progress runs its half-seconds (and its searches) at the faster pace.
        for (int i = 0; i < 40 && dlg->result() != QDialog::Accepted; ++i) {
            std::this_thread::sleep_for(fd::test::kTickPace);
            dlg->OnProgressTick();
        }
        closed = dlg->result() == QDialog::Accepted;
        return dlg->result();
    };
    page.OnSetIp();
    EXPECT_EQ(m_dialogs, 1);
    EXPECT_TRUE(closed);
    EXPECT_TRUE(m_messages.isEmpty()) << m_messages.join('|').toStdString();
    ASSERT_TRUE(WaitUntil([&] { return !page.IpWorker().Running(); }, fd::test::kWait));

    // The devices took the addresses in the order they were ticked and moved there.
    ASSERT_TRUE(WaitUntil([&] { return Moved().size() == 3; }, fd::test::kWait));
    EXPECT_EQ(Moved(), wanted);
    for (std::size_t i = 0; i < ticked.size(); ++i) {
        const auto dev = m_peer->GetDevice(ticked[i]);
        ASSERT_TRUE(dev);
        EXPECT_EQ(dev->address, wanted[i]) << ticked[i];
        EXPECT_EQ(dev->ReportedIp(), wanted[i]) << ticked[i];
    }
    EXPECT_EQ(m_peer->GetDevice(m_macs[0])->address, "198.18.1.1");
    EXPECT_EQ(m_peer->CountCommand(fd::CMD_SET_IP, m_macs[0]), 0u);

    // A later search shows them at the new addresses and nobody at the old ones.
    EXPECT_TRUE(SearchUntil(page, [&] { return AllShown(page); }))
        << Column(grid, kIp).join(' ').toStdString();
    ASSERT_EQ(grid->GetRowCount(), 5);
    EXPECT_EQ(Column(grid, kIp),
              (QStringList{"198.18.7.12", "198.18.7.11", "198.18.7.10", "198.18.1.1"}));
    for (std::size_t i = 0; i < ticked.size(); ++i) {
        EXPECT_EQ(Cell(page, ticked[i], kIp).toStdString(), wanted[i]);
        EXPECT_EQ(Cell(page, ticked[i], kLocation), QString("Device-%1").arg(3 - int(i)));
    }
    EXPECT_EQ(StoredCount(), 4u);
}

TEST_F(DevicePagesLabTest, RebootShowsRestartingThenOnlineAfterTheSilence) {
    constexpr auto kSilence = 1500ms;
    const std::string mac = m_macs[2];
    ASSERT_TRUE(m_peer->UpdateDevice(
        mac, [&](fd::devsim::EmulatedDevice& d) { d.restartSilence = kSilence; }));
    {
        CStatusDlg status;
        ASSERT_TRUE(SearchUntil(status, [&] { return AllShown(status); }));
    }
    CRebootDlg page;
    page.ReloadCurrentPage();
    CGridCtrl* grid = page.Grid();
    const int statusCol = static_cast<int>(grid->GetColumnCount()) - 1;
    ASSERT_EQ(grid->GetItemText(0, statusCol), "Status");
    const int row = page.RowOfMac(mac);
    ASSERT_GE(row, 1);
    EXPECT_EQ(grid->GetItemText(row, statusCol), "Online");
    grid->SetCheck(row, kTick, true);

    QString duringWait;
    Clock::time_point restartingAt{};
    m_onDialog = [&](QDialog& d) {
        EXPECT_NE(dynamic_cast<CWaitDlg*>(&d), nullptr);
        // The device acknowledges; the store marks it and the page's second shows it.
        EXPECT_TRUE(WaitUntil([&] { return m_store->GetApStatus(mac) == fd::AP_STATUS_RESTARTING; },
                              fd::test::kWait));
        restartingAt = Clock::now();
        page.OnStatusTimer();
        duringWait = grid->GetItemText(page.RowOfMac(mac), statusCol);
        return int(QDialog::Accepted);
    };
    page.OnAction();
    EXPECT_EQ(m_messages, QStringList{"Are you sure you want to restart?"});
    EXPECT_EQ(m_dialogs, 1);
    EXPECT_EQ(duringWait, "Restarting");
    ASSERT_TRUE(WaitUntil([&] { return !page.Worker().Running(); }, fd::test::kWait));
    // The peer records a datagram after answering it: wait for the record.
    EXPECT_TRUE(m_peer->WaitForCommand(fd::CMD_REBOOT, mac, 1, fd::test::kWait));
    EXPECT_EQ(m_peer->CountCommand(fd::CMD_REBOOT), 1u);  // only the ticked device, once
    // The reload after the wait still shows it restarting: it is silent.
    page.ReloadCurrentPage();
    EXPECT_EQ(grid->GetItemText(page.RowOfMac(mac), statusCol), "Restarting");

    // Searches bring it back Online once its silence is over, not before.
    Clock::time_point onlineAt{};
    EXPECT_TRUE(SearchUntil(page, [&] {
        const int r = page.RowOfMac(mac);
        const bool online = r >= 1 && grid->GetItemText(r, statusCol) == "Online";
        if (online && onlineAt == Clock::time_point{}) onlineAt = Clock::now();
        return online;
    }));
    EXPECT_EQ(m_store->GetApStatus(mac), fd::AP_STATUS_ONLINE);
    // The acknowledgement came shortly before the marking; allow for that much.
    EXPECT_GE(onlineAt - restartingAt, kSilence - 300ms);
    // The others never left.
    for (const auto& other : m_macs) {
        if (other == mac) continue;
        EXPECT_EQ(grid->GetItemText(page.RowOfMac(other), statusCol), "Online") << other;
    }
}

}  // namespace
