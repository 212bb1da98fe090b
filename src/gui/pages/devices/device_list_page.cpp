#include "pages/devices/device_list_page.h"

#include <QComboBox>
#include <QKeySequence>
#include <QLabel>
#include <QShortcut>
#include <set>
#include <string>

#include "app/app_context.h"
#include "app/application_dlg.h"
#include "app/child_dlg.h"
#include "app/skin.h"
#include "app/translate.h"
#include "controls/grid_ctrl.h"
#include "controls/t_button_picture.h"
#include "controls/t_edit.h"
#include "controls/t_picture.h"
#include "controls/t_static.h"
#include "engine/device_protocol.h"
#include "pages/devices/page_messages.h"
#include "presentation/search_note.h"

CDeviceListPage::CDeviceListPage(int pageId, std::span<const fd::DeviceColumn> columns,
                                 QWidget* parent)
    : CChildPage(pageId, parent),
      m_store(fd::Services().store),
      m_hasEngine(fd::Services().engine != nullptr),
      m_engine(&fd::EngineOrSilent()),
      m_search(*m_engine),
      m_searchButton(new CTButtonPicture(this)),
      m_animation(new CTPicture(this)),
      m_filter(new CTEdit(this)),
      m_filterMark(new CTPicture(this)),
      m_filterLine(new QLabel(this)),
      m_refresh(new CTButtonPicture(this)),
      m_grid(new CGridCtrl(this)),
      m_pageSizeLabel(new CTStatic(QStringLiteral("Each page number"), this)),
      m_pageSize(new QComboBox(this)),
      m_pager(new CTMultiPages(this)),
      m_count(new CTStatic(this)) {
    const fd::GuiSkin& skin = fd::Skin();
    m_list = std::make_unique<fd::DeviceListModel>(StoreOrEmpty(), columns,
                                                   fd::Services().commands);
    resize(kDesignWidth, kDesignHeight);

    // Top strip: Search with its animation on the left, the filter box and refresh on the
    // right.
    m_searchButton->SetImage(skin.Image(QStringLiteral("btn_search.bmp")));
    m_searchButton->SetFontSpec(skin.fontName, skin.buttonFontHeight, skin.buttonFontWeight);
    m_searchButton->SetTextColors(skin.buttonFontColor, QColor(255, 255, 255),
                                  QColor(153, 153, 153));
    m_searchButton->SetAlign(256, 26);  // text right of the image's icon
    m_searchButton->setText(QStringLiteral("Search"));
    Anchor(m_searchButton, QRect(20, 10, 100, 30), false, false);
    m_searchButton->setToolTip(QStringLiteral("F5"));
    connect(m_searchButton, &QAbstractButton::clicked, this, &CDeviceListPage::OnSearchButton);

    m_animation->SetBkColor(skin.childBkColor);
    m_animation->Load(skin.Image(QStringLiteral("wait_search.gif")));
    Anchor(m_animation, QRect(128, 9, 32, 32), false, false);
    m_animation->hide();

    Anchor(m_filter, QRect(810, 12, 200, 26), true, false);
    m_filter->setPlaceholderText(fd::Tr("Filter (Ctrl+F)"));
    m_filter->setTextMargins(20, 0, 0, 0);  // room for the pencil
    fd::MarkUntranslated(m_filter);
    m_filterMark->SetBkColor(QColor(255, 255, 255));
    m_filterMark->Load(skin.Image(QStringLiteral("write.bmp")));
    m_filterMark->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_filterMark->Draw();
    Anchor(m_filterMark, QRect(815, 17, 16, 16), true, false);
    m_filterLine->setPixmap(QPixmap(skin.Image(QStringLiteral("orange_line.bmp"))));
    m_filterLine->setScaledContents(true);
    Anchor(m_filterLine, QRect(812, 39, 196, 2), true, false);
    connect(m_filter, &QLineEdit::textChanged, this, &CDeviceListPage::SetFilterText);

    m_refresh->SetImages(skin.Image(QStringLiteral("btn_update_normal.bmp")),
                         skin.Image(QStringLiteral("btn_update_down.bmp")),
                         skin.Image(QStringLiteral("btn_update_down.bmp")),
                         skin.Image(QStringLiteral("btn_update_normal.bmp")));
    Anchor(m_refresh, QRect(1020, 11, 28, 28), true, false);
    connect(m_refresh, &QAbstractButton::clicked, this, &CDeviceListPage::ReloadCurrentPage);

    m_grid->setGeometry(kGridMargin, 50, kDesignWidth - 2 * kGridMargin, 560);
    BuildGrid(columns);
    m_grid->SetEditGate([this](int row, int col) { return CanEditCell(row, col); });
    connect(m_grid, &CGridCtrl::cellClicked, this, &CDeviceListPage::OnCellClicked);
    connect(m_grid, &CGridCtrl::editBegun, this, [this](int r, int c) { OnEditBegun(r, c); });
    connect(m_grid, &CGridCtrl::editEnded, this,
            [this](int r, int c, const QString& t) { OnEditEnded(r, c, t); });

    // Footer: separator, rows per page, page numbers, count; the pages add their buttons.
    SetLineColor(skin.lineColor);
    m_pageSizeLabel->ApplyStaticSkin();
    Anchor(m_pageSizeLabel, QRect(20, 634, 132, 24), false, true);
    Anchor(m_pageSize, QRect(154, 632, 60, 26), false, true);
    for (int rows : fd::kPageSizes) m_pageSize->addItem(QString::number(rows), rows);
    m_pageSize->setCurrentIndex(1);
    fd::MarkUntranslated(m_pageSize);
    connect(m_pageSize, &QComboBox::currentIndexChanged, this,
            [this](int index) { SetPageSize(m_pageSize->itemData(index).toInt()); });
    Anchor(m_pager, QRect(222, 630, 200, 30), false, true);
    m_pager->SetBkColor(skin.childBkColor);
    m_pager->setFont(skin.StaticFont());
    if (auto* host = qobject_cast<CChildDlg*>(parent)) {
        m_pager->Attach(host, pageId);
    } else {
        m_pager->Attach(this, pageId);
    }
    m_count->ApplyStaticSkin();
    Anchor(m_count, QRect(430, 634, 170, 24), false, true);
    m_count->setText(QString::fromStdString(m_list->Current().countText));

    // Keyboard access: F5 searches (or stops), Ctrl+F goes to the filter box. Window-wide,
    // because a search disables the controls that could hold the focus; only the page on
    // view takes them (hidden pages' shortcuts do not fire).
    auto* searchKey = new QShortcut(QKeySequence(Qt::Key_F5), this);
    searchKey->setContext(Qt::WindowShortcut);
    connect(searchKey, &QShortcut::activated, this, [this] {
        if (m_searchButton->isEnabled()) OnSearchButton();
    });
    auto* filterKey = new QShortcut(QKeySequence::Find, this);
    filterKey->setContext(Qt::WindowShortcut);
    connect(filterKey, &QShortcut::activated, this, [this] {
        if (m_filter->isEnabled()) {
            m_filter->setFocus(Qt::ShortcutFocusReason);
            m_filter->selectAll();
        }
    });

    m_search.SetReloadHandler([this](fd::SearchSession::Reload r) { OnSearchReload(r); });
    m_searchTimer.setInterval(1000);
    connect(&m_searchTimer, &QTimer::timeout, this, &CDeviceListPage::OnSearchTick);
    LayOut();
}

void CDeviceListPage::Anchor(QWidget* w, const QRect& designGeometry, bool rightEdge,
                             bool bottomEdge) {
    m_anchored.push_back(Anchored{w, designGeometry, rightEdge, bottomEdge});
    LayOut();
}

void CDeviceListPage::resizeEvent(QResizeEvent* e) {
    CChildPage::resizeEvent(e);
    LayOut();
}

void CDeviceListPage::LayOut() {
    const int dx = width() - kDesignWidth;
    const int dy = height() - kDesignHeight;
    for (const Anchored& a : m_anchored) {
        a.widget->setGeometry(a.design.translated(a.right ? dx : 0, a.bottom ? dy : 0));
    }
    // The grid takes the rest; the separator stays above the footer.
    m_grid->setGeometry(kGridMargin, 50, std::max(100, width() - 2 * kGridMargin),
                        std::max(80, height() - 50 - 84));
    if (m_emptyNote) {
        const QRect g = m_grid->geometry();
        m_emptyNote->setGeometry(g.x() + 40, g.y() + g.height() / 3, g.width() - 80, 80);
    }
    ClearLines();
    AddLine(20, height() - 74, width() - 20, height() - 74);
}

CDeviceListPage::~CDeviceListPage() {
    m_searchTimer.stop();
    if (m_search.IsRunning()) {
        if (auto* w = qobject_cast<CApplicationDlg*>(window())) w->SetSearchRunning(false);
    }
}

IDeviceStore& CDeviceListPage::StoreOrEmpty() const {
    return m_store != nullptr ? *m_store : fd::StoreOrEmpty();
}

void CDeviceListPage::BuildGrid(std::span<const fd::DeviceColumn> columns) {
    const int n = static_cast<int>(columns.size());
    m_grid->SetColumnCount(n);
    m_grid->SetRowCount(1);
    for (int c = 0; c < n; ++c) {
        const fd::DeviceColumn& col = columns[static_cast<size_t>(c)];
        QStringList whole;
        for (const std::string& t : fd::ColumnWholeTexts(col.content)) {
            whole << QString::fromStdString(t);
        }
        m_grid->SetColumnWholeTexts(c, whole);
        m_grid->SetColumnWidth(c, col.width);
        m_grid->SetItemText(0, c, col.header[0] != '\0' ? fd::Tr(col.header) : QString());
        if (col.content == fd::ColumnContent::Tick) {
            m_grid->SetColumnType(c, fd::GridCellType::Check);
        } else if (col.content == fd::ColumnContent::Operate) {
            m_grid->SetColumnType(c, fd::GridCellType::Image);
        } else if (col.content == fd::ColumnContent::Location) {
            m_grid->SetColumnEditable(c, true);
        }
    }
    if (m_list->ColumnOf(fd::ColumnContent::Operate) >= 0) {
        m_grid->SetImageStrip(fd::Skin().WebImage(), 50);
    }
    m_grid->SetSortIndicator(m_list->Sort().SortColumn(), false);
}

CTButtonPicture* CDeviceListPage::AddActionButton(const QString& key, const QString& image, int x) {
    const fd::GuiSkin& skin = fd::Skin();
    auto* b = new CTButtonPicture(this);
    b->SetImage(skin.Image(image));
    b->SetFontSpec(skin.fontName, skin.buttonFontHeight, skin.buttonFontWeight);
    b->SetTextColors(skin.buttonFontColor, QColor(255, 255, 255), QColor(153, 153, 153));
    b->SetAlign(256, 26);
    b->setText(key);
    // Action buttons sit in the footer's right-hand part.
    Anchor(b, QRect(x, 630, 100, 30), x >= kDesignWidth / 2, true);
    return b;
}

CTButtonPicture* CDeviceListPage::AddToolButton(const QString& key, int x, int width) {
    const fd::GuiSkin& skin = fd::Skin();
    auto* b = new CTButtonPicture(this);
    b->SetImage(skin.Image(QStringLiteral("btn_export.bmp")));
    b->SetFontSpec(skin.fontName, skin.buttonFontHeight - 2, skin.buttonFontWeight);
    b->SetTextColors(skin.buttonFontColor, QColor(255, 255, 255), QColor(153, 153, 153));
    b->SetAlign(256, 24);
    b->setText(key);
    Anchor(b, QRect(x, 12, width, 26), x >= kDesignWidth / 2, false);
    return b;
}

void CDeviceListPage::ReloadCurrentPage() {
    m_list->RefreshCurrent();
    Draw();
}

void CDeviceListPage::ReloadPage(int pageNumber) {
    m_list->Refresh(pageNumber);
    Draw();
}

void CDeviceListPage::OnPageMessage(int pageId, int pageNumber) {
    if (pageId == PageId()) ReloadPage(pageNumber);
}

void CDeviceListPage::SetPageSize(int rows) {
    if (!m_list->SetPageSize(rows)) return;
    m_list->Refresh(1);
    Draw();
}

void CDeviceListPage::SetFilterText(const QString& text) {
    m_list->SetFilter(text.toStdString());
    Draw();
}

void CDeviceListPage::Draw() {
    const fd::DeviceListPage& shown = m_list->Current();
    const fd::GuiSkin& skin = fd::Skin();
    const int rows = static_cast<int>(shown.rows.size());
    const int cols = static_cast<int>(m_list->Columns().size());
    const int tick = m_list->ColumnOf(fd::ColumnContent::Tick);
    // Ticks belong to devices, not to row positions: a refresh that sorts a new device in
    // above a ticked one must not move the tick (and the next reboot) to its neighbour.
    std::set<std::string> tickedMacs;
    for (int r = 1; r < m_grid->GetRowCount() && r <= static_cast<int>(m_shownMacs.size()); ++r) {
        if (tick >= 0 && m_grid->GetCheck(r, tick)) {
            tickedMacs.insert(m_shownMacs[static_cast<size_t>(r - 1)]);
        }
    }
    // The grid keeps what it shows; only cells whose text differs are written (and
    // repainted), surplus rows of a longer earlier list go.
    m_grid->SetRowCount(rows + 1);
    m_shownMacs.resize(static_cast<size_t>(rows));
    const int operate = m_list->ColumnOf(fd::ColumnContent::Operate);
    const int status = m_list->ColumnOf(fd::ColumnContent::Status);
    for (int r = 0; r < rows; ++r) {
        const fd::DeviceRow& row = shown.rows[static_cast<size_t>(r)];
        const int gridRow = r + 1;
        for (int c = 0; c < cols && c < static_cast<int>(row.cells.size()); ++c) {
            m_grid->SetItemText(gridRow, c,
                                QString::fromStdString(row.cells[static_cast<size_t>(c)]));
        }
        if (operate >= 0) m_grid->SetItemImage(gridRow, operate, 0);
        if (tick >= 0) m_grid->SetCheck(gridRow, tick, tickedMacs.count(row.mac) != 0);
        // Item value: 1 for a device known only from its search answer, 3 for one with a
        // change it has acknowledged but not yet reported (or is being read back), 4 for one
        // whose change the read-back found not applied or unanswered, 2 for any other.
        const bool failed = row.verification == fd::VerificationState::NotApplied ||
                            row.verification == fd::VerificationState::NoAnswer;
        const int style = row.discoveredOnly ? 1 : failed ? 4 : row.changePending ? 3 : 2;
        const bool restyle = m_grid->GetItemData(gridRow) != style;
        if (restyle) {
            const QColor colour = row.discoveredOnly   ? skin.textUnlineColor
                                  : failed            ? skin.expertTextColor
                                  : row.changePending ? skin.textDownColor
                                                      : skin.gridTitleTextColor;
            for (int c = 0; c < cols; ++c) {
                // A stored device's status stands out in the online colour.
                const bool statusCell = c == status && !row.discoveredOnly && !failed;
                m_grid->SetItemFgColour(gridRow, c, statusCell ? skin.textOnlineColor : colour);
                m_grid->SetItemBkColour(gridRow, c,
                                        failed ? QColor(255, 236, 236) : QColor());
            }
            m_grid->SetItemData(gridRow, style);
        }
        // The read-back's result (or that it runs) on every cell of the row.
        const QString tip = row.verification == fd::VerificationState::None ||
                                    row.verification == fd::VerificationState::Verified
                                ? QString()
                                : QString::fromStdString(row.verificationText);
        for (int c = 0; c < cols; ++c) m_grid->SetItemToolTip(gridRow, c, tip);
        m_shownMacs[static_cast<size_t>(r)] = row.mac;
    }
    m_grid->SetSortIndicator(shown.sortColumn, shown.ascending);
    m_pager->SetPages(shown.pageCount, shown.pagerPage);
    m_count->setText(QString::fromStdString(shown.countText));
}

std::vector<bool> CDeviceListPage::TickedRows() const {
    const int tick = m_list->ColumnOf(fd::ColumnContent::Tick);
    std::vector<bool> ticked;
    const int rows = static_cast<int>(m_list->Current().rows.size());
    ticked.reserve(static_cast<size_t>(rows));
    for (int r = 1; r <= rows; ++r) ticked.push_back(tick >= 0 && m_grid->GetCheck(r, tick));
    return ticked;
}

fd::SelectionResult CDeviceListPage::CollectSelection(fd::BulkAction action) {
    fd::SelectionResult sel =
        fd::CollectSelection(m_list->Current().rows, TickedRows(), action, m_store);
    if (!sel.ok()) fd::ShowPageWarning(this, QString::fromStdString(sel.messageKey));
    return sel;
}

int CDeviceListPage::RowOfMac(const std::string& mac) const {
    const int macCol = m_list->ColumnOf(fd::ColumnContent::Mac);
    if (macCol < 0) return -1;
    const QString want = QString::fromStdString(mac);
    for (int r = 1; r < m_grid->GetRowCount(); ++r) {
        if (m_grid->GetItemText(r, macCol) == want) return r;
    }
    return -1;
}

void CDeviceListPage::OnCellClicked(int row, int col) {
    if (row == 0) {
        if (m_list->Columns()[static_cast<size_t>(col)].content == fd::ColumnContent::Tick) {
            TickAll(m_headerTick.Click());
        } else if (m_list->HeaderClick(col)) {
            Draw();
        }
        return;
    }
    if (row >= 1 && row <= static_cast<int>(m_list->Current().rows.size())) OnRowClicked(row, col);
}

void CDeviceListPage::TickAll(bool on) {
    const int tick = m_list->ColumnOf(fd::ColumnContent::Tick);
    if (tick < 0) return;
    for (int r = 1; r < m_grid->GetRowCount(); ++r) m_grid->SetCheck(r, tick, on);
}

void CDeviceListPage::OnSearchButton() {
    if (!m_search.IsRunning()) {
        // A search starts with an empty filter; the edit is cleared without reloading, the
        // session's first reload shows page 1 unfiltered.
        {
            const QSignalBlocker block(m_filter);
            m_filter->clear();
        }
        SetSearchUi(true);
        if (m_emptyNote) m_emptyNote->hide();
        m_search.Start();
        m_searchTimer.start();
    } else {
        m_searchTimer.stop();
        SetSearchUi(false);
        m_search.Stop();
    }
}

void CDeviceListPage::OnSearchTick() {
    if (!m_search.IsRunning()) {
        m_searchTimer.stop();
        return;
    }
    // The session reloads through OnSearchReload; its last tick ends the search (and asks
    // for the current page).
    if (!m_search.Tick()) {
        m_searchTimer.stop();
        SetSearchUi(false);
        if (m_list->Current().rows.empty()) ShowEmptySearchNote();
    }
}

void CDeviceListPage::ShowEmptySearchNote() {
    if (!m_emptyNote) {
        m_emptyNote = new CTStatic(this);
        m_emptyNote->setObjectName(QStringLiteral("emptySearchNote"));
        m_emptyNote->setAlignment(Qt::AlignCenter);
        m_emptyNote->setWordWrap(true);
        LayOut();
    }
    m_emptyNote->setText(QString::fromStdString(
        fd::EmptySearchNote(m_search.Broadcasts(), fd::ReadAdapters())));
    m_emptyNote->show();
    m_emptyNote->raise();
}

void CDeviceListPage::OnSearchReload(fd::SearchSession::Reload which) {
    if (which == fd::SearchSession::Reload::FirstPage) {
        m_list->SetFilter(m_filter->text().toStdString());
        Draw();
    } else {
        ReloadCurrentPage();
    }
}

void CDeviceListPage::SetSearchUi(bool searching) {
    if (searching) {
        m_animation->show();
        m_animation->Draw();
    } else {
        m_animation->Stop();
        m_animation->hide();
    }
    m_searchButton->setText(fd::Tr(searching ? "Stop" : "Search"));
    m_filter->setEnabled(!searching);
    m_grid->setEnabled(!searching);
    m_pageSize->setEnabled(!searching);
    if (auto* w = qobject_cast<CApplicationDlg*>(window())) w->SetSearchRunning(searching);
}
