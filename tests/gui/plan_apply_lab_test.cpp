// Apply plan on the management page end to end: 40 emulated devices found by the page's
// search, a plan file that renames them and changes their network name, one row with a
// channel the device does not offer. The preview shows that row refused (in red, with its
// line and column) and the others with their changes; Apply sends through the real engine,
// the list follows each device, and every device but the refused one ends verified with the
// plan's values on the device.
//
// With FD_SCREENSHOT_DIR set, the preview, the apply under way and the finished list are
// saved there; FD_SCREENSHOT_LANGUAGE=Chinese takes them in Chinese.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTableWidget>
#include <chrono>
#include <fstream>
#include <iterator>

#include <sys/stat.h>

#include "app/app_context.h"
#include "app/skin.h"
#include "app/translate.h"
#include "controls/t_button_picture.h"
#include "config/language.h"
#include "gui/page_lab_test.h"
#include "gui_test_support.h"
#include "pages/config/management_dlg.h"
#include "pages/config/plan_apply_dlg.h"
#include "presentation/plan_file.h"
#include "support/lab.h"
#include "support/lab_devices.h"
#include "wire/packet.h"

namespace {

using namespace std::chrono_literals;
using fd::test::WaitUntil;

constexpr int kDevices = 40;
constexpr int kRefused = 7;  // the row with a channel the device does not offer
enum { kMacCol, kIpCol, kResultCol, kSettingsCol };

class PlanApplyLabTest : public fd::test::PageLabTest {
protected:
    void SetUp() override {
        m_commandLog = &m_log;
        EngineLabTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        m_macs = AddDevices(kDevices);
        ASSERT_TRUE(StartPeer());
        ASSERT_TRUE(StartEngine(60000ms));
        InstallPageServices();
        fd::AppServices services = fd::Services();
        services.commands = &m_log;
        fd::InstallServices(services);
        m_shots = QString::fromLocal8Bit(qgetenv("FD_SCREENSHOT_DIR"));
        m_chinese = qgetenv("FD_SCREENSHOT_LANGUAGE") == "Chinese";
        if (m_chinese) {
            fd::InitLanguage(fdtest::BinDir().toStdString() + "/");
            fd::SetLanguage("Chinese");
            fd::SetSkinBaseDir(fdtest::BinDir() + '/', true);
        }
    }
    void TearDown() override {
        if (m_chinese) {
            fd::SetLanguage("English");
            fd::SetSkinBaseDir(fdtest::BinDir() + '/', false);
        }
        PageLabTest::TearDown();
    }
    void Shot(QWidget& w, const char* name) {
        if (m_shots.isEmpty()) return;
        w.grab().save(m_shots + "/" + name + (m_chinese ? "_zh" : "_en") + ".png");
    }

    fd::CommandLog m_log;
    std::vector<std::string> m_macs;
    QString m_shots;
    bool m_chinese = false;
};

TEST_F(PlanApplyLabTest, FortyDevicesFromOnePlanAreVerifiedAndARefusedRowIsLeftAlone) {
    CManagementDlg page;
    ASSERT_TRUE(SearchUntil(page, [&] { return StoredCount() == m_macs.size(); }))
        << StoredCount();

    // The plan as a spreadsheet saves it: semicolons, CRLF, one row with a bad channel.
    const std::string path = m_dbDir + "/site.csv";
    {
        std::ofstream plan(path, std::ios::binary);
        plan << "mac;name;ssid;channel\r\n";
        for (int i = 0; i < kDevices; ++i)
            plan << m_macs[i] << ";site-" << i << ";field-" << i << ";"
                 << (i == kRefused ? "999" : "") << "\r\n";
    }

    bool previewChecked = false;
    m_onDialog = [&](QDialog& d) {
        auto* dlg = dynamic_cast<CPlanApplyDlg*>(&d);
        EXPECT_NE(dlg, nullptr);
        if (!dlg) return int(QDialog::Rejected);
        QTableWidget* t = dlg->Table();
        auto text = [&](const std::string& mac, int col) {
            const int row = dlg->RowOfMac(mac);
            return row < 0 ? QString() : t->item(row, col)->text();
        };
        // The preview: nothing sent yet.
        EXPECT_EQ(t->rowCount(), kDevices);
        const std::string refused = m_macs[kRefused];
        EXPECT_EQ(text(refused, kResultCol), fd::Tr("refused"));
        EXPECT_TRUE(text(refused, kSettingsCol).startsWith("line 9, column 4 (channel): "))
            << text(refused, kSettingsCol).toStdString();
        EXPECT_EQ(t->item(dlg->RowOfMac(refused), kSettingsCol)->foreground().color(),
                  QColor(200, 0, 0));
        EXPECT_EQ(text(m_macs[3], kResultCol), fd::Tr("will change"));
        EXPECT_EQ(text(m_macs[3], kSettingsCol),
                  "name: Device-3 → site-3; ssid: lab-3 → field-3");
        EXPECT_EQ(m_peer->CountCommand(fd::CMD_SET_NAME, m_macs[3]), 0u);
        previewChecked = true;
        Shot(*dlg, "plan_preview");

        EXPECT_TRUE(dlg->ApplyButton()->isEnabled());
        dlg->OnApply();
        // The list follows the devices while the worker runs; the page's thread is free.
        bool live = false;
        EXPECT_TRUE(WaitUntil(
            [&] {
                QCoreApplication::processEvents();
                if (!live && dlg->Running()) {
                    for (int r = 0; r < t->rowCount() && !live; ++r) {
                        const QString s = t->item(r, kResultCol)->text();
                        live = s == fd::Tr("sending") || s == fd::Tr("waiting");
                    }
                    if (live) Shot(*dlg, "plan_applying");
                }
                return dlg->Finished();
            },
            fd::test::kWait));
        QCoreApplication::processEvents();
        Shot(*dlg, "plan_applied");
        for (int i = 0; i < kDevices; ++i)
            EXPECT_EQ(text(m_macs[i], kResultCol), fd::Tr(i == kRefused ? "refused" : "verified"))
                << i << " " << text(m_macs[i], kSettingsCol).toStdString();
        EXPECT_EQ(dlg->Summary(),
                  QString::asprintf(
                      fd::Tr("Verified or unchanged: %d, under way: %d, not done: %d")
                          .toUtf8()
                          .constData(),
                      kDevices - 1, 0, 1));
        EXPECT_TRUE(dlg->ReportButton()->isEnabled());
        EXPECT_EQ(dlg->Report().size(), static_cast<std::size_t>(kDevices));
        return int(QDialog::Accepted);
    };
    page.ApplyPlanFrom(QString::fromStdString(path));
    ASSERT_TRUE(previewChecked);
    EXPECT_TRUE(m_messages.isEmpty()) << m_messages.join('|').toStdString();

    // What the devices hold now: the plan's values, the refused one untouched and sent
    // nothing.
    for (int i = 0; i < kDevices; ++i) {
        const auto dev = m_peer->GetDevice(m_macs[i]);
        ASSERT_TRUE(dev);
        const std::string name(reinterpret_cast<const char*>(dev->info.ap_name),
                               dev->info.ap_name_len);
        const std::string ssid(reinterpret_cast<const char*>(dev->info.ssid), dev->info.ssid_len);
        if (i == kRefused) {
            EXPECT_EQ(name, "Device-" + std::to_string(i));
            EXPECT_EQ(m_peer->CountCommand(fd::CMD_SET_NAME, m_macs[i]), 0u);
            EXPECT_EQ(m_peer->CountCommand(fd::CMD_SET_WIRELESS, m_macs[i]), 0u);
        } else {
            EXPECT_EQ(name, "site-" + std::to_string(i));
            EXPECT_EQ(ssid, "field-" + std::to_string(i));
        }
    }

    // Export plan over a file others could read: it is the owner's alone afterwards, and it
    // reads back as a plan of every device.
    const std::string exported = m_dbDir + "/export.csv";
    std::ofstream(exported) << "old";
    ASSERT_EQ(chmod(exported.c_str(), 0644), 0);
    ASSERT_TRUE(page.ExportPlanTo(QString::fromStdString(exported)));
    struct stat st {};
    ASSERT_EQ(stat(exported.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::ifstream in(exported, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const fd::PlanFile back = fd::ReadPlan(bytes);
    EXPECT_TRUE(back.refused.empty()) << back.refused;
    EXPECT_EQ(back.rows.size(), static_cast<std::size_t>(kDevices));
}

// The staging bench: a device of the plan that is not on the bench yet waits; the one that is
// goes at once, and the late one is applied and read back as soon as it is plugged in.
TEST_F(PlanApplyLabTest, TheStagingBenchAppliesADeviceAsSoonAsItIsPluggedIn) {
    CManagementDlg page;
    ASSERT_TRUE(SearchUntil(page, [&] { return StoredCount() == m_macs.size(); }))
        << StoredCount();
    const fd::devsim::EmulatedDevice late = fd::devsim::MakeDevice(kDevices);
    const std::string lateMac = late.MacText();
    const std::string path = m_dbDir + "/bench.csv";
    std::ofstream(path, std::ios::binary) << "mac,name\n"
                                          << m_macs[0] << ",bench-0\n"
                                          << lateMac << ",bench-late\n";

    bool ran = false;
    m_onDialog = [&](QDialog& d) {
        auto* dlg = dynamic_cast<CPlanApplyDlg*>(&d);
        EXPECT_NE(dlg, nullptr);
        if (!dlg) return int(QDialog::Rejected);
        auto text = [&](const std::string& mac, int col) {
            const int row = dlg->RowOfMac(mac);
            return row < 0 ? QString() : dlg->Table()->item(row, col)->text();
        };
        EXPECT_EQ(text(lateMac, kResultCol), fd::Tr("not found"));
        EXPECT_FALSE(dlg->WaitBox()->isHidden());
        dlg->WaitBox()->setChecked(true);
        Shot(*dlg, "plan_bench_waiting");
        dlg->OnApply();
        EXPECT_TRUE(WaitUntil(
            [&] {
                QCoreApplication::processEvents();
                return text(m_macs[0], kResultCol) == fd::Tr("verified");
            },
            fd::test::kWait));
        EXPECT_FALSE(dlg->Finished()) << "ended without the device it waits for";
        EXPECT_EQ(m_peer->CountCommand(fd::CMD_SET_NAME, lateMac), 0u);

        // Plugged in: its address on the bench side first, then the device answers.
        EXPECT_TRUE(m_lab.AddDeviceAddresses({late.address})) << m_lab.Error();
        m_peer->AddDevice(late);
        EXPECT_TRUE(WaitUntil(
            [&] {
                QCoreApplication::processEvents();
                return dlg->Finished();
            },
            fd::test::kWait));
        QCoreApplication::processEvents();
        EXPECT_EQ(text(lateMac, kResultCol), fd::Tr("verified"))
            << text(lateMac, kSettingsCol).toStdString();
        EXPECT_EQ(text(lateMac, kIpCol).toStdString(), late.address);
        EXPECT_EQ(text(lateMac, kSettingsCol), "name: Device-40 → bench-late");
        Shot(*dlg, "plan_bench_done");
        ran = true;
        return int(QDialog::Accepted);
    };
    page.ApplyPlanFrom(QString::fromStdString(path));
    ASSERT_TRUE(ran);
    const auto dev = m_peer->GetDevice(lateMac);
    ASSERT_TRUE(dev);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(dev->info.ap_name), dev->info.ap_name_len),
              "bench-late");
}

}  // namespace
