#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QUrl>

#include "app/app_context.h"
#include "app/application_dlg.h"
#include "app/child_dlg.h"
#include "app/menu_dlg.h"
#include "app/translate.h"
#include "config/language.h"
#include "controls/t_button_picture.h"
#include "gui_test_support.h"

namespace {

// A page that counts the reloads the host asks of it.
class CountingPage : public CChildPage {
public:
    using CChildPage::CChildPage;
    void ReloadCurrentPage() override { ++reloads; }
    void ReloadPage(int n) override { pages.push_back(n); }
    int reloads = 0;
    std::vector<int> pages;
};

const int kAllPages[] = {133, 134, 135, 136, 137, 138, 139, 155};

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        fd::InstallServices({nullptr, nullptr, [] { return std::vector<LocalAdapterInfo>{}; }, {}});
    }
    void TearDown() override { fd::InstallServices({}); }
};

TEST_F(MainWindowTest, OnlyBuiltPagesCanBeChosen) {
    CApplicationDlg dlg;
    CChildDlg* host = dlg.Host();
    // Built here: the install help and the System tool pages.
    EXPECT_TRUE(host->HasPage(139));
    EXPECT_TRUE(host->HasPage(155));
    for (int id : kAllPages) {
        CTButtonPicture* b = dlg.Menu()->ButtonForPage(id);
        ASSERT_NE(b, nullptr) << id;
        EXPECT_EQ(b->isEnabled(), host->HasPage(id)) << id;
    }
    // Without the status page the first existing page is shown.
    if (!host->HasPage(133)) {
        EXPECT_EQ(host->CurrentPageId(), 139);
        EXPECT_TRUE(dlg.Menu()->ButtonForPage(139)->IsSelected());
    }
    // Showing a page that does not exist changes nothing.
    const int before = host->CurrentPageId();
    host->ShowPage(999);
    EXPECT_EQ(host->CurrentPageId(), before);
}

TEST_F(MainWindowTest, NavigationLeavesExactlyOnePageVisible) {
    CApplicationDlg dlg;
    CChildDlg* host = dlg.Host();
    for (int id : kAllPages) {
        if (!host->HasPage(id)) host->AddPage(new CountingPage(id, host));
    }
    dlg.Menu()->Init();
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    for (int from : kAllPages) {
        for (int to : kAllPages) {
            dlg.Menu()->Navigate(from);
            dlg.Menu()->Navigate(to);
            int visible = 0;
            for (int id : kAllPages) visible += host->Page(id)->isVisible() ? 1 : 0;
            ASSERT_EQ(visible, 1) << from << " -> " << to;
            ASSERT_TRUE(host->Page(to)->isVisible());
            ASSERT_EQ(host->CurrentPageId(), to);
            int selected = 0;
            for (int i = 0; i < CMenuDlg::kButtons; ++i) {
                selected += dlg.Menu()->Button(i)->IsSelected() ? 1 : 0;
            }
            ASSERT_EQ(selected, 1);
            ASSERT_TRUE(dlg.Menu()->ButtonForPage(to)->IsSelected());
        }
    }
    // Clicking a strip button navigates too.
    QTest::mouseClick(dlg.Menu()->ButtonForPage(136), Qt::LeftButton);
    EXPECT_EQ(host->CurrentPageId(), 136);
}

TEST_F(MainWindowTest, HostRefreshesTheShownPageOnceAndAutoRefreshSkipsActionPages) {
    CChildDlg host;
    host.resize(400, 300);
    std::map<int, CountingPage*> pages;
    for (int id : kAllPages) {
        pages[id] = new CountingPage(id, &host);
        host.AddPage(pages[id]);
    }
    host.ShowPage(133);
    EXPECT_TRUE(host.ShowTimer().isActive());
    EXPECT_EQ(host.ShowTimer().interval(), 100);
    EXPECT_TRUE(fdtest::WaitFor([&] { return pages[133]->reloads == 1; }, 10000));
    EXPECT_FALSE(host.ShowTimer().isActive());
    QTest::qWait(150);
    EXPECT_EQ(pages[133]->reloads, 1);  // once, not every 100 ms

    host.OnRefreshTimer();
    EXPECT_EQ(pages[133]->reloads, 2);
    for (int id : {136, 137, 138}) {
        host.ShowPage(id);
        host.OnShowTimer();
        const int after = pages[id]->reloads;
        host.OnRefreshTimer();
        EXPECT_EQ(pages[id]->reloads, after) << id;  // their ticks survive
    }
    host.ShowPage(134);
    host.OnShowTimer();
    host.SetAutoRefresh(false);
    const int before = pages[134]->reloads;
    host.OnRefreshTimer();
    EXPECT_EQ(pages[134]->reloads, before);
    EXPECT_EQ(host.RefreshTimer().interval(), 30000);

    // The page-number strip's message reaches the named page.
    host.OnPageMessage(137, 4);
    EXPECT_EQ(pages[137]->pages, (std::vector<int>{4}));
}

TEST_F(MainWindowTest, MenusAndCaptionButtons) {
    CApplicationDlg dlg;
    ASSERT_NE(dlg.HelpMenu(), nullptr);
    QStringList help;
    for (QAction* a : dlg.HelpMenu()->actions()) help << a->text();
    EXPECT_EQ(help, QStringList({"Product", "Support", "Contact Us", "Help"}));
    for (QAction* a : dlg.HelpMenu()->actions()) EXPECT_FALSE(a->icon().isNull());
    QStringList tray;
    for (QAction* a : dlg.TrayMenu()->actions()) tray << a->text();
    EXPECT_EQ(tray, QStringList({"Show Utility", "Exit"}));
    for (CTButtonPicture* b : {dlg.MinButton(), dlg.CloseButton(), dlg.InfoButton()}) {
        EXPECT_FALSE(b->Image(fd::ButtonState::Normal).isNull()) << b->objectName().toStdString();
    }
    EXPECT_TRUE(dlg.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(dlg.IsDraggable());
    EXPECT_TRUE(dlg.HasBkImage());
}

// Receives the URLs the program asks the desktop to open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void Open(const QUrl& url) { urls << url; }
};

TEST_F(MainWindowTest, HelpMenuOpensTheUrlsOfTheLanguageFile) {
    fd::InitLanguage((fdtest::BinDir() + "/").toStdString());
    fd::SetLanguage("English");
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "Open");
    QDesktopServices::setUrlHandler("http", &catcher, "Open");
    CApplicationDlg dlg;
    for (QAction* a : dlg.HelpMenu()->actions()) a->trigger();
    QDesktopServices::unsetUrlHandler("https");
    QDesktopServices::unsetUrlHandler("http");
    ASSERT_EQ(catcher.urls.size(), 4);
    const char* keys[] = {"Product_url", "Support_url", "Contact_url", "Help_url"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(catcher.urls[i], QUrl(fd::Tr(keys[i]))) << keys[i];
        EXPECT_EQ(catcher.urls[i].scheme(), "https");
    }
}

TEST_F(MainWindowTest, CloseAndTrayExitEndTheWindow) {
    {
        CApplicationDlg dlg;
        dlg.show();
        QSignalSpy finished(&dlg, &QDialog::finished);
        QTest::mouseClick(dlg.CloseButton(), Qt::LeftButton);
        EXPECT_EQ(finished.count(), 1);
        EXPECT_FALSE(dlg.isVisible());
    }
    {
        CApplicationDlg dlg;
        dlg.show();
        QSignalSpy finished(&dlg, &QDialog::finished);
        dlg.TrayMenu()->actions().at(1)->trigger();
        EXPECT_EQ(finished.count(), 1);
    }
}

TEST_F(MainWindowTest, MinimiseWithoutTrayMinimisesAndNeverEndsTheWindow) {
    CApplicationDlg dlg;
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    QSignalSpy finished(&dlg, &QDialog::finished);
    QTest::mouseClick(dlg.MinButton(), Qt::LeftButton);
    if (dlg.Tray() == nullptr) {
        // No tray on this desktop: hiding would leave no way back.
        EXPECT_TRUE(dlg.isVisible());
        EXPECT_TRUE(dlg.windowState() & Qt::WindowMinimized);
    } else {
        EXPECT_FALSE(dlg.isVisible());
    }
    EXPECT_EQ(finished.count(), 0);
    dlg.TrayMenu()->actions().at(0)->trigger();  // "Show Utility"
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_FALSE(dlg.windowState() & Qt::WindowMinimized);
    EXPECT_EQ(finished.count(), 0);
}

TEST_F(MainWindowTest, DraggedByItsOwnBackgroundOnly) {
    CApplicationDlg dlg;
    dlg.move(50, 50);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    const QPoint start = dlg.pos();
    // The title band is the window's own background.
    QTest::mousePress(&dlg, Qt::LeftButton, {}, QPoint(600, 40));
    QTest::mouseMove(&dlg, QPoint(630, 60));
    QTest::mouseRelease(&dlg, Qt::LeftButton, {}, QPoint(630, 60));
    EXPECT_EQ(dlg.pos(), start + QPoint(30, 20));
    // A press on a page's empty background does not move the window.
    const QPoint before = dlg.pos();
    CChildPage* page = dlg.Host()->Page(dlg.Host()->CurrentPageId());
    ASSERT_NE(page, nullptr);
    QTest::mousePress(page, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseMove(page, QPoint(60, 40));
    QTest::mouseRelease(page, Qt::LeftButton, {}, QPoint(60, 40));
    EXPECT_EQ(dlg.pos(), before);
}

TEST_F(MainWindowTest, EscapeDoesNotCloseTheMainWindow) {
    CApplicationDlg dlg;
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    QSignalSpy finished(&dlg, &QDialog::finished);
    QTest::keyClick(&dlg, Qt::Key_Escape);
    QTest::keyClick(&dlg, Qt::Key_Return);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(finished.count(), 0);
}

}  // namespace

#include "main_window_test.moc"
