// Everything a user can see can also be used. On every page and in every dialog the program
// opens, in English and in Chinese, at the window's own size and on a 1366x768 laptop: each
// visible, enabled control is what a click at its centre lands on (nothing is drawn over
// it) and lies whole inside its window; and each dialog can be left through one of its
// visible controls, without saving. The dialogs are opened as a user opens them, by clicks
// on the pages of a main window over a demonstration store; a new dialog is checked by
// adding one line to Dialogs(). With FD_SCREENSHOT_DIR set, each dialog is saved there as
// it was checked.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QSizeGrip>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "app/application_dlg.h"
#include "app/child_dlg.h"
#include "app/menu_dlg.h"
#include "app/skin.h"
#include "app/translate.h"
#include "config/language.h"
#include "controls/grid_ctrl.h"
#include "controls/t_button_picture.h"
#include "controls/t_multi_pages.h"
#include "controls/wait_dlg.h"
#include "gui_test_support.h"
#include "pages/bridge/bridge_config_dlg.h"
#include "pages/config/management_dlg.h"
#include "pages/config/plan_apply_dlg.h"
#include "pages/bridge/bridge_steps.h"
#include "pages/config/management_config_dlg.h"
#include "pages/devices/demo_devices.h"
#include "pages/devices/device_list_page.h"
#include "pages/devices/multi_set_dlgs.h"
#include "pages/devices/page_messages.h"
#include "pages/upgrade/upgrade_dlgs.h"
#include "presentation/ap_scan_list.h"
#include "store/sql_management.h"
#include "wire/packet.h"

namespace {

std::string Describe(const QWidget* w) {
    if (w == nullptr) return "nothing";
    std::string s = w->metaObject()->className();
    if (!w->objectName().isEmpty()) s += " '" + w->objectName().toStdString() + "'";
    if (const auto* b = qobject_cast<const QAbstractButton*>(w); b && !b->text().isEmpty())
        s += " \"" + b->text().toStdString() + "\"";
    const QRect g(w->mapTo(w->window(), QPoint()), w->size());
    s += " at " + std::to_string(g.x()) + "," + std::to_string(g.y()) + " " +
         std::to_string(g.width()) + "x" + std::to_string(g.height());
    return s;
}

// What a user clicks, types into or drags.
bool IsControl(const QWidget* w) {
    return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QComboBox*>(w) ||
           qobject_cast<const QLineEdit*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
           qobject_cast<const QAbstractSlider*>(w) || qobject_cast<const QAbstractItemView*>(w) ||
           qobject_cast<const QSizeGrip*>(w) || qobject_cast<const CTMultiPages*>(w);
}

// The widget a click at this point of the window reaches (the window's own hit test: what
// is drawn on top there, masks and mouse-transparent widgets included).
QWidget* WidgetAt(QWidget* window, QPoint inWindow) {
    QWidget* hit = window->childAt(inWindow);
    return hit != nullptr ? hit : window;
}

using fdtest::ClickWhereDrawn;
void ClickAt(QWidget* w, QPoint local) {
    ClickWhereDrawn(w, local);
}
void Click(QWidget* w) {
    ClickWhereDrawn(w);
}

// Every visible, enabled control of the window is on top at its centre and whole inside
// each of its parents up to the window.
void ExpectReachable(QWidget* window, const std::string& where) {
    int controls = 0;
    for (QWidget* c : window->findChildren<QWidget*>()) {
        if (c->window() != window || !IsControl(c) || !c->isVisible() || !c->isEnabled())
            continue;
        ++controls;
        const QPoint centre = c->mapTo(window, c->rect().center());
        QWidget* hit = WidgetAt(window, centre);
        EXPECT_TRUE(hit == c || c->isAncestorOf(hit))
            << where << ": " << Describe(c) << " lies under " << Describe(hit);
        for (QWidget* a = c->parentWidget(); a != nullptr; a = a->parentWidget()) {
            const QRect r(c->mapTo(a, QPoint()), c->size());
            EXPECT_TRUE(a->rect().contains(r))
                << where << ": " << Describe(c) << " is cut by " << Describe(a);
            if (a == window) break;
        }
        // The page numbers are drawn items of one control.
        if (auto* pager = qobject_cast<CTMultiPages*>(c)) {
            for (const QRect& item : pager->ItemRects()) {
                EXPECT_TRUE(pager->rect().contains(item))
                    << where << ": a page number outside " << Describe(c);
            }
        }
    }
    EXPECT_GT(controls, 0) << where;
}

// The buttons a user could try to leave a dialog with: those of a button box, the one that
// rejects first; then the others, the top right one (a close button) first.
std::vector<QAbstractButton*> ExitCandidates(QDialog& d) {
    std::vector<QAbstractButton*> out;
    for (QAbstractButton* b : d.findChildren<QAbstractButton*>()) {
        if (b->window() == &d && b->isVisible() && b->isEnabled()) out.push_back(b);
    }
    auto rank = [](QAbstractButton* b) {
        auto* box = qobject_cast<QDialogButtonBox*>(b->parentWidget());
        if (box == nullptr) return 2;
        return box->buttonRole(b) == QDialogButtonBox::RejectRole ? 0 : 1;
    };
    std::stable_sort(out.begin(), out.end(), [&](QAbstractButton* a, QAbstractButton* b) {
        if (rank(a) != rank(b)) return rank(a) < rank(b);
        const QPoint pa = a->mapTo(&d, QPoint()), pb = b->mapTo(&d, QPoint());
        return pa.y() != pb.y() ? pa.y() < pb.y() : pa.x() > pb.x();
    });
    return out;
}

struct Layout {
    const char* language;
    QRect screen;  // the available area the window is placed in
};
const Layout kLayouts[] = {{"English", QRect(0, 0, 1920, 1080)},
                           {"English", QRect(0, 0, 1366, 728)},  // 768 less a 40-line panel
                           {"Chinese", QRect(0, 0, 1920, 1080)},
                           {"Chinese", QRect(0, 0, 1366, 728)}};

class ReachabilityTest;

// One dialog: how the user opens it (from the main window), which of the dialogs opened on
// the way it is, what is done in those before it, and how it is brought to the state that
// is checked.
struct DialogCase {
    std::string name;
    std::function<void(ReachabilityTest&, CApplicationDlg&)> open;
    std::function<bool(QDialog&)> is;
    std::function<void(ReachabilityTest&, QDialog&)> onTheWay = {};
    std::function<void(ReachabilityTest&, QDialog&)> prepare = {};
};

class ReachabilityTest : public ::testing::Test {
public:
    // ---- what a user does ----
    CDeviceListPage* Show(CApplicationDlg& w, int pageId) {
        Click(w.Menu()->ButtonForPage(pageId));
        auto* page = qobject_cast<CDeviceListPage*>(w.Host()->Page(pageId));
        if (page != nullptr) page->ReloadCurrentPage();  // what the host's timer does
        QCoreApplication::processEvents();
        return page;
    }
    static void ClickCell(CGridCtrl* grid, int row, int col) {
        const QRect cell = grid->visualRect(grid->Model()->index(row - 1, col));
        ClickAt(grid->viewport(), cell.center());
    }
    // The first `count` rows ticked, the others not (ticks stay from an earlier visit).
    static void TickFirst(CDeviceListPage* page, int count) {
        const int col = page->List().ColumnOf(fd::ColumnContent::Tick);
        for (int r = 1; r < page->Grid()->GetRowCount(); ++r) {
            if (page->Grid()->GetCheck(r, col) != (r <= count)) ClickCell(page->Grid(), r, col);
        }
    }
    // The page's or dialog's button with this caption (a language key).
    static QAbstractButton* Button(QWidget* in, const char* key) {
        for (QAbstractButton* b : in->findChildren<QAbstractButton*>())
            if (b->text() == fd::Tr(key) && b->isVisible()) return b;
        ADD_FAILURE() << "no button " << key;
        return nullptr;
    }
    static void Press(QWidget* in, const char* key) {
        if (QAbstractButton* b = Button(in, key)) Click(b);
    }
    // Apply plan with the plan the file dialog would give (that dialog has its own case): three
    // of the stored devices, one renamed, one unchanged, one with a channel none offers.
    void ApplyDemoPlan(CApplicationDlg& w) {
        auto* page = dynamic_cast<CManagementDlg*>(Show(w, fd::kPageManagement));
        ASSERT_NE(page, nullptr);
        std::vector<std::string> macs;
        m_store->QueryApMacList(macs);
        ASSERT_GE(macs.size(), 3u);
        const QString path = m_planDir.filePath(QStringLiteral("site.csv"));
        QFile plan(path);
        ASSERT_TRUE(plan.open(QIODevice::WriteOnly | QIODevice::Truncate));
        plan.write(("mac,name,channel\n" + macs[0] + ",north-mast,\n" + macs[1] + ",,\n" +
                    macs[2] + ",,999\n")
                       .c_str());
        plan.close();
        page->ApplyPlanFrom(path);
    }
    void OpenFromStatus(CApplicationDlg& w, const char* button, int ticked) {
        CDeviceListPage* page = Show(w, fd::kPageStatus);
        ASSERT_NE(page, nullptr);
        TickFirst(page, ticked);
        Press(page, button);
    }
    void OpenFrom(CApplicationDlg& w, int pageId, const char* button) {
        CDeviceListPage* page = Show(w, pageId);
        ASSERT_NE(page, nullptr);
        TickFirst(page, 1);
        Press(page, button);
    }
    void OpenOperate(CApplicationDlg& w, int pageId) {
        CDeviceListPage* page = Show(w, pageId);
        ASSERT_NE(page, nullptr);
        ClickCell(page->Grid(), 1, page->List().ColumnOf(fd::ColumnContent::Operate));
    }
    // The wizard at a step: the device's scan hears these access points, one is ticked,
    // Next as often as asked.
    void WizardTo(QDialog& d, int step, int secureMode = 0) {
        auto& w = dynamic_cast<CBridgeConfigDlg&>(d);
        config_otherwl_basic ap{};
        const uint8_t mac[6] = {0x02, 0xaa, 0, 0, 0, 1};
        std::memcpy(ap.mac, mac, 6);
        ap.signal = -55;
        ap.channel = 149;
        ap.secure_mode = static_cast<uint8_t>(secureMode);
        fd::SetFieldText(ap.ssid, sizeof ap.ssid, ap.ssid_len, "mast-north");
        ASSERT_TRUE(m_store->SaveOtherApList(fd::ScanResult{1, 0, 1, {ap}}));
        // No engine to ask: the step's next second lists what the store has.
        w.ScanStep()->OnScanTick();
        ASSERT_EQ(w.ScanStep()->Grid()->GetRowCount(), 2) << m_where;
        ClickCell(w.ScanStep()->Grid(), 1, fd::kScanTickColumn);
        ASSERT_TRUE(w.NextButton()->isEnabled()) << m_where << ": the tick did not take";
        for (int s = 0; s < step; ++s) Click(w.NextButton());
        ASSERT_EQ(w.Step(), step) << m_where;
        // The key a WEP access point needs is entered later; its fields are on view now.
        QCoreApplication::processEvents();
    }

    // ---- the check ----
    void SetUp() override {
        m_store = m_demo.Get();
        ASSERT_NE(m_store, nullptr) << "cannot fill a demonstration store";
        // No engine, as in a screenshot: nothing is sent.
        fd::InstallServices(
            {nullptr, m_store, [] { return std::vector<LocalAdapterInfo>{}; }, {}});
        fd::SetPageDialogRunner([this](QDialog& d) { return OnDialog(d); });
        fd::InitLanguage(fdtest::BinDir().toStdString() + "/");
    }
    void TearDown() override {
        fd::SetPageDialogRunner({});
        fd::InstallServices({});
        fd::SetLanguage("English");
        fd::SetSkinBaseDir(fdtest::BinDir() + '/', false);
    }

    // The language's texts, skin and Qt's own texts, then a main window in the area.
    std::unique_ptr<CApplicationDlg> Window(const Layout& layout) {
        const bool chinese = std::string(layout.language) == "Chinese";
        fd::SetLanguage(layout.language);
        fd::SetSkinBaseDir(fdtest::BinDir() + '/', chinese);
        m_qtTexts = std::make_unique<QObject>();
        if (chinese) fd::InstallQtTranslations(QLocale(QLocale::Chinese, QLocale::China), m_qtTexts.get());
        auto w = std::make_unique<CApplicationDlg>();
        w->Host()->RefreshTimer().stop();
        w->PlaceOnScreen(layout.screen);
        w->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(w.get()));
        return w;
    }

    // Opens the case's dialog once, checks it when asked, and tries to leave it by the
    // exit candidate `attempt`. Whether that click left it.
    bool OpenAndTry(CApplicationDlg& w, const DialogCase& c, const std::string& where,
                    bool check, std::size_t attempt, std::string& tried) {
        m_case = &c;
        m_where = where;
        m_check = check;
        m_attempt = attempt;
        m_reached = false;
        m_left = false;
        m_tried.clear();
        c.open(*this, w);
        m_case = nullptr;
        EXPECT_TRUE(m_reached) << where << ": the dialog did not open";
        tried = m_tried;
        return m_left;
    }

    // With FD_SCREENSHOT_DIR set, each dialog as checked goes there as a PNG file.
    void SaveShot(QDialog& d) const {
        const QString dir = QString::fromLocal8Bit(qgetenv("FD_SCREENSHOT_DIR"));
        if (dir.isEmpty()) return;
        QString name = QString::fromStdString(m_where).replace(QRegularExpression("[^A-Za-z0-9]+"), "-");
        QDir().mkpath(dir);
        d.grab().save(dir + '/' + name + ".png");
    }

    int OnDialog(QDialog& d) {
        d.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&d)) << m_where;
        if (m_case == nullptr || m_reached) {
            // Opened by a click inside the checked dialog (a message after a Save with
            // empty fields): out of the way.
            d.reject();
            return d.result();
        }
        if (!m_case->is(d)) {
            if (m_case->onTheWay) {
                m_case->onTheWay(*this, d);
            } else {
                const auto* box = qobject_cast<QMessageBox*>(&d);
                ADD_FAILURE() << m_where << ": instead " << Describe(&d) << " opened"
                              << (box ? ": " + box->text().toStdString() : std::string());
            }
            if (d.isVisible()) d.reject();
            return d.result();
        }
        m_reached = true;
        if (m_case->prepare) m_case->prepare(*this, d);
        if (m_check) {
            SaveShot(d);
            ExpectReachable(&d, m_where);
            EXPECT_TRUE(m_screen.contains(QRect(QPoint(), d.frameGeometry().size())))
                << m_where << ": larger than the screen";
        }
        const std::vector<QAbstractButton*> exits = ExitCandidates(d);
        if (m_attempt < exits.size()) {
            QAbstractButton* b = exits[m_attempt];
            m_tried = Describe(b);
            Click(b);
            QCoreApplication::processEvents();
            // Left, and not by saving (a message box has nothing to save).
            m_left = !d.isVisible() &&
                     (qobject_cast<QMessageBox*>(&d) != nullptr || d.result() == QDialog::Rejected);
        }
        if (d.isVisible()) d.reject();
        return d.result();
    }

    fd::DemoStore m_demo{40};
    QTemporaryDir m_planDir;
    CSqlManagement* m_store = nullptr;
    std::unique_ptr<QObject> m_qtTexts;
    QRect m_screen;
    const DialogCase* m_case = nullptr;
    std::string m_where, m_tried;
    bool m_check = false, m_reached = false, m_left = false;
    std::size_t m_attempt = 0;
};

template <typename T>
std::function<bool(QDialog&)> Is() {
    return [](QDialog& d) { return dynamic_cast<T*>(&d) != nullptr; };
}

void ClickMessageButton(ReachabilityTest&, QDialog& d, QMessageBox::StandardButton which) {
    if (auto* box = qobject_cast<QMessageBox*>(&d); box && box->button(which))
        Click(box->button(which));
}

// Every dialog the program opens. One line per dialog (or per view of one).
const std::vector<DialogCase>& Dialogs() {
    using T = ReachabilityTest;
    using W = CApplicationDlg;
    static const std::vector<DialogCase> cases = {
        {"Set IP", [](T& t, W& w) { t.OpenFromStatus(w, "Set IP", 3); }, Is<CIpsetMutilDlg>()},
        {"Set Bridge", [](T& t, W& w) { t.OpenFromStatus(w, "Set Bridge", 99); },
         Is<CBridgeSetMultiDlg>()},
        {"AirSlot", [](T& t, W& w) { t.OpenFromStatus(w, "AirSlot", 99); },
         Is<CAirSlotSetMultiDlg>()},
        {"message: no device ticked", [](T& t, W& w) { t.OpenFromStatus(w, "Set IP", 0); },
         Is<QMessageBox>()},
        {"message: Set IP refused", [](T& t, W& w) { t.OpenFromStatus(w, "Set IP", 3); },
         Is<QMessageBox>(), [](T&, QDialog& d) { Click(T::Button(&d, "Save")); }},
        {"configuration: wireless", [](T& t, W& w) { t.OpenOperate(w, fd::kPageManagement); },
         Is<CManagementConfigDlg>()},
        {"configuration: addresses", [](T& t, W& w) { t.OpenOperate(w, fd::kPageManagement); },
         Is<CManagementConfigDlg>(), {},
         [](T&, QDialog& d) { Click(dynamic_cast<CManagementConfigDlg&>(d).TabButton(1)); }},
        {"configuration: VLAN", [](T& t, W& w) { t.OpenOperate(w, fd::kPageManagement); },
         Is<CManagementConfigDlg>(), {},
         [](T&, QDialog& d) { Click(dynamic_cast<CManagementConfigDlg&>(d).TabButton(2)); }},
        {"configuration: timed reboot",
         [](T& t, W& w) { t.OpenOperate(w, fd::kPageManagement); }, Is<CManagementConfigDlg>(),
         {}, [](T&, QDialog& d) { Click(dynamic_cast<CManagementConfigDlg&>(d).TabButton(3)); }},
        {"bridge wizard: scan", [](T& t, W& w) { t.OpenOperate(w, fd::kPageBridge); },
         Is<CBridgeConfigDlg>(), {}, [](T& t, QDialog& d) { t.WizardTo(d, 0); }},
        {"bridge wizard: security", [](T& t, W& w) { t.OpenOperate(w, fd::kPageBridge); },
         Is<CBridgeConfigDlg>(), {}, [](T& t, QDialog& d) { t.WizardTo(d, 1); }},
        {"bridge wizard: WEP security", [](T& t, W& w) { t.OpenOperate(w, fd::kPageBridge); },
         Is<CBridgeConfigDlg>(), {}, [](T& t, QDialog& d) { t.WizardTo(d, 1, 1); }},
        {"bridge wizard: addresses", [](T& t, W& w) { t.OpenOperate(w, fd::kPageBridge); },
         Is<CBridgeConfigDlg>(), {}, [](T& t, QDialog& d) { t.WizardTo(d, 2); }},
        {"bridge wizard: finish", [](T& t, W& w) { t.OpenOperate(w, fd::kPageBridge); },
         Is<CBridgeConfigDlg>(), {}, [](T& t, QDialog& d) { t.WizardTo(d, 3); }},
        {"reboot: confirmation", [](T& t, W& w) { t.OpenFrom(w, fd::kPageReboot, "Reboot"); },
         Is<QMessageBox>()},
        {"reboot: wait", [](T& t, W& w) { t.OpenFrom(w, fd::kPageReboot, "Reboot"); },
         Is<CWaitDlg>(), [](T& t, QDialog& d) { ClickMessageButton(t, d, QMessageBox::Ok); }},
        {"restore: wait", [](T& t, W& w) { t.OpenFrom(w, fd::kPageRestore, "Restore"); },
         Is<CWaitDlg>(), [](T& t, QDialog& d) { ClickMessageButton(t, d, QMessageBox::Ok); }},
        {"export", [](T& t, W& w) { t.Press(t.Show(w, fd::kPageStatus), "Export..."); },
         Is<QFileDialog>()},
        {"export plan",
         [](T& t, W& w) { t.Press(t.Show(w, fd::kPageManagement), "Export plan..."); },
         Is<QFileDialog>()},
        {"apply plan: choose the plan",
         [](T& t, W& w) { t.Press(t.Show(w, fd::kPageManagement), "Apply plan..."); },
         Is<QFileDialog>()},
        {"apply plan: preview", [](T& t, W& w) { t.ApplyDemoPlan(w); }, Is<CPlanApplyDlg>()},
        {"upgrade", [](T& t, W& w) { t.OpenFrom(w, fd::kPageUpgrade, "Upgrade"); },
         Is<CUpgradeConfigDlg>()},
        {"upgrade: no image chosen",
         [](T& t, W& w) { t.OpenFrom(w, fd::kPageUpgrade, "Upgrade"); }, Is<QMessageBox>(),
         [](T&, QDialog& d) { Click(dynamic_cast<CUpgradeConfigDlg&>(d).UpgradeButton()); }},
        {"upgrade: choose the image",
         [](T& t, W& w) { t.OpenFrom(w, fd::kPageUpgrade, "Upgrade"); }, Is<QFileDialog>(),
         [](T&, QDialog& d) { Click(dynamic_cast<CUpgradeConfigDlg&>(d).ScanButton()); }},
    };
    return cases;
}

TEST_F(ReachabilityTest, EveryPageAndEveryDialogCanBeReachedAndLeft) {
    QElapsedTimer took;
    took.start();
    std::vector<std::string> names;
    for (const DialogCase& c : Dialogs()) names.push_back(c.name);
    for (const Layout& layout : kLayouts) {
        const std::string at = std::string(layout.language) + " in " +
                               std::to_string(layout.screen.width()) + "x" +
                               std::to_string(layout.screen.height());
        m_screen = layout.screen;
        auto w = Window(layout);
        // Every page, with the navigation and the window's own buttons around it.
        for (const CMenuDlg::Entry& e : CMenuDlg::Entries()) {
            ASSERT_TRUE(w->Host()->HasPage(e.pageId)) << e.key;
            Show(*w, e.pageId);
            ExpectReachable(w.get(), at + ", page " + e.key);
        }
        // Every dialog: checked on the first opening, then opened again for each way out
        // tried until one leaves it.
        for (const DialogCase& c : Dialogs()) {
            const std::string where = at + ", " + c.name;
            std::vector<std::string> tried;
            bool left = false;
            for (std::size_t attempt = 0; attempt < 12 && !left; ++attempt) {
                std::string button;
                left = OpenAndTry(*w, c, where, attempt == 0, attempt, button);
                if (button.empty()) break;  // no further visible button
                tried.push_back(button);
            }
            EXPECT_TRUE(left) << where << ": no visible control leaves it; tried "
                              << ::testing::PrintToString(tried);
        }
        EXPECT_TRUE(w->isVisible()) << at;  // no click on the way ended the program
    }
    std::string list;
    for (const std::string& n : names) list += "\n  " + n;
    std::printf("dialogs checked (%zu):%s\nin %lld ms\n", names.size(), list.c_str(),
                static_cast<long long>(took.elapsed()));
}

}  // namespace
