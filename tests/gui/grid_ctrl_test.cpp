#include "controls/grid_ctrl.h"

#include <gtest/gtest.h>

#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <cmath>

#include "gui_test_support.h"

namespace {

class GridTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_grid.resize(600, 300);
        m_grid.SetColumnCount(4);
        m_grid.SetRowCount(4);  // header + 3 rows
        m_grid.SetColumnType(0, fd::GridCellType::Check);
        m_grid.SetColumnType(3, fd::GridCellType::Image);
        m_grid.SetColumnEditable(1, true);
        const char* headers[] = {"", "Location", "IP", "Operate"};
        for (int c = 0; c < 4; ++c) {
            m_grid.SetItemText(0, c, headers[c]);
            m_grid.SetColumnWidth(c, 120);
        }
        for (int r = 1; r <= 3; ++r) {
            m_grid.SetItemText(r, 1, QString("name%1").arg(r));
            m_grid.SetItemText(r, 2, QString("198.18.1.%1").arg(r));
            m_grid.SetItemImage(r, 3, 0);
        }
        m_grid.SetImageStrip(fdtest::SkinFile("web_other.bmp"), 50);
        m_grid.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_grid));
    }
    QPoint CellCentre(int row, int col) {
        return m_grid.visualRect(m_grid.Model()->index(row - 1, col)).center();
    }
    void ClickCell(int row, int col) {
        QTest::mouseClick(m_grid.viewport(), Qt::LeftButton, {}, CellCentre(row, col));
    }
    CGridCtrl m_grid;
};

TEST_F(GridTest, RowZeroIsTheHeader) {
    EXPECT_EQ(m_grid.GetRowCount(), 4);
    EXPECT_EQ(m_grid.Model()->rowCount(), 3);
    EXPECT_EQ(m_grid.Model()->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), "IP");
    EXPECT_EQ(m_grid.GetItemText(2, 2), "198.18.1.2");
    // Out-of-range cells are ignored, not crashes.
    EXPECT_FALSE(m_grid.SetItemText(9, 1, "x"));
    EXPECT_FALSE(m_grid.SetItemText(1, 9, "x"));
    EXPECT_EQ(m_grid.GetItemText(9, 9), "");
}

TEST_F(GridTest, SettingTheSameTextRepaintsNothing) {
    QSignalSpy changed(m_grid.Model(), &QAbstractItemModel::dataChanged);
    EXPECT_FALSE(m_grid.SetItemText(1, 2, "198.18.1.1"));
    EXPECT_EQ(changed.count(), 0);
    EXPECT_TRUE(m_grid.SetItemText(1, 2, "198.18.1.9"));
    ASSERT_EQ(changed.count(), 1);
    const QModelIndex tl = changed[0][0].value<QModelIndex>();
    const QModelIndex br = changed[0][1].value<QModelIndex>();
    EXPECT_EQ(tl, br);  // exactly the one cell
    EXPECT_EQ(tl.row(), 0);
    EXPECT_EQ(tl.column(), 2);
    // Colour and font changes are also only signalled when they change.
    m_grid.SetItemFgColour(1, 2, QColor(142, 142, 142));
    m_grid.SetItemFgColour(1, 2, QColor(142, 142, 142));
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(m_grid.Model()->index(0, 2).data(Qt::ForegroundRole).value<QColor>(),
              QColor(142, 142, 142));
}

TEST_F(GridTest, ShrinkingRemovesSurplusRowsAndTheirValues) {
    m_grid.SetItemData(3, 42);
    m_grid.SetRowCount(2);
    EXPECT_EQ(m_grid.GetRowCount(), 2);
    EXPECT_EQ(m_grid.GetItemText(3, 1), "");
    m_grid.SetRowCount(4);
    EXPECT_EQ(m_grid.GetItemData(3), 0);  // a new row starts clean
    EXPECT_EQ(m_grid.GetItemText(3, 1), "");
}

TEST_F(GridTest, ClicksReportRowAndColumnHeaderIncluded) {
    QSignalSpy clicks(&m_grid, &CGridCtrl::cellClicked);
    ClickCell(2, 2);
    ASSERT_EQ(clicks.count(), 1);
    EXPECT_EQ(clicks[0][0].toInt(), 2);
    EXPECT_EQ(clicks[0][1].toInt(), 2);

    QHeaderView* h = m_grid.horizontalHeader();
    m_grid.SetSortIndicator(2, false);
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                      QPoint(h->sectionViewportPosition(1) + 10, h->height() / 2));
    ASSERT_EQ(clicks.count(), 2);
    EXPECT_EQ(clicks[1][0].toInt(), 0);
    EXPECT_EQ(clicks[1][1].toInt(), 1);
    // The indicator stays where the page put it until the page moves it.
    EXPECT_EQ(m_grid.Header()->SortMarkColumn(), 2);
    EXPECT_FALSE(m_grid.Header()->SortMarkAscending());
    m_grid.SetSortIndicator(1, true);
    EXPECT_EQ(m_grid.Header()->SortMarkColumn(), 1);
    EXPECT_TRUE(m_grid.Header()->SortMarkAscending());
}

TEST_F(GridTest, TickBoxCellsToggleOnClick) {
    QSignalSpy toggled(&m_grid, &CGridCtrl::checkToggled);
    QSignalSpy clicks(&m_grid, &CGridCtrl::cellClicked);
    ClickCell(2, 0);
    EXPECT_TRUE(m_grid.GetCheck(2, 0));
    EXPECT_FALSE(m_grid.GetCheck(1, 0));
    ClickCell(2, 0);
    EXPECT_FALSE(m_grid.GetCheck(2, 0));
    EXPECT_EQ(toggled.count(), 2);
    EXPECT_EQ(clicks.count(), 2);
    // Set by the page (the header tick box), no click involved.
    for (int r = 1; r <= 3; ++r) m_grid.SetCheck(r, 0, true);
    EXPECT_TRUE(m_grid.GetCheck(3, 0));
    EXPECT_EQ(m_grid.Model()->index(2, 0).data(Qt::CheckStateRole).toInt(), Qt::Checked);
}

TEST_F(GridTest, ImageCellsDrawFromTheImageList) {
    const QVariant deco = m_grid.Model()->index(0, 3).data(Qt::DecorationRole);
    ASSERT_TRUE(deco.isValid());
    EXPECT_EQ(deco.value<QPixmap>().size(), QSize(50, 16));
    m_grid.SetItemImage(1, 3, 7);  // no such image: nothing drawn
    EXPECT_FALSE(m_grid.Model()->index(0, 3).data(Qt::DecorationRole).isValid());
    EXPECT_TRUE(m_grid.Model()->index(0, 3).data(Qt::DisplayRole).toString().isEmpty());
}

TEST_F(GridTest, PageDecidesPerClickWhetherACellMayBeEdited) {
    std::vector<std::pair<int, int>> asked;
    bool allow = false;
    m_grid.SetEditGate([&](int row, int col) {
        asked.emplace_back(row, col);
        return allow;
    });
    QSignalSpy begun(&m_grid, &CGridCtrl::editBegun);
    QSignalSpy ended(&m_grid, &CGridCtrl::editEnded);

    EXPECT_FALSE(m_grid.BeginEdit(2, 1));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], std::make_pair(2, 1));
    EXPECT_EQ(begun.count(), 0);
    EXPECT_EQ(m_grid.findChild<QLineEdit*>(), nullptr);

    // A column that is not editable is never even offered to the page.
    EXPECT_FALSE(m_grid.BeginEdit(2, 2));
    EXPECT_EQ(asked.size(), 1u);

    allow = true;
    ASSERT_TRUE(m_grid.BeginEdit(2, 1));
    ASSERT_EQ(begun.count(), 1);
    EXPECT_EQ(begun[0][0].toInt(), 2);
    EXPECT_EQ(begun[0][1].toInt(), 1);
    auto* editor = m_grid.findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, "roof");
    QTest::keyClick(editor, Qt::Key_Return);  // the commit is queued
    ASSERT_TRUE(fdtest::WaitFor([&] { return ended.count() == 1; }, 10000));
    EXPECT_EQ(ended[0][0].toInt(), 2);
    EXPECT_EQ(ended[0][1].toInt(), 1);
    EXPECT_EQ(ended[0][2].toString(), "roof");
    EXPECT_EQ(m_grid.GetItemText(2, 1), "roof");
}

TEST_F(GridTest, EscapeEndsEditingWithTheOldText) {
    m_grid.SetEditGate([](int, int) { return true; });
    QSignalSpy ended(&m_grid, &CGridCtrl::editEnded);
    ASSERT_TRUE(m_grid.BeginEdit(1, 1));
    auto* editor = m_grid.findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, "zzz");
    QTest::keyClick(editor, Qt::Key_Escape);
    ASSERT_TRUE(fdtest::WaitFor([&] { return ended.count() == 1; }, 10000));
    EXPECT_EQ(ended[0][2].toString(), "name1");
    EXPECT_EQ(m_grid.GetItemText(1, 1), "name1");
}

TEST_F(GridTest, PerCellFontAndRowValue) {
    QFont bold("DejaVu Sans");
    bold.setBold(true);
    m_grid.SetItemFont(1, 2, bold);
    EXPECT_TRUE(m_grid.Model()->index(0, 2).data(Qt::FontRole).value<QFont>().bold());
    EXPECT_FALSE(m_grid.Model()->index(1, 2).data(Qt::FontRole).value<QFont>().bold());
    m_grid.SetItemData(1, 1);
    m_grid.SetItemData(2, 0);
    EXPECT_EQ(m_grid.GetItemData(1), 1);
    EXPECT_EQ(m_grid.GetItemData(2), 0);
}

// Grid columns are laid out from widths chosen for another font: scaled, stretched to the
// grid, and never narrower than their titles and the values that must show whole.
TEST_F(GridTest, DesignWidthsAreScaledByTheFontAndFillTheGrid) {
    const double scale = CGridCtrl::FontScale(m_grid.Model()->DefaultFont());
    EXPECT_GT(scale, 0.6);
    EXPECT_LT(scale, 1.6);
    int sum = 0;
    for (int c = 0; c < 4; ++c) sum += m_grid.columnWidth(c);
    EXPECT_EQ(sum, m_grid.viewport()->width());
    // The text columns took the spare room; the tick-box column kept its own width.
    EXPECT_GT(m_grid.columnWidth(1), static_cast<int>(120 * scale));
    EXPECT_EQ(m_grid.columnWidth(0), static_cast<int>(std::lround(120 * scale)));
    EXPECT_EQ(m_grid.horizontalScrollBar()->maximum(), 0);
}

TEST(GridSizing, TitlesWrapAndWholeValuesStayWholeWhenTheGridIsNarrow) {
    CGridCtrl grid;
    grid.resize(260, 200);
    grid.SetColumnCount(3);
    grid.SetRowCount(2);
    const QString mac = "02:1b:2c:5d:00:27";
    grid.SetItemText(0, 0, "Transparent bridge");
    grid.SetItemText(0, 1, "MAC");
    grid.SetItemText(0, 2, "Location");
    grid.SetColumnWholeTexts(0, {"N/A", "Off"});
    grid.SetColumnWholeTexts(1, {"00:00:00:00:00:00", "dd:dd:dd:dd:dd:dd"});
    for (int c = 0; c < 3; ++c) grid.SetColumnWidth(c, 40);
    grid.SetItemText(1, 1, mac);
    grid.SetItemText(1, 2, "a rather long location name");
    grid.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));

    fd::GridHeader* h = grid.Header();
    const QFontMetrics head(grid.Model()->HeaderFont());
    auto titleFits = [&](int col) {
        const QRect section(h->sectionViewportPosition(col), 0, grid.columnWidth(col), h->height());
        const QRect room = h->TitleRect(section);
        const QRect need =
            head.boundingRect(room, Qt::AlignCenter | Qt::TextWordWrap, grid.GetItemText(0, col));
        return need.width() <= room.width() && need.height() <= room.height();
    };
    for (int c = 0; c < 3; ++c) EXPECT_TRUE(titleFits(c)) << c;
    // Too narrow for the title on one line: it wrapped and the header grew for it.
    EXPECT_LT(grid.columnWidth(0), head.horizontalAdvance("Transparent bridge"));
    EXPECT_GE(h->height(), 2 * head.height());
    // The MAC cell shows its whole text (the delegate keeps a few pixels each side).
    const QRect cell = grid.visualRect(grid.Model()->index(0, 1));
    EXPECT_GE(cell.width() - 6, QFontMetrics(grid.Model()->DefaultFont()).horizontalAdvance(mac));
    // Free text gave way first, down to its title.
    EXPECT_LT(grid.columnWidth(2), grid.columnWidth(1));

    // With room again the title goes back to one line and the columns fill the grid.
    grid.resize(900, 200);
    ASSERT_TRUE(fdtest::WaitFor([&] { return grid.viewport()->width() > 800; }, 10000));
    EXPECT_GE(grid.columnWidth(0), head.horizontalAdvance("Transparent bridge"));
    EXPECT_LT(h->height(), 2 * head.height());
    EXPECT_EQ(grid.columnWidth(0) + grid.columnWidth(1) + grid.columnWidth(2),
              grid.viewport()->width());
}

TEST_F(GridTest, HeaderTickBoxShowsWhetherAllSomeOrNoRowsAreTicked) {
    fd::GridHeader* h = m_grid.Header();
    auto drawnTick = [&] {
        const QRect section(h->sectionViewportPosition(0), 0, m_grid.columnWidth(0), h->height());
        return h->viewport()->grab(h->TickRect(section)).toImage();
    };
    EXPECT_EQ(m_grid.HeaderCheckState(0), Qt::Unchecked);
    const QImage none = drawnTick();
    for (int r = 1; r <= 3; ++r) m_grid.SetCheck(r, 0, true);
    EXPECT_EQ(m_grid.HeaderCheckState(0), Qt::Checked);
    const QImage all = drawnTick();
    m_grid.SetCheck(2, 0, false);
    EXPECT_EQ(m_grid.HeaderCheckState(0), Qt::PartiallyChecked);
    const QImage some = drawnTick();
    // Three different pictures: a box that is drawn, and drawn as the rows are.
    EXPECT_NE(all, none);
    EXPECT_NE(some, none);
    EXPECT_NE(some, all);
    // Removing the unticked row leaves only ticked ones.
    m_grid.SetItemText(2, 1, "x");
    m_grid.SetRowCount(2);
    m_grid.SetCheck(1, 0, true);
    EXPECT_EQ(m_grid.HeaderCheckState(0), Qt::Checked);
    m_grid.SetRowCount(1);
    EXPECT_EQ(m_grid.HeaderCheckState(0), Qt::Unchecked);
}

TEST_F(GridTest, SortArrowPointsUpWhenAscendingAndDownWhenDescending) {
    fd::GridHeader* h = m_grid.Header();
    // The widths of the dark pixel rows in the arrow band of a column, top to bottom.
    auto arrowRows = [&](int col) {
        const QRect band(h->sectionViewportPosition(col), 0, m_grid.columnWidth(col),
                         fd::GridHeader::kArrowSpace);
        const QImage img = h->viewport()->grab(band).toImage();
        std::vector<int> rows;
        for (int y = 0; y < img.height(); ++y) {
            int dark = 0;
            for (int x = 0; x < img.width(); ++x) dark += qGray(img.pixel(x, y)) < 110 ? 1 : 0;
            if (dark > 0) rows.push_back(dark);
        }
        return rows;
    };
    m_grid.SetSortIndicator(2, true);
    const std::vector<int> up = arrowRows(2);
    ASSERT_GE(up.size(), 3u);
    EXPECT_LT(up.front(), up.back());
    m_grid.SetSortIndicator(2, false);
    const std::vector<int> down = arrowRows(2);
    ASSERT_GE(down.size(), 3u);
    EXPECT_GT(down.front(), down.back());
    // Only the sort column carries it.
    m_grid.SetSortIndicator(1, false);
    EXPECT_TRUE(arrowRows(2).empty());
    EXPECT_FALSE(arrowRows(1).empty());
}

TEST_F(GridTest, AColumnTheUserDragsKeepsItsWidth) {
    QHeaderView* h = m_grid.horizontalHeader();
    const int before = m_grid.columnWidth(1);
    // Drag the right edge of column 1 by 40 pixels.
    const QPoint edge(h->sectionViewportPosition(1) + before - 1, h->height() / 2);
    QTest::mousePress(h->viewport(), Qt::LeftButton, {}, edge);
    QMouseEvent move(QEvent::MouseMove, edge + QPoint(40, 0),
                     h->viewport()->mapToGlobal(edge + QPoint(40, 0)), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(h->viewport(), &move);
    QTest::mouseRelease(h->viewport(), Qt::LeftButton, {}, edge + QPoint(40, 0));
    EXPECT_EQ(m_grid.columnWidth(1), before + 40);
    EXPECT_TRUE(m_grid.UserSizedColumns());
    // A later resize of the grid leaves the user's widths alone.
    m_grid.resize(800, 300);
    QCoreApplication::processEvents();
    EXPECT_EQ(m_grid.columnWidth(1), before + 40);
}

}  // namespace
