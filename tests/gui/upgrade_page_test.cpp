// The upgrade page and its dialog over a real store on a scratch file, an engine that only
// records, and a file server that only records.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QProgressBar>
#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>

#include "../support/fake_device_engine.h"
#include "../support/temp_dir.h"
#include "app/app_context.h"
#include "config/labels.h"
#include "controls/grid_ctrl.h"
#include "controls/t_button_picture.h"
#include "controls/t_edit.h"
#include "controls/t_static.h"
#include "pages/devices/page_messages.h"
#include "pages/upgrade/upgrade_dlgs.h"
#include "store/sql_management.h"

namespace {

constexpr int kTick = 0, kStatus = 9;

std::string MacOf(int id) {
    char mac[18];
    std::snprintf(mac, sizeof mac, "00:1b:2c:00:00:%02x", id);
    return mac;
}

ap_info_stu Device(int id, int apType) {
    ap_info_stu rec{};
    std::snprintf(rec.mac, sizeof rec.mac, "%s", MacOf(id).c_str());
    rec.ap_type = static_cast<uint16_t>(apType);
    rec.work_mode = fd::WORK_MODE_STATION;
    fd::IpFromText("10.0.0." + std::to_string(id + 1), rec.ip);
    return rec;
}

struct ServerLog {
    std::vector<std::string> calls;
    std::string failure;             // what the server says went wrong
    std::string startProblem;        // why it cannot be started here at all
    std::vector<std::string> heard;  // addresses it had requests from
};

class RecordingServer : public fd::IUpgradeFileServer {
public:
    explicit RecordingServer(ServerLog& log) : m_log(log) {}
    bool ServeImage(const std::string& image, const std::vector<std::string>& addresses) override {
        std::string on;
        for (const auto& a : addresses) on += " " + a;
        m_log.calls.push_back("serve " + image + (on.empty() ? "" : " on" + on));
        return true;
    }
    void Start() override { m_log.calls.push_back("start"); }
    bool IsRunning() override { return true; }
    void Stop() override { m_log.calls.push_back("stop"); }
    std::string Failure() override { return m_log.failure; }
    std::string StartProblem() override { return m_log.startProblem; }
    std::optional<bool> HeardFrom(const std::string& ip) override {
        return std::find(m_log.heard.begin(), m_log.heard.end(), ip) != m_log.heard.end();
    }

private:
    ServerLog& m_log;
};

class UpgradePageTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_store =
            std::make_unique<CSqlManagement>(m_dir.Path("data.mdb"), [](const std::string&) {});
        ASSERT_TRUE(m_store->IsOpen());
        fd::InstallServices({&m_engine, m_store.get(), {}, {}});
        fd::SetPageMessageHandler([this](QWidget*, const fd::PageMessage& m) {
            m_messages.push_back(m.key);
            return m_answer;
        });
        fd::SetPageDialogRunner([this](QDialog& d) {
            ++m_dialogs;
            return m_onDialog ? m_onDialog(d) : int(QDialog::Rejected);
        });
        fd::SetUpgradeFileServerFactory(
            [this] { return std::make_unique<RecordingServer>(m_server); });
    }
    void TearDown() override {
        fd::InstallServices({});
        fd::SetPageMessageHandler({});
        fd::SetPageDialogRunner({});
        fd::SetUpgradeFileServerFactory({});
    }
    int Count(int command) const {
        int n = 0;
        for (const auto& s : m_engine.Sends()) n += s.command == command;
        return n;
    }

    fd::test::TempDir m_dir;
    std::unique_ptr<CSqlManagement> m_store;
    fd::test::RecordingEngine m_engine;
    ServerLog m_server;
    QStringList m_messages;
    QMessageBox::StandardButton m_answer = QMessageBox::Ok;
    int m_dialogs = 0;
    std::function<int(QDialog&)> m_onDialog;
};

}  // namespace

TEST_F(UpgradePageTest, TenDevicesAtMostAndTheSearchAndReloadFollowTheDialog) {
    for (int i = 0; i < 11; ++i) ASSERT_TRUE(m_store->SaveApInfo(Device(i, i == 4 ? 3 : 2)));
    CUpgradeDlg page;
    page.ReloadCurrentPage();
    EXPECT_FALSE(page.SearchButton()->isVisible());
    page.show();
    page.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
    QTest::keyClick(page.Grid(), Qt::Key_F5);
    EXPECT_FALSE(page.IsSearching());
    EXPECT_EQ(page.Grid()->GetItemText(0, kStatus), "Status");
    EXPECT_EQ(page.Grid()->GetItemText(0, 8), "Version");

    page.OnUpgrade();
    EXPECT_EQ(m_messages, QStringList{"Please select the devices!"});
    for (int r = 1; r <= 11; ++r) page.Grid()->SetCheck(r, kTick, true);
    page.OnUpgrade();
    EXPECT_EQ(m_messages.back(), "Maximum selection of 10 devices!");
    EXPECT_EQ(m_dialogs, 0);
    EXPECT_TRUE(m_engine.Sends().empty());
    const auto calls = m_engine.Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "search"), 0);

    page.Grid()->SetCheck(page.RowOfMac(MacOf(0)), kTick, false);
    QStringList models;
    m_onDialog = [&](QDialog& d) {
        auto* dlg = dynamic_cast<CUpgradeConfigDlg*>(&d);
        EXPECT_NE(dlg, nullptr);
        if (!dlg) return int(QDialog::Rejected);
        for (int i = 0; i < dlg->ModelCombo()->count(); ++i)
            models << dlg->ModelCombo()->itemText(i);
        dlg->OnClose();  // closed without upgrading
        return dlg->result();
    };
    page.OnUpgrade();
    EXPECT_EQ(m_dialogs, 1);
    EXPECT_EQ(page.Targets().size(), 10u);
    // Each model once, in the order of the rows (the list runs by IP, highest first).
    EXPECT_EQ(models, (QStringList{QString::fromStdString(fd::GetModelLabel(2)),
                                   QString::fromStdString(fd::GetModelLabel(3))}));
    // Closing ends the file server (and so does the dialog's end); nothing was started.
    ASSERT_FALSE(m_server.calls.empty());
    for (const auto& c : m_server.calls) EXPECT_EQ(c, "stop");
    EXPECT_EQ(m_engine.Calls().back(), "search");
    EXPECT_TRUE(page.ReloadTimer().isActive());
    EXPECT_EQ(Count(fd::CMD_UPGRADE), 0);
}

TEST_F(UpgradePageTest, DialogChecksTheImageThenRunsTheUpgradeWhileThePageShowsStatuses) {
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(m_store->SaveApInfo(Device(i, i == 1 ? 5 : 2)));
    const std::string folder = m_dir.Path("img");
    m_dir.Write("img/fw.BIN", std::string(5000, 'x'));
    m_dir.Write("img/fw.Bin", "x");

    CUpgradeDlg page;
    page.ReloadCurrentPage();
    for (int r = 1; r <= 3; ++r) page.Grid()->SetCheck(r, kTick, true);
    bool accepted = false;
    m_onDialog = [&](QDialog& d) {
        auto& dlg = dynamic_cast<CUpgradeConfigDlg&>(d);
        EXPECT_FALSE(dlg.Progress()->isVisibleTo(&dlg));
        dlg.OnUpgrade();
        EXPECT_EQ(m_messages.back(), "Please select the upgrade file!");
        dlg.SetImagePath(QString::fromStdString(folder + "/fw.Bin"));
        dlg.OnUpgrade();
        EXPECT_EQ(m_messages.back(), "Upgrade file is not .bin file!");
        dlg.SetImagePath(QString::fromStdString(folder + "/fw.BIN"));
        // A PC where the server could not get its port: said before anything is asked.
        m_server.startProblem = "FileServer needs the right to use UDP port 69";
        dlg.OnUpgrade();
        EXPECT_EQ(m_messages.back(), "FileServer needs the right to use UDP port 69");
        m_server.startProblem.clear();
        m_answer = QMessageBox::Cancel;
        dlg.OnUpgrade();
        EXPECT_EQ(m_messages.back(), "Are you sure you want to upgrade?");
        EXPECT_TRUE(m_server.calls.empty());
        m_answer = QMessageBox::Ok;
        const int before = m_messages.size();
        dlg.OnUpgrade();
        EXPECT_EQ(m_messages.size(), before + 1);
        EXPECT_EQ(m_server.calls,
                  (std::vector<std::string>{"stop", "serve " + folder + "/fw.BIN", "start"}));
        EXPECT_FALSE(dlg.UpgradeButton()->isVisibleTo(&dlg));
        EXPECT_FALSE(dlg.ScanButton()->isEnabled());
        EXPECT_EQ(dlg.PhaseText()->text(), "Upgrade file transfer progress");
        EXPECT_EQ(dlg.Progress()->maximum(), 120);
        if (const char* shots = std::getenv("FD_SCREENSHOT_DIR"))
            dlg.grab().save(QString::fromLocal8Bit(shots) + "/upgrade_dialog.png");

        // Three seconds: the two devices of the first model are asked to fetch.
        for (int i = 0; i < 3; ++i) dlg.OnTick();
        EXPECT_EQ(Count(fd::CMD_UPGRADE), 2);
        m_store->SetApStatus(MacOf(0), fd::AP_STATUS_UPGRADE_WAIT);
        m_store->SetApStatus(MacOf(2), fd::AP_STATUS_UPGRADE_WAIT);
        dlg.OnTick();
        EXPECT_EQ(Count(fd::CMD_UPGRADE_START), 2);
        EXPECT_EQ(dlg.PhaseText()->text(), "Firmware upgrading progress");
        EXPECT_EQ(dlg.Progress()->maximum(), 130);
        m_store->SetApUpgrading(MacOf(0));
        dlg.OnTick();
        // The page's Status column follows the dialog; the other model's row is untouched.
        EXPECT_EQ(page.Grid()->GetItemText(page.RowOfMac(MacOf(0)), kStatus), "Upgrading");
        EXPECT_EQ(page.Grid()->GetItemText(page.RowOfMac(MacOf(2)), kStatus), "Upgrade wait");
        EXPECT_EQ(page.Grid()->GetItemText(page.RowOfMac(MacOf(1)), kStatus), "Online");
        for (int i = 0; i < 200 && dlg.Session().GetPhase() != fd::CUpgradeSession::Phase::Closed;
             ++i)
            dlg.OnTick();
        accepted = dlg.result() == QDialog::Accepted;
        return dlg.result();
    };
    page.OnUpgrade();
    EXPECT_TRUE(accepted);
    EXPECT_EQ(m_server.calls.back(), "stop");
    int searches = 0;
    for (const auto& c : m_engine.Calls()) searches += c == "search";
    EXPECT_EQ(searches, 4);  // 124, 127, 130 and the page's own after the dialog
}

TEST_F(UpgradePageTest, AtTheEndTheDialogSaysWhereEachFetchBroke) {
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(m_store->SaveApInfo(Device(i, 2)));
    m_dir.Write("img/fw.bin", std::string(5000, 'x'));
    // The server heard the first device only; the third never answers at all.
    m_server.heard = {"10.0.0.1"};

    CUpgradeDlg page;
    page.ReloadCurrentPage();
    for (int r = 1; r <= 3; ++r) page.Grid()->SetCheck(r, kTick, true);
    m_onDialog = [&](QDialog& d) {
        auto& dlg = dynamic_cast<CUpgradeConfigDlg&>(d);
        dlg.SetImagePath(QString::fromStdString(m_dir.Path("img/fw.bin")));
        dlg.OnUpgrade();
        const int before = Count(fd::CMD_UPGRADE);
        for (int i = 0; i < 3; ++i) dlg.OnTick();
        EXPECT_EQ(Count(fd::CMD_UPGRADE) - before, int(dlg.Session().WatchList().size()));
        // The failures come in between two ticks; the silent one keeps the upgrade going to
        // its end.
        m_store->SetApStatus(MacOf(0), fd::AP_STATUS_UPGRADE_FAIL);
        m_store->SetApStatus(MacOf(1), fd::AP_STATUS_UPGRADE_FAIL);
        for (int i = 0; i < 400 && dlg.Session().GetPhase() != fd::CUpgradeSession::Phase::Closed;
             ++i)
            dlg.OnTick();
        return dlg.result();
    };
    page.OnUpgrade();
    // One line for each device that could not fetch; none for the
    // silent one (its row says why).
    ASSERT_EQ(m_messages.size(), 2);
    auto lines = m_messages[1].split('\n');
    lines.sort();
    EXPECT_EQ(lines,
              (QStringList{QString::fromStdString(
                               MacOf(0) + "  10.0.0.1  failed: the device could not fetch the image"),
                           QString::fromStdString(
                               MacOf(1) +
                               "  10.0.0.2  failed: the device could not fetch the image; the file "
                               "server saw no request from it (a firewall on this PC, or the device "
                               "reaches the PC through another adapter)")}));
    EXPECT_EQ(page.Grid()->GetItemText(page.RowOfMac(MacOf(1)), kStatus), "Upgrade fail");

    // The server never ran: that is the reason given.
    m_messages.clear();
    m_server.failure = "cannot bind UDP port 69 on 10.0.0.100: Address already in use";
    m_store->SetApStatus(MacOf(0), fd::AP_STATUS_ONLINE);
    m_store->SetApStatus(MacOf(1), fd::AP_STATUS_ONLINE);
    page.ReloadCurrentPage();
    for (int r = 1; r <= 3; ++r) page.Grid()->SetCheck(r, kTick, r == page.RowOfMac(MacOf(0)));
    page.OnUpgrade();
    ASSERT_EQ(m_messages.size(), 2);
    EXPECT_EQ(m_messages[1].toStdString(),
              MacOf(0) +
                  "  10.0.0.1  failed: the device could not fetch the image: the file server was "
                  "not serving (cannot bind UDP port 69 on 10.0.0.100: Address already in use)");
}
