// The main window and its device pages as they come out on real screens: the size the
// window takes, whether the footer can be reached, and whether the titles and the values
// that identify a device show whole, in English and in Chinese.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QScrollBar>
#include <QTest>
#include <memory>

#include "app/app_context.h"
#include "app/application_dlg.h"
#include "app/child_dlg.h"
#include "app/menu_dlg.h"
#include "app/skin.h"
#include "config/language.h"
#include "controls/grid_ctrl.h"
#include "controls/t_button_picture.h"
#include "controls/t_multi_pages.h"
#include "controls/t_static.h"
#include "gui_test_support.h"
#include "pages/devices/demo_devices.h"
#include "pages/devices/device_list_page.h"
#include "store/sql_management.h"

namespace {

const int kListPages[] = {fd::kPageStatus, fd::kPageManagement, fd::kPageBridge,
                          fd::kPageReboot, fd::kPageUpgrade,    fd::kPageRestore};

class WindowLayoutTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_store = m_demo.Get();
        ASSERT_NE(m_store, nullptr) << "cannot fill a demonstration store";
        fd::InstallServices(
            {nullptr, m_store, [] { return std::vector<LocalAdapterInfo>{}; }, {}});
    }
    void TearDown() override {
        fd::InstallServices({});
        fd::SetLanguage("English");
    }

    // A window placed in the given screen area, shown, with pageId on view and loaded.
    std::unique_ptr<CApplicationDlg> Window(const QRect& screen) {
        auto dlg = std::make_unique<CApplicationDlg>();
        dlg->Host()->RefreshTimer().stop();
        dlg->PlaceOnScreen(screen);
        dlg->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
        return dlg;
    }
    static CDeviceListPage* Show(CApplicationDlg& dlg, int pageId) {
        dlg.Menu()->Navigate(pageId);
        auto* page = qobject_cast<CDeviceListPage*>(dlg.Host()->Page(pageId));
        if (page == nullptr) return nullptr;
        page->ReloadCurrentPage();
        QCoreApplication::processEvents();
        return page;
    }
    // The title of every column fits its header cell, and every cell of a column whose
    // values must show whole is wide enough for its text.
    static void ExpectNothingCut(CDeviceListPage& page, const char* what) {
        CGridCtrl* grid = page.Grid();
        fd::GridHeader* h = grid->Header();
        const QFontMetrics head(grid->Model()->HeaderFont());
        const QFontMetrics cell(grid->Model()->DefaultFont());
        const auto& columns = page.List().Columns();
        ASSERT_GT(grid->GetRowCount(), 30) << what;
        for (int c = 0; c < grid->GetColumnCount(); ++c) {
            const QRect section(h->sectionViewportPosition(c), 0, grid->columnWidth(c),
                                h->height());
            const QRect room = h->TitleRect(section);
            const QString title = grid->GetItemText(0, c);
            const QRect need = head.boundingRect(room, Qt::AlignCenter | Qt::TextWordWrap, title);
            EXPECT_LE(need.width(), room.width()) << what << " title " << title.toStdString();
            EXPECT_LE(need.height(), room.height()) << what << " title " << title.toStdString();
            if (fd::ColumnWholeTexts(columns[static_cast<size_t>(c)].content).empty()) continue;
            for (int r = 1; r < grid->GetRowCount(); ++r) {
                const QString text = grid->GetItemText(r, c);
                const int width = grid->visualRect(grid->Model()->index(r - 1, c)).width();
                // The delegate keeps three pixels each side of the text.
                EXPECT_LE(cell.horizontalAdvance(text), width - 6)
                    << what << " " << title.toStdString() << ": " << text.toStdString();
            }
        }
        // Every column is on view: no scrolling sideways.
        EXPECT_EQ(grid->horizontalScrollBar()->maximum(), 0) << what;
    }

    fd::DemoStore m_demo{40};
    CSqlManagement* m_store = nullptr;
};

TEST_F(WindowLayoutTest, AtTheDefaultSizeEveryTitleMacAndModelShowsWhole) {
    for (const char* language : {"English", "Chinese"}) {
        fd::InitLanguage(fdtest::BinDir().toStdString() + "/");
        fd::SetLanguage(language);
        auto dlg = Window(QRect(0, 0, 1920, 1080));
        EXPECT_EQ(dlg->size(), QSize(CApplicationDlg::kWidth, CApplicationDlg::kHeight));
        for (int id : kListPages) {
            CDeviceListPage* page = Show(*dlg, id);
            ASSERT_NE(page, nullptr) << id;
            ExpectNothingCut(*page, language);
        }
    }
}

TEST_F(WindowLayoutTest, OnA1366x768LaptopEveryFooterControlIsInsideTheWindow) {
    // 768 lines less a 40-line panel.
    const QRect laptop(0, 0, 1366, 728);
    auto dlg = Window(laptop);
    EXPECT_TRUE(laptop.contains(dlg->frameGeometry())) << dlg->height();
    EXPECT_EQ(dlg->height(), 728);
    for (int id : kListPages) {
        CDeviceListPage* page = Show(*dlg, id);
        ASSERT_NE(page, nullptr) << id;
        const QRect grid(page->Grid()->mapTo(dlg.get(), QPoint()), page->Grid()->size());
        std::vector<QWidget*> footer = {page->Pager(), page->CountLabel(),
                                        static_cast<QWidget*>(page->PageSizeCombo())};
        for (CTButtonPicture* b : page->findChildren<CTButtonPicture*>()) footer.push_back(b);
        for (QWidget* w : footer) {
            if (!w->isVisible()) continue;
            const QRect r(w->mapTo(dlg.get(), QPoint()), w->size());
            EXPECT_TRUE(dlg->rect().contains(r))
                << id << " " << w->metaObject()->className() << " " << r.y();
            // Nothing is drawn over by the list.
            if (r.top() > grid.top()) {
                EXPECT_GT(r.top(), grid.bottom()) << id;
            }
        }
        ExpectNothingCut(*page, "laptop");
    }
    // Below the minimum the window keeps its minimum and its top-left corner on the screen,
    // where the caption buttons and the navigation are.
    const QRect tiny = CApplicationDlg::FitToScreen(QRect(0, 24, 1024, 576));
    EXPECT_EQ(tiny.size(), QSize(CApplicationDlg::kMinWidth, CApplicationDlg::kMinHeight));
    EXPECT_EQ(tiny.topLeft(), QPoint(0, 24));
}

TEST_F(WindowLayoutTest, PagesFollowTheWindowWhenTheUserResizesIt) {
    auto dlg = Window(QRect(0, 0, 1920, 1080));
    CDeviceListPage* page = Show(*dlg, fd::kPageStatus);
    ASSERT_NE(page, nullptr);
    const int gridBefore = page->Grid()->width();
    dlg->resize(1600, 900);
    QCoreApplication::processEvents();
    EXPECT_EQ(page->Grid()->width(), gridBefore + 340);
    CGridCtrl* grid = page->Grid();
    int sum = 0;
    for (int c = 0; c < grid->GetColumnCount(); ++c) sum += grid->columnWidth(c);
    EXPECT_EQ(sum, grid->viewport()->width());  // the columns fill the wider list
    // The caption buttons and the footer's right-hand buttons moved with the edge.
    EXPECT_EQ(dlg->CloseButton()->geometry().right(), 1600 - 8 - 3);
    const auto buttons = page->findChildren<CTButtonPicture*>();
    int rightmost = 0;
    for (CTButtonPicture* b : buttons) rightmost = std::max(rightmost, b->geometry().right());
    EXPECT_GT(rightmost, page->width() - 40);
    EXPECT_GE(dlg->minimumWidth(), CApplicationDlg::kMinWidth);
}

TEST_F(WindowLayoutTest, OnlineStatusIsDrawnInTheOnlineColour) {
    auto dlg = Window(QRect(0, 0, 1920, 1080));
    CDeviceListPage* page = Show(*dlg, fd::kPageReboot);
    ASSERT_NE(page, nullptr);
    CGridCtrl* grid = page->Grid();
    const int status = page->List().ColumnOf(fd::ColumnContent::Status);
    ASSERT_GE(status, 0);
    ASSERT_EQ(grid->GetItemText(1, status), "Online");
    auto cellImage = [&](int col) {
        return grid->viewport()->grab(grid->visualRect(grid->Model()->index(0, col))).toImage();
    };
    auto has = [](const QImage& img, const QColor& c) {
        for (int y = 0; y < img.height(); ++y) {
            for (int x = 0; x < img.width(); ++x) {
                if ((img.pixel(x, y) & 0xffffffu) == (c.rgb() & 0xffffffu)) return true;
            }
        }
        return false;
    };
    const fd::GuiSkin& skin = fd::Skin();
    EXPECT_TRUE(has(cellImage(status), skin.textOnlineColor));
    EXPECT_FALSE(has(cellImage(status), skin.gridTitleTextColor));
    const int ip = page->List().ColumnOf(fd::ColumnContent::Ip);
    EXPECT_TRUE(has(cellImage(ip), skin.gridTitleTextColor));
    EXPECT_FALSE(has(cellImage(ip), skin.textOnlineColor));
}

}  // namespace
