#include "controls/grid_ctrl.h"

#include <gtest/gtest.h>

#include <QHeaderView>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

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
    EXPECT_EQ(m_grid.columnWidth(2), 120);
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
    EXPECT_EQ(h->sortIndicatorSection(), 2);
    EXPECT_EQ(h->sortIndicatorOrder(), Qt::DescendingOrder);
    m_grid.SetSortIndicator(1, true);
    EXPECT_EQ(h->sortIndicatorSection(), 1);
    EXPECT_EQ(h->sortIndicatorOrder(), Qt::AscendingOrder);
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
    ASSERT_TRUE(fdtest::WaitFor([&] { return ended.count() == 1; }, 1000));
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
    ASSERT_TRUE(fdtest::WaitFor([&] { return ended.count() == 1; }, 1000));
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

}  // namespace
