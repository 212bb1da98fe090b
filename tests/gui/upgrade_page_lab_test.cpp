// The upgrade page and dialog end to end: the real engine in the lab's PC namespace, the
// FileServer program, ten emulated devices that fetch, flash and come back. The dialog's
// second is driven by hand at ten a second.

#include <gtest/gtest.h>

#include <QDialog>
#include <chrono>
#include <filesystem>
#include <random>
#include <set>
#include <thread>

#include "actions/file_server_control.h"
#include "app/app_context.h"
#include "controls/grid_ctrl.h"
#include "gui/page_lab_test.h"
#include "pages/devices/page_messages.h"
#include "pages/upgrade/upgrade_dlgs.h"
#include "support/lab.h"
#include "support/temp_dir.h"
#include "system/system_info.h"

namespace {

using namespace std::chrono_literals;

constexpr int kTick = 0, kVersion = 8, kStatus = 9;

class UpgradePageLabTest : public fd::test::PageLabTest {
protected:
    void SetUp() override {
        EngineLabTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        m_macs = AddDevices(10);
        m_peer->UpdateDevice(m_macs[3],
                             [](fd::devsim::EmulatedDevice& d) { d.upgradeFetchFails = true; });
        for (const auto& mac : m_macs)
            m_peer->UpdateDevice(mac,
                                 [](fd::devsim::EmulatedDevice& d) { d.flashSilence = 4000ms; });
        ASSERT_TRUE(StartPeer());
        ASSERT_TRUE(StartEngine(60000ms));
        InstallPageServices();
        // The FileServer program under a name of this test alone, on port 69 of the PC side.
        m_program = m_tmp.Path("FileServer-gui" + std::to_string(::getpid()));
        std::filesystem::copy_file(std::string(std::getenv("FD_BIN_DIR")) + "/FileServer",
                                   m_program);
        fd::SetUpgradeFileServerFactory([this] {
            fd::CFileServerControl::Options o;
            o.program = m_program;
            o.extraArgs = {"--quiet"};
            o.workDirectory = m_tmp.Dir();
            return std::make_unique<fd::CFileServerControl>(o);
        });
    }
    void TearDown() override {
        fd::SetUpgradeFileServerFactory({});
        PageLabTest::TearDown();
    }

    fd::test::TempDir m_tmp;
    std::string m_program;
    std::vector<std::string> m_macs;
};

}  // namespace

TEST_F(UpgradePageLabTest, TenDevicesUpgradeThroughTheDialogAndOneBrokenFetchShowsFailed) {
    ASSERT_TRUE(SearchUntilStored(10));
    std::string image(1500000, '\0');
    std::mt19937 rng(9);
    for (auto& c : image) c = static_cast<char>(rng());
    const std::string path = m_tmp.Write("images/fdx-5.0.bin", image);

    CUpgradeDlg page;
    page.ReloadCurrentPage();
    for (int r = 1; r <= 10; ++r) page.Grid()->SetCheck(r, kTick, true);

    std::set<QString> failedShown, upgradingShown;
    bool accepted = false;
    fd::SetPageDialogRunner([&](QDialog& d) {
        auto& dlg = dynamic_cast<CUpgradeConfigDlg&>(d);
        dlg.SetImagePath(QString::fromStdString(path));
        dlg.OnUpgrade();
        for (int i = 0; i < 400 && dlg.Session().GetPhase() != fd::CUpgradeSession::Phase::Closed;
             ++i) {
            std::this_thread::sleep_for(100ms);
            dlg.OnTick();
            for (const auto& mac : m_macs) {
                const int row = page.RowOfMac(mac);
                if (row < 0) continue;
                const QString s = page.Grid()->GetItemText(row, kStatus);
                if (s == "Upgrade fail") failedShown.insert(QString::fromStdString(mac));
                if (s == "Upgrading") upgradingShown.insert(QString::fromStdString(mac));
            }
        }
        accepted = dlg.result() == QDialog::Accepted;
        return dlg.result();
    });
    page.OnUpgrade();
    // At the end the dialog says which device could not fetch the image (it reached the
    // server, so nothing about firewalls).
    EXPECT_EQ(m_messages,
              (QStringList{"Are you sure you want to upgrade?",
                           QString::fromStdString(m_macs[3]) +
                               "  198.18.1.4  failed: the device could not fetch the image"}));
    EXPECT_TRUE(accepted);
    EXPECT_EQ(failedShown, std::set<QString>{QString::fromStdString(m_macs[3])});
    EXPECT_EQ(upgradingShown.size(), 9u);
    EXPECT_EQ(COperateSystemInfo::FindProcessByName(std::filesystem::path(m_program).filename()),
              0);

    // The reload a second after the dialog shows the new versions.
    EXPECT_TRUE(fd::test::WaitUntil(
        [&] {
            page.ReloadCurrentPage();
            for (int i = 0; i < 10; ++i) {
                const int row = page.RowOfMac(m_macs[i]);
                if (row < 0) return false;
                const bool upgraded = page.Grid()->GetItemText(row, kVersion) == "fdx-5.0";
                if (upgraded != (i != 3)) return false;
            }
            return true;
        },
        fd::test::kWait));
}
