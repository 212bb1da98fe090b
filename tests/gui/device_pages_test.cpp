// The device pages (status, reboot, restore) and the status page's dialogs over a real store
// on a scratch file and an engine that only records what it is asked to send.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QProgressBar>
#include <QRadioButton>
#include <QTest>
#include <chrono>
#include <memory>
#include <thread>

#include "../support/fake_device_engine.h"
#include "../support/listed_devices.h"
#include "../support/temp_dir.h"
#include "app/app_context.h"
#include "app/skin.h"
#include "config/labels.h"
#include "controls/grid_ctrl.h"
#include "controls/t_button_picture.h"
#include "controls/t_edit.h"
#include "controls/t_multi_pages.h"
#include "controls/t_picture.h"
#include "controls/t_static.h"
#include "controls/wait_dlg.h"
#include "pages/devices/multi_set_dlgs.h"
#include "pages/devices/page_messages.h"
#include "pages/devices/restart_pages.h"
#include "pages/devices/status_dlg.h"
#include "store/sql_management.h"

namespace {

using fd::test::Device;
using fd::test::Discovered;
using fd::test::MacOf;

using namespace std::chrono_literals;
using fd::test::RecordingEngine;
using Clock = std::chrono::steady_clock;

// Status page columns.
constexpr int kTick = 0, kSerial = 1, kLocation = 2, kIp = 4, kMac = 5, kBridge = 10, kOperate = 13;

template <typename Pred>
bool WaitUntil(Pred pred, std::chrono::milliseconds limit = 5s) {
    const auto end = Clock::now() + limit;
    while (!pred()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

class DevicePagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.Ok());
        m_store =
            std::make_unique<CSqlManagement>(m_dir.Path("data.mdb"), [](const std::string&) {});
        ASSERT_TRUE(m_store->IsOpen());
        fd::InstallServices({&m_engine, m_store.get(), {}, {}});
        fd::SetPageMessageHandler([this](QWidget*, const fd::PageMessage& m) {
            m_messages.push_back(m.key);
            m_icons.push_back(m.icon);
            m_appCaptions.push_back(m.appCaption);
            return m_answer;
        });
        fd::SetPageDialogRunner([this](QDialog& d) {
            ++m_dialogs;
            return m_onDialog ? m_onDialog(d) : int(QDialog::Rejected);
        });
        fd::SetUrlOpener([this](const QUrl& url) { m_urls.push_back(url.toString()); });
    }
    void TearDown() override {
        fd::InstallServices({});
        fd::SetPageMessageHandler({});
        fd::SetPageDialogRunner({});
        fd::SetUrlOpener({});
    }

    void AddStored(int count, int apType = 1, int workMode = fd::WORK_MODE_AP) {
        for (int i = 0; i < count; ++i) {
            ASSERT_TRUE(m_store->SaveApInfo(Device(m_next++, apType, workMode)));
        }
    }
    void AddDiscovered(int count) {
        for (int i = 0; i < count; ++i) ASSERT_TRUE(m_store->SaveDiscoveredDevice(Discovered(i)));
    }
    int Count(const std::string& call) const {
        const auto calls = m_engine.Calls();
        return static_cast<int>(std::count(calls.begin(), calls.end(), call));
    }
    static QStringList Column(CGridCtrl* grid, int col) {
        QStringList out;
        for (int r = 1; r < grid->GetRowCount(); ++r) out << grid->GetItemText(r, col);
        return out;
    }

    fd::test::TempDir m_dir;
    std::unique_ptr<CSqlManagement> m_store;
    RecordingEngine m_engine;
    int m_next = 0;
    QStringList m_messages;
    std::vector<QMessageBox::Icon> m_icons;
    std::vector<bool> m_appCaptions;
    QMessageBox::StandardButton m_answer = QMessageBox::Ok;
    int m_dialogs = 0;
    std::function<int(QDialog&)> m_onDialog;
    QStringList m_urls;
};

// The discovered-only rows follow the stored ones and get pages of their own where they do not
// fit (the list used to leave out those that did not fit the last stored page).
TEST_F(DevicePagesTest, ThirtyFiveDevicesWithDiscoveredOnesAfterTheStoredRows) {
    AddStored(35);
    AddDiscovered(40);
    CStatusDlg page;
    page.ReloadCurrentPage();
    CGridCtrl* grid = page.Grid();
    EXPECT_EQ(grid->GetRowCount(), 31);
    EXPECT_EQ(page.CountLabel()->text(), "Online device count:35");
    EXPECT_EQ(page.Pager()->PageCount(), 3);
    EXPECT_EQ(page.Pager()->CurrentPage(), 1);
    EXPECT_EQ(grid->GetItemText(1, kSerial), "1");

    page.ReloadPage(2);
    ASSERT_EQ(grid->GetRowCount(), 31);  // 5 stored + 25 discovered-only
    EXPECT_EQ(grid->GetItemText(1, kSerial), "31");
    EXPECT_EQ(page.Pager()->CurrentPage(), 2);
    EXPECT_EQ(page.CountLabel()->text(), "Online device count:35");
    const QColor unline = fd::Skin().textUnlineColor;
    for (int r = 1; r <= 30; ++r) {
        const bool discovered = r > 5;
        EXPECT_EQ(grid->GetItemData(r), discovered ? 1 : 2) << r;
        const QVariant fg =
            grid->Model()->data(grid->Model()->index(r - 1, kIp), Qt::ForegroundRole);
        EXPECT_EQ(fg.value<QColor>() == unline, discovered) << r;
    }
    EXPECT_TRUE(grid->GetItemText(6, kIp).startsWith("10.9.0."))
        << grid->GetItemText(6, kIp).toStdString();
    page.ReloadPage(3);
    ASSERT_EQ(grid->GetRowCount(), 16);  // the last 15 discovered-only devices
    EXPECT_EQ(grid->GetItemText(15, kSerial), "75");

    // Back to page 1: the surplus rows go, the colours follow the rows.
    page.SetPageSize(15);
    EXPECT_EQ(grid->GetRowCount(), 16);
    EXPECT_EQ(page.Pager()->PageCount(), 5);
    EXPECT_EQ(grid->GetItemData(6), 2);
}

TEST_F(DevicePagesTest, HeaderClicksToggleTheOrderAndSerialAndOperateDoNothing) {
    AddStored(12);
    CStatusDlg page;
    page.ReloadCurrentPage();
    CGridCtrl* grid = page.Grid();
    // Before any click: IP descending.
    EXPECT_EQ(grid->GetItemText(1, kIp), "10.0.0.12");
    EXPECT_EQ(grid->SortIndicatorColumn(), kIp);
    EXPECT_FALSE(grid->SortIndicatorAscending());

    page.ReloadPage(1);
    const QStringList before = Column(grid, kIp);
    page.OnCellClicked(0, kSerial);
    page.OnCellClicked(0, kOperate);
    EXPECT_EQ(Column(grid, kIp), before);
    EXPECT_EQ(grid->SortIndicatorColumn(), kIp);

    // First click: ascending by that column (names run against the addresses).
    page.OnCellClicked(0, kLocation);
    EXPECT_EQ(grid->SortIndicatorColumn(), kLocation);
    EXPECT_TRUE(grid->SortIndicatorAscending());
    EXPECT_EQ(grid->GetItemText(1, kLocation), "dev988");
    // Next click, on any header: descending.
    page.OnCellClicked(0, kIp);
    EXPECT_FALSE(grid->SortIndicatorAscending());
    EXPECT_EQ(grid->GetItemText(1, kIp), "10.0.0.12");
    // A refresh keeps the last click's order.
    page.ReloadCurrentPage();
    EXPECT_EQ(grid->GetItemText(1, kIp), "10.0.0.12");
    page.OnCellClicked(0, kIp);
    EXPECT_EQ(grid->GetItemText(1, kIp), "10.0.0.1");
}

TEST_F(DevicePagesTest, HeaderTickAlternatesAndFilterNarrowsTheList) {
    AddStored(5);
    CStatusDlg page;
    page.ReloadCurrentPage();
    CGridCtrl* grid = page.Grid();
    grid->SetCheck(2, kTick, true);
    EXPECT_EQ(grid->HeaderCheckState(kTick), Qt::PartiallyChecked);
    page.OnCellClicked(0, kTick);
    for (int r = 1; r <= 5; ++r) EXPECT_TRUE(grid->GetCheck(r, kTick)) << r;
    EXPECT_EQ(grid->HeaderCheckState(kTick), Qt::Checked);
    // Unticking one row by hand: the header box shows a partial tick.
    page.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                      grid->visualRect(grid->Model()->index(2, kTick)).center());
    EXPECT_FALSE(grid->GetCheck(3, kTick));
    EXPECT_EQ(grid->HeaderCheckState(kTick), Qt::PartiallyChecked);
    page.OnCellClicked(0, kTick);
    for (int r = 1; r <= 5; ++r) EXPECT_FALSE(grid->GetCheck(r, kTick)) << r;
    EXPECT_EQ(grid->HeaderCheckState(kTick), Qt::Unchecked);

    // Ticks stay with their devices when a refresh sorts a new one in above them.
    grid->SetCheck(2, kTick, true);  // 10.0.0.4
    ASSERT_TRUE(m_store->SaveApInfo(Device(40)));
    page.ReloadCurrentPage();
    EXPECT_EQ(grid->GetItemText(3, kIp), "10.0.0.4");
    EXPECT_FALSE(grid->GetCheck(2, kTick));
    EXPECT_TRUE(grid->GetCheck(3, kTick));
    ASSERT_TRUE(m_store->DeleteApByMac(MacOf(40)));

    page.FilterEdit()->setText("dev997");
    EXPECT_EQ(grid->GetRowCount(), 2);
    EXPECT_EQ(grid->GetItemText(1, kLocation), "dev997");
    EXPECT_EQ(page.CountLabel()->text(), "Online device count:1");
}

TEST_F(DevicePagesTest, SearchThenStopAfterTwoSecondsSendsOneBroadcast) {
    AddStored(3);
    CStatusDlg page;
    page.FilterEdit()->setText("dev999");
    page.OnSearchButton();
    EXPECT_TRUE(page.IsSearching());
    auto calls = m_engine.Calls();
    calls.erase(std::remove(calls.begin(), calls.end(), "discovered"), calls.end());
    const std::vector<std::string> start(calls.begin(), calls.end());
    EXPECT_EQ(start, (std::vector<std::string>{"probe", "forget", "purge", "search"}));
    // The filter is emptied and closed while the search runs.
    EXPECT_TRUE(page.FilterEdit()->text().isEmpty());
    EXPECT_FALSE(page.FilterEdit()->isEnabled());
    EXPECT_FALSE(page.Grid()->isEnabled());
    EXPECT_FALSE(page.PageSizeCombo()->isEnabled());
    EXPECT_TRUE(page.Animation()->isVisibleTo(&page));
    EXPECT_EQ(page.SearchButton()->text(), "Stop");
    EXPECT_EQ(page.Grid()->GetRowCount(), 4);

    page.OnSearchTick();
    page.OnSearchTick();
    m_store->SaveApInfo(Device(50));  // arrives meanwhile; Stop's reload shows it
    page.OnSearchButton();
    EXPECT_FALSE(page.IsSearching());
    EXPECT_EQ(Count("search"), 1);
    EXPECT_EQ(page.SearchButton()->text(), "Search");
    EXPECT_TRUE(page.FilterEdit()->isEnabled());
    EXPECT_TRUE(page.Grid()->isEnabled());
    EXPECT_FALSE(page.Animation()->isVisibleTo(&page));
    EXPECT_EQ(page.Grid()->GetRowCount(), 5);

    // A full search: ten broadcasts in thirty seconds, then it ends by itself.
    page.OnSearchButton();
    for (int i = 0; i < 30; ++i) page.OnSearchTick();
    EXPECT_FALSE(page.IsSearching());
    EXPECT_EQ(Count("search"), 11);
    EXPECT_EQ(page.SearchButton()->text(), "Search");
    page.OnSearchTick();
    EXPECT_EQ(Count("search"), 11);
}

TEST_F(DevicePagesTest, SearchThatFindsNothingSaysSoAndPointsToTheDoctor) {
    CStatusDlg page;
    page.OnSearchButton();
    for (int i = 0; i < 30; ++i) page.OnSearchTick();
    ASSERT_FALSE(page.IsSearching());
    auto* note = page.findChild<QLabel*>(QStringLiteral("emptySearchNote"));
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->isVisibleTo(&page));
    EXPECT_TRUE(note->text().startsWith("No device answered")) << note->text().toStdString();
    EXPECT_TRUE(note->text().contains("fielddesk-cli doctor"));
    // The next search takes it away, and a search that finds something shows none.
    AddStored(1);
    page.OnSearchButton();
    EXPECT_FALSE(note->isVisibleTo(&page));
    for (int i = 0; i < 30; ++i) page.OnSearchTick();
    EXPECT_FALSE(note->isVisibleTo(&page));
}

TEST_F(DevicePagesTest, F5SearchesAndCtrlFGoesToTheFilter) {
    AddStored(2);
    CStatusDlg page;
    page.show();
    page.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
    page.Grid()->setFocus();
    QTest::keyClick(page.Grid(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(page.FilterEdit()->hasFocus());
    QTest::keyClick(page.FilterEdit(), Qt::Key_F5);
    EXPECT_TRUE(page.IsSearching());
    EXPECT_EQ(Count("search"), 1);
    // The filter is closed during the search: Ctrl+F leaves the focus where it is.
    QTest::keyClick(&page, Qt::Key_F, Qt::ControlModifier);
    EXPECT_FALSE(page.FilterEdit()->hasFocus());
    QTest::keyClick(&page, Qt::Key_F5);
    EXPECT_FALSE(page.IsSearching());
}

TEST_F(DevicePagesTest, WebPageAndRenameOnlyForStoredDevices) {
    AddStored(1);
    AddDiscovered(1);
    CStatusDlg page;
    page.ReloadCurrentPage();
    CGridCtrl* grid = page.Grid();
    ASSERT_EQ(grid->GetRowCount(), 3);
    page.OnCellClicked(2, kOperate);  // discovered-only
    EXPECT_TRUE(m_urls.isEmpty());
    page.OnCellClicked(1, kOperate);
    EXPECT_EQ(m_urls, QStringList{"http://10.0.0.1"});

    EXPECT_FALSE(grid->BeginEdit(2, kLocation));
    EXPECT_FALSE(grid->BeginEdit(1, kIp));
    EXPECT_TRUE(grid->BeginEdit(1, kLocation));
}

TEST_F(DevicePagesTest, RenameChecksTheNameAndSendsTheNameBlock) {
    ASSERT_TRUE(m_store->SaveApInfo(Device(0, 4)));  // strict names
    ASSERT_TRUE(m_store->SaveApInfo(Device(1, 1)));
    CStatusDlg page;
    page.ReloadCurrentPage();
    CGridCtrl* grid = page.Grid();
    const int strictRow = grid->GetItemText(1, kIp) == "10.0.0.1" ? 1 : 2;
    const int plainRow = 3 - strictRow;

    // The grid's own editor is tested with the grid; here the page gets its notices.
    // The same name: nothing is sent, no message.
    emit grid->editBegun(plainRow, kLocation);
    emit grid->editEnded(plainRow, kLocation, "dev998");
    // A blank is not allowed on model 4: the lowercase-letters message, the old name back.
    emit grid->editBegun(strictRow, kLocation);
    grid->SetItemText(strictRow, kLocation, "new name");
    emit grid->editEnded(strictRow, kLocation, "new name");
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_EQ(m_messages[0].toStdString(),
              "Device name maximum allowed 32 bytes, only support combination of Chinese, "
              "lowercase letters, 0-9 numbers");
    EXPECT_EQ(m_icons[0], QMessageBox::Warning);
    EXPECT_EQ(grid->GetItemText(strictRow, kLocation), "dev999");
    EXPECT_FALSE(page.ReloadTimer().isActive());

    // Accepted: command 8 with the 33-byte block, and one reload 2 s later.
    emit grid->editBegun(plainRow, kLocation);
    emit grid->editEnded(plainRow, kLocation, "mast 7");
    EXPECT_EQ(grid->GetItemText(plainRow, kLocation), "mast 7");
    EXPECT_TRUE(page.ReloadTimer().isActive());
    EXPECT_EQ(page.ReloadTimer().interval(), 2000);
    ASSERT_TRUE(WaitUntil([&] { return m_engine.Sends().size() == 1; }));
    const auto s = m_engine.Sends()[0];
    EXPECT_EQ(s.command, fd::CMD_SET_NAME);
    EXPECT_EQ(s.mac, MacOf(1));
    EXPECT_EQ(s.ip, "10.0.0.2");
    EXPECT_TRUE(s.retransmit);
    ASSERT_EQ(s.body.size(), 33u);
    EXPECT_EQ(std::string(s.body.begin(), s.body.begin() + 6), "mast 7");
    EXPECT_EQ(s.body[6], 0);
    EXPECT_EQ(s.body[32], 6);
}

TEST_F(DevicePagesTest, RenameFollowsTheDeviceWhenARefreshMovedItsRow) {
    AddStored(2);
    CStatusDlg page;
    page.ReloadCurrentPage();
    CGridCtrl* grid = page.Grid();
    ASSERT_EQ(grid->GetItemText(1, kIp), "10.0.0.2");
    emit grid->editBegun(1, kLocation);
    // A device with a higher address arrives and the page refreshes under the editor.
    ASSERT_TRUE(m_store->SaveApInfo(Device(7)));
    page.ReloadCurrentPage();
    ASSERT_EQ(grid->GetItemText(1, kIp), "10.0.0.8");
    grid->SetItemText(1, kLocation, "renamed");  // as the closing editor leaves it
    emit grid->editEnded(1, kLocation, "renamed");
    ASSERT_TRUE(WaitUntil([&] { return m_engine.Sends().size() == 1; }));
    EXPECT_EQ(m_engine.Sends()[0].mac, MacOf(1));
    EXPECT_EQ(grid->GetItemText(2, kLocation), "renamed");
    EXPECT_EQ(grid->GetItemText(1, kLocation), "dev992");

    // Gone from the page altogether: nothing is sent.
    page.ReloadCurrentPage();
    emit grid->editBegun(3, kLocation);
    ASSERT_TRUE(m_store->DeleteApByMac(MacOf(0)));
    page.ReloadCurrentPage();
    ASSERT_EQ(grid->GetRowCount(), 3);
    grid->SetItemText(2, kLocation, "lost");
    emit grid->editEnded(2, kLocation, "lost");
    EXPECT_EQ(grid->GetItemText(2, kLocation), "dev998");
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(m_engine.Sends().size(), 1u);
}

TEST_F(DevicePagesTest, SetBridgeNeedsConfigurableDevicesAndSendsTheChoiceToEach) {
    AddStored(2, 4);  // model 4 has no transparent bridge: "N/A"
    CStatusDlg page;
    page.ReloadCurrentPage();
    CGridCtrl* grid = page.Grid();
    EXPECT_EQ(grid->GetItemText(1, kBridge), "N/A");
    page.OnSetBridge();  // nothing ticked
    grid->SetCheck(1, kTick, true);
    grid->SetCheck(2, kTick, true);
    page.OnSetBridge();  // only "N/A" ticked
    EXPECT_EQ(m_messages, (QStringList{"Please select configurable devices!",
                                       "Please select configurable devices!"}));
    EXPECT_EQ(m_dialogs, 0);
    page.OnSetIp();
    page.OnAirSlot();
    EXPECT_EQ(m_dialogs, 1);  // Set IP takes any device; AirSlot does not exist on model 4
    EXPECT_EQ(m_messages.back(), "Please select configurable devices!");

    // Two bridge-capable devices, the first stored with the bridge on; the user turns it off.
    ap_info_stu a = Device(10), b = Device(11);
    a.bridge_transparent = 1;
    ASSERT_TRUE(m_store->SaveApInfo(a));
    ASSERT_TRUE(m_store->SaveApInfo(b));
    page.ReloadCurrentPage();  // IP descending: 10.0.0.12, 10.0.0.11, then the two N/A ones
    ASSERT_EQ(grid->GetItemText(1, kIp), "10.0.0.12");
    grid->SetCheck(1, kTick, true);
    grid->SetCheck(2, kTick, true);
    m_onDialog = [&](QDialog& d) {
        auto* dlg = dynamic_cast<CBridgeSetMultiDlg*>(&d);
        EXPECT_NE(dlg, nullptr);
        if (!dlg) return int(QDialog::Rejected);
        EXPECT_EQ(page.SettingBlock()[0], 0);  // first selected (b) is off
        EXPECT_TRUE(dlg->DisableRadio()->isChecked());
        dlg->EnableRadio()->click();
        dlg->SaveButton()->click();
        return dlg->result();
    };
    page.OnSetBridge();
    ASSERT_TRUE(WaitUntil([&] { return m_engine.Sends().size() == 2; }));
    const auto sends = m_engine.Sends();
    EXPECT_EQ(sends[0].command, fd::CMD_TRANSPARENT_BRIDGE);
    EXPECT_EQ(sends[0].mac, MacOf(11));
    EXPECT_EQ(sends[1].mac, MacOf(10));
    for (size_t i = 0; i < 2; ++i) {
        ASSERT_EQ(sends[i].body.size(), 12u);
        EXPECT_EQ(sends[i].body[0], 1);
        EXPECT_EQ(sends[i].body[1], 0);
    }
    EXPECT_EQ(page.SettingBlock()[0], 1);
    EXPECT_TRUE(page.ReloadTimer().isActive());
}

TEST_F(DevicePagesTest, AirSlotWritesByteOneAndCancelSendsNothing) {
    ap_info_stu rec = Device(0, 6);  // model 6 has AirSlot
    rec.tdmaEn = 1;
    ASSERT_TRUE(m_store->SaveApInfo(rec));
    CStatusDlg page;
    page.ReloadCurrentPage();
    page.Grid()->SetCheck(1, kTick, true);
    m_onDialog = [](QDialog& d) {
        d.reject();
        return d.result();
    };
    page.OnAirSlot();
    EXPECT_EQ(m_dialogs, 1);
    EXPECT_EQ(page.SettingBlock()[1], 1);
    EXPECT_FALSE(page.ReloadTimer().isActive());

    m_onDialog = [](QDialog& d) {
        auto* dlg = dynamic_cast<CAirSlotSetMultiDlg*>(&d);
        EXPECT_NE(dlg, nullptr);
        if (!dlg) return int(QDialog::Rejected);
        EXPECT_TRUE(dlg->EnableRadio()->isChecked());
        dlg->DisableRadio()->click();
        dlg->SaveButton()->click();
        return dlg->result();
    };
    page.OnAirSlot();
    ASSERT_TRUE(WaitUntil([&] { return m_engine.Sends().size() == 1; }));
    const auto s = m_engine.Sends()[0];
    EXPECT_EQ(s.command, fd::CMD_AIRSLOT);
    ASSERT_EQ(s.body.size(), 12u);
    EXPECT_EQ(s.body[1], 0);
    EXPECT_EQ(std::count(s.body.begin(), s.body.end(), 0), 12);
}

TEST_F(DevicePagesTest, SetIpChecksTheRangeThenHandsOutAddressesAndSearchesThreeTimes) {
    AddStored(3);
    CStatusDlg page;
    page.ReloadCurrentPage();
    CGridCtrl* grid = page.Grid();
    page.OnSetIp();
    EXPECT_EQ(m_messages, QStringList{"Please select the devices!"});
    EXPECT_EQ(m_dialogs, 0);
    for (int r = 1; r <= 3; ++r) grid->SetCheck(r, kTick, true);

    int ticksToClose = -1;
    m_onDialog = [&](QDialog& d) {
        auto* dlg = dynamic_cast<CIpsetMutilDlg*>(&d);
        EXPECT_NE(dlg, nullptr);
        if (!dlg) return int(QDialog::Rejected);
        // Starting values from the first selected device; the end is left to the user.
        EXPECT_EQ(dlg->BeginEdit()->text(), "10.0.0.3");
        EXPECT_TRUE(dlg->EndEdit()->text().isEmpty());
        // Address boxes take digits and dots only, four groups at most.
        QTest::keyClicks(dlg->EndEdit(), "1x0.a0. 5.9.");
        EXPECT_EQ(dlg->EndEdit()->text(), "10.0.5.9");
        dlg->EndEdit()->clear();
        dlg->MaskEdit()->setText("255.255.255.0");
        dlg->GatewayEdit()->setText("");
        dlg->BeginEdit()->setText("10.0.5.253");
        dlg->EndEdit()->setText("10.0.5.9");  // end below begin
        dlg->OnSave();
        EXPECT_EQ(m_messages.back(), "The ip address is invalid!");
        EXPECT_TRUE(m_appCaptions.back());
        EXPECT_FALSE(dlg->Progress()->isVisibleTo(dlg));
        EXPECT_TRUE(dlg->BeginEdit()->isEnabled());
        // Two usable addresses (.253, .254) for three devices: refused, nobody is left out.
        dlg->EndEdit()->setText("10.0.5.255");
        dlg->OnSave();
        EXPECT_EQ(m_messages.back(), "The ip address is invalid!");
        EXPECT_TRUE(dlg->BeginEdit()->isEnabled());
        // An address another listed device has: refused before anything is sent.
        dlg->BeginEdit()->setText("10.0.0.1");
        dlg->EndEdit()->setText("10.0.0.9");
        dlg->OnSave();
        EXPECT_EQ(m_messages.back(), "The ip address is already in use, please respecify!");
        EXPECT_TRUE(m_engine.Sends().empty());
        dlg->BeginEdit()->setText("10.0.5.253");
        dlg->EndEdit()->setText("10.0.6.9");
        dlg->MaskEdit()->setText("255.255.0.0");
        dlg->OnSave();
        EXPECT_TRUE(dlg->Progress()->isVisibleTo(dlg));
        EXPECT_FALSE(dlg->BeginEdit()->isEnabled());
        EXPECT_FALSE(dlg->SaveButton()->isEnabled());
        EXPECT_EQ(dlg->ProgressTimer().interval(), 500);
        for (int i = 0; i < 40 && dlg->result() != QDialog::Accepted; ++i) {
            dlg->OnProgressTick();
            if (dlg->result() == QDialog::Accepted) ticksToClose = i + 1;
        }
        EXPECT_EQ(dlg->Progress()->value(), 30);
        return dlg->result();
    };
    page.OnSetIp();
    EXPECT_EQ(ticksToClose, 29);  // the counter starts at 1 and closes at 30
    EXPECT_EQ(Count("search"), 3);
    EXPECT_EQ(Count("probe"), 1);
    ASSERT_TRUE(WaitUntil([&] { return m_engine.Sends().size() == 3; }));
    ASSERT_TRUE(WaitUntil([&] { return !page.IpWorker().Running(); }));
    const auto sends = m_engine.Sends();
    const auto pending = m_engine.PendingAddresses();
    ASSERT_EQ(pending.size(), 3u);
    // Selection order (IP descending), .254 then past .255 and .0 to 6.1.
    EXPECT_EQ(pending[0].newIp, "10.0.5.253");
    EXPECT_EQ(pending[1].newIp, "10.0.5.254");
    EXPECT_EQ(pending[2].newIp, "10.0.6.1");
    EXPECT_EQ(pending[0].currentIp, "10.0.0.3");
    EXPECT_EQ(sends[0].command, fd::CMD_SET_IP);
    EXPECT_EQ(sends[0].ip, "10.0.0.3");
    ASSERT_EQ(sends[0].body.size(), 22u);
    EXPECT_EQ(sends[0].body[0], 1);   // ip_mode
    EXPECT_EQ(sends[0].body[1], 10);  // first octet first
    EXPECT_EQ(sends[0].body[4], 253);
    EXPECT_EQ(sends[0].body[9], 0);   // empty gateway: 0.0.0.0
    EXPECT_EQ(sends[0].body[21], 1);  // flag byte
}

class RestartPageTest : public DevicePagesTest {
protected:
    // Device 0 stands alone; device 1 is an access point with device 2, a station, linked
    // to it.
    void AddBridgedPair() {
        ap_info_stu lone = Device(0);
        fd::MacFromText("02:00:00:00:00:aa", lone.ssid_mac);
        ap_info_stu ap = Device(1);
        fd::MacFromText("02:00:00:00:00:bb", ap.ssid_mac);
        ap_info_stu station = Device(2, 1, fd::WORK_MODE_STATION);
        fd::MacFromText("02:00:00:00:00:cc", station.ssid_mac);
        fd::MacFromText("02:00:00:00:00:bb", station.bridge_mac);
        ASSERT_TRUE(m_store->SaveApInfo(lone));
        ASSERT_TRUE(m_store->SaveApInfo(ap));
        ASSERT_TRUE(m_store->SaveApInfo(station));
        ASSERT_TRUE(m_store->HasBridgedStation(MacOf(1)));
    }
};

TEST_F(RestartPageTest, RebootSendsToTheBridgedAccessPointFirstAndWaitsSixtySeconds) {
    AddBridgedPair();
    CRebootDlg page;
    page.ReloadCurrentPage();
    CGridCtrl* grid = page.Grid();
    const int status = static_cast<int>(grid->GetColumnCount()) - 1;
    EXPECT_EQ(grid->GetItemText(0, status), "Status");
    // Tick the lone device (10.0.0.1, last row) and the access point (10.0.0.2).
    const int loneRow = page.RowOfMac(MacOf(0));
    const int apRow = page.RowOfMac(MacOf(1));
    grid->SetCheck(loneRow, kTick, true);
    grid->SetCheck(apRow, kTick, true);

    bool timerDuringWait = false;
    m_onDialog = [&](QDialog& d) {
        auto* wait = dynamic_cast<CWaitDlg*>(&d);
        EXPECT_NE(wait, nullptr);
        if (!wait) return int(QDialog::Rejected);
        EXPECT_EQ(wait->Progress().Duration(), 120);
        EXPECT_EQ(wait->Progress().SearchesLeft(), 3);
        EXPECT_EQ(wait->Text(), CWaitDlg::kRestartingKey);  // says what it waits for
        timerDuringWait = page.StatusTimer().isActive();
        // The store reports the devices restarting; the Status column follows.
        m_store->SetApStatus(MacOf(1), fd::AP_STATUS_RESTARTING);
        page.OnStatusTimer();
        EXPECT_TRUE(WaitUntil([&] { return m_engine.Sends().size() == 2; }));
        return int(QDialog::Accepted);
    };
    page.OnAction();
    EXPECT_EQ(m_messages, QStringList{"Are you sure you want to restart?"});
    EXPECT_EQ(m_icons[0], QMessageBox::Question);
    EXPECT_TRUE(timerDuringWait);
    EXPECT_FALSE(page.StatusTimer().isActive());
    EXPECT_TRUE(page.ReloadTimer().isActive());
    EXPECT_EQ(page.ReloadTimer().interval(), 1000);
    EXPECT_EQ(m_engine.Calls().back(), "search");
    EXPECT_EQ(grid->GetItemText(apRow, status), QString::fromStdString(fd::GetStatusLabel(4)));
    EXPECT_EQ(grid->GetItemText(loneRow, status), "Online");
    // Status cells stand out in the online colour; the rest keep the list's colour.
    auto fg = [&](int row, int col) {
        return grid->Model()->index(row - 1, col).data(Qt::ForegroundRole).value<QColor>();
    };
    EXPECT_EQ(fg(loneRow, status), fd::Skin().textOnlineColor);
    EXPECT_EQ(fg(apRow, status), fd::Skin().textOnlineColor);
    EXPECT_EQ(fg(loneRow, kIp), fd::Skin().gridTitleTextColor);

    const auto sends = m_engine.Sends();
    ASSERT_EQ(sends.size(), 2u);
    EXPECT_EQ(sends[0].mac, MacOf(1));
    EXPECT_EQ(sends[1].mac, MacOf(0));
    EXPECT_EQ(sends[0].command, fd::CMD_REBOOT);
    EXPECT_TRUE(sends[0].body.empty());
    EXPECT_GE(sends[1].at - sends[0].at, 200ms);
}

TEST_F(RestartPageTest, NothingSelectedOrCancelledSendsNothing) {
    AddBridgedPair();
    CRestoreDlg page;
    page.ReloadCurrentPage();
    page.OnAction();
    EXPECT_EQ(m_messages, QStringList{"Please select the devices!"});
    page.Grid()->SetCheck(1, kTick, true);
    m_answer = QMessageBox::Cancel;
    page.OnAction();
    EXPECT_EQ(m_messages.back(), "Are you sure you want to reset?");
    EXPECT_EQ(m_dialogs, 0);
    EXPECT_FALSE(page.StatusTimer().isActive());
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(m_engine.Sends().empty());

    m_answer = QMessageBox::Ok;
    m_onDialog = [&](QDialog& d) {
        auto* wait = dynamic_cast<CWaitDlg*>(&d);
        EXPECT_NE(wait, nullptr);
        if (wait) {
            EXPECT_EQ(wait->Progress().SearchesLeft(), 5);
            EXPECT_EQ(wait->Text(), CWaitDlg::kResettingKey);
        }
        return int(QDialog::Accepted);
    };
    page.OnAction();
    ASSERT_TRUE(WaitUntil([&] { return m_engine.Sends().size() == 1; }));
    EXPECT_EQ(m_engine.Sends()[0].command, fd::CMD_RESET);
}

TEST_F(DevicePagesTest, ExportWritesEveryPageOfTheFilteredListAndDefusesFormulas) {
    AddStored(35);
    ap_info_stu odd = Device(100);
    fd::SetFieldText(odd.ap_name, sizeof odd.ap_name, odd.ap_name_len, "=cmd,1");
    ASSERT_TRUE(m_store->SaveApInfo(odd));
    AddDiscovered(2);
    CStatusDlg page;
    page.ReloadCurrentPage();
    const QString path = QString::fromStdString(m_dir.Path("out.csv"));
    ASSERT_TRUE(page.ExportTo(path));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1 + 36 + 2);
    EXPECT_EQ(lines[0],
              "Serial,Location,Type,IP,MAC,OperationMode,SSID,Channel,Version,Transparent "
              "bridge,AirSlot,Time");
    EXPECT_TRUE(lines[1].contains("\"'=cmd,1\"")) << lines[1].toStdString();  // 10.0.0.101
    EXPECT_TRUE(lines[2].contains(",10.0.0.35,")) << lines[2].toStdString();
    f.close();

    // With a filter only the matching devices; a folder is no file.
    page.FilterEdit()->setText("dev99");
    ASSERT_TRUE(page.ExportTo(path));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(f.readAll()).count("\r\n"), 1 + 10);
    f.close();
    EXPECT_FALSE(page.ExportTo(QString::fromStdString(m_dir.Dir())));
}

}  // namespace
