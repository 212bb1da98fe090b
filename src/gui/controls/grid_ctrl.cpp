#include "controls/grid_ctrl.h"

#include <QApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>

#include "app/skin.h"

namespace fd {

GridModel::GridModel(QObject* parent) : QAbstractTableModel(parent) {}

int GridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int GridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_columns;
}

GridModel::Cell* GridModel::CellAt(int row, int col) {
    if (col < 0 || col >= m_columns || row < 0) return nullptr;
    if (row == 0) return &m_header[static_cast<size_t>(col)];
    if (row > static_cast<int>(m_rows.size())) return nullptr;
    return &m_rows[static_cast<size_t>(row - 1)][static_cast<size_t>(col)];
}

const GridModel::Cell* GridModel::CellAt(int row, int col) const {
    return const_cast<GridModel*>(this)->CellAt(row, col);
}

void GridModel::Changed(int row, int col, const QList<int>& roles) {
    if (row == 0) {
        emit headerDataChanged(Qt::Horizontal, col, col);
        return;
    }
    const QModelIndex idx = index(row - 1, col);
    emit dataChanged(idx, idx, roles);
}

QVariant GridModel::data(const QModelIndex& idx, int role) const {
    if (!idx.isValid()) return {};
    const Cell* c = CellAt(idx.row() + 1, idx.column());
    if (c == nullptr) return {};
    const GridCellType type = ColumnType(idx.column());
    switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            return type == GridCellType::Text ? QVariant(c->text) : QVariant();
        case Qt::CheckStateRole:
            if (type == GridCellType::Check) return c->checked ? Qt::Checked : Qt::Unchecked;
            return {};
        case Qt::DecorationRole:
            if (type == GridCellType::Image) {
                if (const QPixmap* pm = ImageAt(c->image)) return *pm;
            }
            return {};
        case Qt::ForegroundRole:
            return c->fg.value_or(m_defaultFg);
        case Qt::BackgroundRole:
            return c->bk ? QVariant(*c->bk) : QVariant();
        case Qt::FontRole:
            return c->font.value_or(m_defaultFont);
        case Qt::TextAlignmentRole:
            return int(Qt::AlignCenter);
        case Qt::ToolTipRole:
            return type == GridCellType::Text && !c->text.isEmpty() ? QVariant(c->text)
                                                                    : QVariant();
        default:
            return {};
    }
}

bool GridModel::setData(const QModelIndex& idx, const QVariant& value, int role) {
    if (!idx.isValid()) return false;
    const int row = idx.row() + 1;
    const int col = idx.column();
    if (role == Qt::EditRole) {
        SetText(row, col, value.toString());
        return true;
    }
    if (role == Qt::CheckStateRole && ColumnType(col) == GridCellType::Check) {
        const bool on = value.toInt() == Qt::Checked;
        if (SetChecked(row, col, on)) emit checkToggled(row, col, on);
        return true;
    }
    return false;
}

QVariant GridModel::headerData(int section, Qt::Orientation o, int role) const {
    if (o != Qt::Horizontal || section < 0 || section >= m_columns) return {};
    const Cell& c = m_header[static_cast<size_t>(section)];
    switch (role) {
        case Qt::DisplayRole:
            return c.text;
        case Qt::FontRole:
            return c.font.value_or(m_headerFont);
        case Qt::ForegroundRole:
            return c.fg.value_or(m_headerFg);
        case Qt::BackgroundRole:
            return c.bk.value_or(m_headerBk);
        case Qt::TextAlignmentRole:
            return int(Qt::AlignCenter);
        default:
            return {};
    }
}

Qt::ItemFlags GridModel::flags(const QModelIndex& idx) const {
    if (!idx.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    const GridCellType type = ColumnType(idx.column());
    if (type == GridCellType::Check) f |= Qt::ItemIsUserCheckable;
    if (type == GridCellType::Text && idx.column() < static_cast<int>(m_editable.size()) &&
        m_editable[static_cast<size_t>(idx.column())]) {
        f |= Qt::ItemIsEditable;
    }
    return f;
}

void GridModel::SetColumnCount(int n) {
    n = std::max(n, 0);
    if (n == m_columns) return;
    beginResetModel();
    m_columns = n;
    m_header.resize(static_cast<size_t>(n));
    for (auto& r : m_rows) r.resize(static_cast<size_t>(n));
    m_types.resize(static_cast<size_t>(n), GridCellType::Text);
    m_editable.resize(static_cast<size_t>(n), false);
    endResetModel();
}

void GridModel::SetDataRowCount(int n) {
    n = std::max(n, 0);
    const int old = static_cast<int>(m_rows.size());
    if (n > old) {
        beginInsertRows({}, old, n - 1);
        m_rows.resize(static_cast<size_t>(n), std::vector<Cell>(static_cast<size_t>(m_columns)));
        m_rowData.resize(static_cast<size_t>(n), 0);
        endInsertRows();
    } else if (n < old) {
        beginRemoveRows({}, n, old - 1);
        m_rows.resize(static_cast<size_t>(n));
        m_rowData.resize(static_cast<size_t>(n));
        endRemoveRows();
    }
}

void GridModel::SetColumnType(int col, GridCellType type) {
    if (col < 0 || col >= m_columns) return;
    m_types[static_cast<size_t>(col)] = type;
    if (!m_rows.empty()) {
        emit dataChanged(index(0, col), index(static_cast<int>(m_rows.size()) - 1, col));
    }
}

GridCellType GridModel::ColumnType(int col) const {
    if (col < 0 || col >= static_cast<int>(m_types.size())) return GridCellType::Text;
    return m_types[static_cast<size_t>(col)];
}

void GridModel::SetColumnEditable(int col, bool on) {
    if (col >= 0 && col < m_columns) m_editable[static_cast<size_t>(col)] = on;
}

bool GridModel::SetText(int row, int col, const QString& text) {
    Cell* c = CellAt(row, col);
    // Unchanged cells are not touched, so a periodic refresh repaints only what changed.
    if (c == nullptr || c->text == text) return false;
    c->text = text;
    Changed(row, col, {Qt::DisplayRole, Qt::EditRole});
    return true;
}

QString GridModel::Text(int row, int col) const {
    const Cell* c = CellAt(row, col);
    return c != nullptr ? c->text : QString();
}

bool GridModel::SetChecked(int row, int col, bool on) {
    Cell* c = CellAt(row, col);
    if (c == nullptr || c->checked == on) return false;
    c->checked = on;
    Changed(row, col, {Qt::CheckStateRole});
    return true;
}

bool GridModel::Checked(int row, int col) const {
    const Cell* c = CellAt(row, col);
    return c != nullptr && c->checked;
}

bool GridModel::SetImage(int row, int col, int image) {
    Cell* c = CellAt(row, col);
    if (c == nullptr || c->image == image) return false;
    c->image = image;
    Changed(row, col, {Qt::DecorationRole});
    return true;
}

int GridModel::Image(int row, int col) const {
    const Cell* c = CellAt(row, col);
    return c != nullptr ? c->image : -1;
}

void GridModel::SetFg(int row, int col, const QColor& color) {
    Cell* c = CellAt(row, col);
    if (c == nullptr || c->fg == color) return;
    c->fg = color;
    Changed(row, col, {Qt::ForegroundRole});
}

void GridModel::SetBk(int row, int col, const QColor& color) {
    Cell* c = CellAt(row, col);
    if (c == nullptr || c->bk == color) return;
    c->bk = color;
    Changed(row, col, {Qt::BackgroundRole});
}

void GridModel::SetFont(int row, int col, const QFont& f) {
    Cell* c = CellAt(row, col);
    if (c == nullptr || c->font == f) return;
    c->font = f;
    Changed(row, col, {Qt::FontRole});
}

void GridModel::SetRowData(int row, qint64 value) {
    if (row >= 1 && row <= static_cast<int>(m_rowData.size())) {
        m_rowData[static_cast<size_t>(row - 1)] = value;
    }
}

qint64 GridModel::RowData(int row) const {
    if (row >= 1 && row <= static_cast<int>(m_rowData.size())) {
        return m_rowData[static_cast<size_t>(row - 1)];
    }
    return 0;
}

const QPixmap* GridModel::ImageAt(int i) const {
    if (i < 0 || i >= static_cast<int>(m_images.size())) return nullptr;
    return &m_images[static_cast<size_t>(i)];
}

void GridDelegate::paint(QPainter* p, const QStyleOptionViewItem& opt,
                         const QModelIndex& idx) const {
    const QVariant check = idx.data(Qt::CheckStateRole);
    const QVariant deco = idx.data(Qt::DecorationRole);
    if (!check.isValid() && !deco.isValid()) {
        QStyledItemDelegate::paint(p, opt, idx);
        return;
    }
    // Background (selection included) the usual way, then the tick box or picture centred.
    QStyleOptionViewItem o = opt;
    initStyleOption(&o, idx);
    o.features &= ~QStyleOptionViewItem::HasCheckIndicator;
    o.features &= ~QStyleOptionViewItem::HasDecoration;
    o.icon = QIcon();
    o.text.clear();
    const QWidget* w = opt.widget;
    QStyle* style = w != nullptr ? w->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &o, p, w);
    if (check.isValid()) {
        QStyleOptionViewItem box = opt;
        const int side = style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w);
        box.rect =
            QRect(opt.rect.center().x() - side / 2, opt.rect.center().y() - side / 2, side, side);
        box.state = (opt.state & QStyle::State_Enabled) |
                    (check.toInt() == Qt::Checked ? QStyle::State_On : QStyle::State_Off);
        style->drawPrimitive(QStyle::PE_IndicatorItemViewItemCheck, &box, p, w);
    } else {
        const QPixmap pm = deco.value<QPixmap>();
        const QPoint at(opt.rect.center().x() - pm.width() / 2 + 1,
                        opt.rect.center().y() - pm.height() / 2 + 1);
        p->drawPixmap(at, pm);
    }
}

bool GridDelegate::editorEvent(QEvent* e, QAbstractItemModel* model,
                               const QStyleOptionViewItem& opt, const QModelIndex& idx) {
    if (!(idx.flags() & Qt::ItemIsUserCheckable)) {
        return QStyledItemDelegate::editorEvent(e, model, opt, idx);
    }
    if (e->type() == QEvent::MouseButtonRelease) {
        auto* me = static_cast<QMouseEvent*>(e);
        if (me->button() != Qt::LeftButton || !opt.rect.contains(me->position().toPoint())) {
            return false;
        }
        const bool on = idx.data(Qt::CheckStateRole).toInt() == Qt::Checked;
        return model->setData(idx, on ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
    }
    if (e->type() == QEvent::MouseButtonDblClick) return true;  // no second toggle
    return false;
}

}  // namespace fd

CGridCtrl::CGridCtrl(QWidget* parent) : QTableView(parent), m_model(new fd::GridModel(this)) {
    setModel(m_model);
    setItemDelegate(new fd::GridDelegate(this));
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(24);
    verticalHeader()->setMinimumSectionSize(18);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setSortIndicatorShown(false);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setMinimumHeight(26);
    setSortingEnabled(false);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                    QAbstractItemView::EditKeyPressed);
    setWordWrap(false);
    setAlternatingRowColors(false);
    setShowGrid(true);
    setGridStyle(Qt::SolidLine);
    connect(this, &QAbstractItemView::clicked, this,
            [this](const QModelIndex& idx) { emit cellClicked(idx.row() + 1, idx.column()); });
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &CGridCtrl::OnHeaderClicked);
    connect(m_model, &fd::GridModel::checkToggled, this, &CGridCtrl::checkToggled);
    ApplyGridSkin();
}

void CGridCtrl::SetColumnCount(int n) {
    m_model->SetColumnCount(n);
}

void CGridCtrl::SetRowCount(int rows) {
    m_model->SetDataRowCount(rows - 1);
}

void CGridCtrl::SetColumnWidth(int col, int width) {
    setColumnWidth(col, width);
}

void CGridCtrl::SetImageList(std::vector<QPixmap> images) {
    m_model->SetImageList(std::move(images));
    viewport()->update();
}

void CGridCtrl::SetImageStrip(const QString& path, int imageWidth) {
    const QPixmap strip(path);
    std::vector<QPixmap> images;
    if (!strip.isNull() && imageWidth > 0) {
        for (int x = 0; x + imageWidth <= strip.width(); x += imageWidth) {
            images.push_back(strip.copy(x, 0, imageWidth, strip.height()));
        }
    }
    SetImageList(std::move(images));
}

void CGridCtrl::SetHeaderLook(const QFont& font, const QColor& text, const QColor& background) {
    m_model->SetHeaderFont(font);
    m_model->SetHeaderFg(text);
    m_model->SetHeaderBk(background);
    horizontalHeader()->setFont(font);
    horizontalHeader()->setStyleSheet(
        QStringLiteral("QHeaderView::section { background-color: %1; color: %2; border: none;"
                       " border-right: 1px solid %3; border-bottom: 1px solid %3;"
                       " padding: 2px; }")
            .arg(background.name(), text.name(), background.darker(118).name()));
}

void CGridCtrl::SetCellLook(const QFont& font, const QColor& text) {
    m_model->SetDefaultFont(font);
    m_model->SetDefaultFg(text);
    viewport()->update();
}

void CGridCtrl::ApplyGridSkin() {
    const fd::GuiSkin& s = fd::Skin();
    SetHeaderLook(s.GridTitleFont(), s.gridTextColor, s.gridTitleBkColor);
    SetCellLook(s.GridFont(), s.gridTitleTextColor);
    setStyleSheet(QStringLiteral("QTableView { gridline-color: %1; background: white;"
                                 " selection-background-color: #dbe6f3;"
                                 " selection-color: black; border: 1px solid %1; }")
                      .arg(s.lineColor.name()));
}

void CGridCtrl::SetSortIndicator(int col, bool ascending) {
    m_sortColumn = col;
    m_sortAscending = ascending;
    QHeaderView* h = horizontalHeader();
    h->setSortIndicatorShown(col >= 0);
    const QSignalBlocker block(h);
    h->setSortIndicator(col, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void CGridCtrl::OnHeaderClicked(int section) {
    // The header flips its own indicator on a click; the page decides what the sort
    // really is, so ours is put back until the page sets a new one.
    SetSortIndicator(m_sortColumn, m_sortAscending);
    emit cellClicked(0, section);
}

bool CGridCtrl::BeginEdit(int row, int col) {
    const QModelIndex idx = m_model->index(row - 1, col);
    if (!idx.isValid()) return false;
    setCurrentIndex(idx);
    return edit(idx, QAbstractItemView::AllEditTriggers, nullptr);
}

bool CGridCtrl::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    const bool opensEditor = index.isValid() && (index.flags() & Qt::ItemIsEditable) &&
                             (trigger == AllEditTriggers || (editTriggers() & trigger));
    if (!opensEditor || state() == EditingState) {
        return QTableView::edit(index, trigger, event);
    }
    if (m_gate && !m_gate(index.row() + 1, index.column())) return false;
    if (!QTableView::edit(index, trigger, event)) return false;
    m_editing = index;
    emit editBegun(index.row() + 1, index.column());
    return true;
}

void CGridCtrl::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
    QTableView::closeEditor(editor, hint);
    if (m_editing.isValid()) {
        const QModelIndex idx = m_editing;
        m_editing = QPersistentModelIndex();
        emit editEnded(idx.row() + 1, idx.column(), m_model->Text(idx.row() + 1, idx.column()));
    }
}
