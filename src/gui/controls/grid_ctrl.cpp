#include "controls/grid_ctrl.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

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
    // The header tick box shows the state of the whole column.
    if (roles.contains(Qt::CheckStateRole)) emit headerTickChanged(col);
}

void GridModel::SetHeaderTickBox(int col, bool shown) {
    auto& cols = m_titleOnlyTickColumns;
    cols.erase(std::remove(cols.begin(), cols.end(), col), cols.end());
    if (!shown) cols.push_back(col);
    emit headerDataChanged(Qt::Horizontal, col, col);
}

Qt::CheckState GridModel::HeaderCheckState(int col) const {
    if (ColumnType(col) != GridCellType::Check || m_rows.empty()) return Qt::Unchecked;
    size_t ticked = 0;
    for (const auto& r : m_rows) {
        if (r[static_cast<size_t>(col)].checked) ++ticked;
    }
    if (ticked == 0) return Qt::Unchecked;
    return ticked == m_rows.size() ? Qt::Checked : Qt::PartiallyChecked;
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
            if (!c->tip.isEmpty()) return c->tip;
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
        case Qt::CheckStateRole:
            if (ColumnType(section) == GridCellType::Check &&
                std::find(m_titleOnlyTickColumns.begin(), m_titleOnlyTickColumns.end(),
                          section) == m_titleOnlyTickColumns.end())
                return HeaderCheckState(section);
            return {};
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

void GridModel::SetTip(int row, int col, const QString& tip) {
    Cell* c = CellAt(row, col);
    if (c == nullptr || c->tip == tip) return;
    c->tip = tip;
    Changed(row, col, {Qt::ToolTipRole});
}

void GridModel::SetFg(int row, int col, const QColor& color) {
    Cell* c = CellAt(row, col);
    if (c == nullptr || c->fg == color) return;
    c->fg = color;
    Changed(row, col, {Qt::ForegroundRole});
}

void GridModel::SetBk(int row, int col, const QColor& color) {
    Cell* c = CellAt(row, col);
    // An invalid colour takes the cell's own background away again.
    const std::optional<QColor> bk = color.isValid() ? std::optional<QColor>(color) : std::nullopt;
    if (c == nullptr || c->bk == bk) return;
    c->bk = bk;
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

GridHeader::GridHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {}

void GridHeader::SetSortMark(int col, bool ascending) {
    if (col == m_sortColumn && ascending == m_ascending) return;
    m_sortColumn = col;
    m_ascending = ascending;
    viewport()->update();
}

QRect GridHeader::TitleRect(const QRect& section) const {
    // The sort arrow sits above the title, so titles need no room beside it.
    return section.adjusted(kTextMargin, kArrowSpace / 2, -kTextMargin, -2);
}

QRect GridHeader::TickRect(const QRect& section) const {
    const int side = style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this);
    return QRect(section.center().x() - side / 2, section.center().y() - side / 2, side, side);
}

void GridHeader::paintSection(QPainter* p, const QRect& rect, int logicalIndex) const {
    if (!rect.isValid() || model() == nullptr) return;
    const QAbstractItemModel* m = model();
    const auto bk = m->headerData(logicalIndex, Qt::Horizontal, Qt::BackgroundRole);
    const QColor background = bk.canConvert<QColor>() ? bk.value<QColor>() : QColor(221, 217, 196);
    p->save();
    p->fillRect(rect, background);
    p->setPen(background.darker(118));
    p->drawLine(rect.topRight(), rect.bottomRight());
    p->drawLine(rect.bottomLeft(), rect.bottomRight());
    const auto fg = m->headerData(logicalIndex, Qt::Horizontal, Qt::ForegroundRole);
    const QColor text = fg.canConvert<QColor>() ? fg.value<QColor>() : QColor(0, 0, 0);
    const QVariant check = m->headerData(logicalIndex, Qt::Horizontal, Qt::CheckStateRole);
    if (check.isValid()) {
        QStyleOptionButton box;
        box.initFrom(this);
        box.rect = TickRect(rect);
        const auto state = static_cast<Qt::CheckState>(check.toInt());
        box.state = QStyle::State_Enabled | (state == Qt::Checked     ? QStyle::State_On
                                             : state == Qt::Unchecked ? QStyle::State_Off
                                                                      : QStyle::State_NoChange);
        style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, p, this);
    } else {
        const auto font = m->headerData(logicalIndex, Qt::Horizontal, Qt::FontRole);
        if (font.canConvert<QFont>()) p->setFont(font.value<QFont>());
        p->setPen(text);
        const QString title =
            m->headerData(logicalIndex, Qt::Horizontal, Qt::DisplayRole).toString();
        p->drawText(TitleRect(rect), Qt::AlignCenter | Qt::TextWordWrap, title);
    }
    if (logicalIndex == m_sortColumn) {
        // A small triangle centred above the title: up for ascending, down for descending.
        const qreal cx = rect.center().x() + 0.5;
        const qreal top = rect.top() + 1.5;
        const qreal bottom = top + 4;
        QPainterPath arrow;
        if (m_ascending) {
            arrow.moveTo(cx - 4.5, bottom);
            arrow.lineTo(cx + 4.5, bottom);
            arrow.lineTo(cx, top);
        } else {
            arrow.moveTo(cx - 4.5, top);
            arrow.lineTo(cx + 4.5, top);
            arrow.lineTo(cx, bottom);
        }
        arrow.closeSubpath();
        p->setRenderHint(QPainter::Antialiasing);
        p->fillPath(arrow, text);
    }
    p->restore();
}

}  // namespace fd

CGridCtrl::CGridCtrl(QWidget* parent)
    : QTableView(parent), m_model(new fd::GridModel(this)), m_header(new fd::GridHeader(this)) {
    setHorizontalHeader(m_header);
    setModel(m_model);
    setItemDelegate(new fd::GridDelegate(this));
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(24);
    verticalHeader()->setMinimumSectionSize(18);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setSortIndicatorShown(false);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setMinimumSectionSize(16);
    horizontalHeader()->setFixedHeight(26);
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
    // A column the user drags keeps the width given; the others are no longer stretched.
    // (Only a drag with the mouse counts: the header resizes sections itself too.)
    connect(m_header, &QHeaderView::sectionResized, this, [this] {
        if (!m_fitting && (QGuiApplication::mouseButtons() & Qt::LeftButton)) m_userSized = true;
    });
    // New header titles need new room; rows coming and going change the header tick box.
    connect(m_model, &QAbstractItemModel::headerDataChanged, this, [this] { FitColumns(); });
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved}) {
        connect(m_model, signal, m_header->viewport(), [this] { m_header->viewport()->update(); });
    }
    connect(m_model, &fd::GridModel::headerTickChanged, m_header->viewport(),
            [this] { m_header->viewport()->update(); });
    ApplyGridSkin();
}

void CGridCtrl::SetColumnCount(int n) {
    m_model->SetColumnCount(n);
}

void CGridCtrl::SetRowCount(int rows) {
    m_model->SetDataRowCount(rows - 1);
}

namespace {
// Room around a cell's text: the delegate's margins and the grid line.
constexpr int kCellPad = 8;
constexpr int kMinHeaderHeight = 26;
// Lower-case letters and digits: their width in the reference font, Arial 15 pixels high
// (an em of 13.43 pixels), for which the pages' column widths were chosen.
constexpr const char* kScaleSample = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr double kReferenceSampleWidth = 245.6;
}  // namespace

double CGridCtrl::FontScale(const QFont& cellFont) {
    const QFontMetricsF fm(cellFont);
    const double w = fm.horizontalAdvance(QString::fromLatin1(kScaleSample));
    return w > 0 ? w / kReferenceSampleWidth : 1.0;
}

CGridCtrl::ColumnSizing& CGridCtrl::Sizing(int col) {
    if (col >= static_cast<int>(m_sizing.size())) m_sizing.resize(static_cast<size_t>(col) + 1);
    return m_sizing[static_cast<size_t>(col)];
}

void CGridCtrl::SetColumnWidth(int col, int width) {
    if (col < 0 || col >= m_model->columnCount()) return;
    Sizing(col).designWidth = std::max(width, 0);
    FitColumns();
}

void CGridCtrl::SetColumnWholeTexts(int col, const QStringList& texts) {
    if (col < 0 || col >= m_model->columnCount()) return;
    Sizing(col).wholeTexts = texts;
    FitColumns();
}

int CGridCtrl::MinimumColumnWidth(int col, bool headerOnOneLine) const {
    if (col < 0 || col >= m_model->columnCount()) return 0;
    const ColumnSizing sizing = col < static_cast<int>(m_sizing.size())
                                    ? m_sizing[static_cast<size_t>(col)]
                                    : ColumnSizing{};
    const fd::GridCellType type = m_model->ColumnType(col);
    int need = 0;
    if (type == fd::GridCellType::Check) {
        need = style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this) + kCellPad;
        // A header that draws its tick box needs no room for the title.
        if (m_model->headerData(col, Qt::Horizontal, Qt::CheckStateRole).isValid()) return need;
    }
    if (type == fd::GridCellType::Image) {
        for (const QPixmap& pm : m_model->Images()) need = std::max(need, pm.width() + kCellPad);
    }
    const QFontMetrics cell(m_model->DefaultFont());
    for (const QString& t : sizing.wholeTexts)
        need = std::max(need, cell.horizontalAdvance(t) + kCellPad);
    // The header: the whole title on one line, or its longest word when titles may wrap.
    const QFontMetrics head(m_model->HeaderFont());
    const QString title = m_model->Text(0, col);
    int titleWidth = 0;
    if (headerOnOneLine) {
        titleWidth = head.horizontalAdvance(title);
    } else {
        for (const QString& word : title.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            titleWidth = std::max(titleWidth, head.horizontalAdvance(word));
        }
    }
    if (titleWidth > 0) need = std::max(need, titleWidth + 2 * fd::GridHeader::kTextMargin + 2);
    return need;
}

std::vector<int> CGridCtrl::FittedWidths(int available) const {
    const int n = m_model->columnCount();
    const double scale = FontScale(m_model->DefaultFont());
    // Three layouts from roomy to tight: the scaled design widths with one-line titles;
    // the same with titles wrapped at their blanks; every column at what it cannot go
    // below (free text at its title). The first that fits is stretched to the width;
    // between two, the tighter one gets what is left, in proportion to what each column
    // gave up.
    std::vector<int> stages[3];
    for (auto& s : stages) s.resize(static_cast<size_t>(n));
    std::vector<bool> stretch(static_cast<size_t>(n));
    for (int c = 0; c < n; ++c) {
        const ColumnSizing sizing = c < static_cast<int>(m_sizing.size())
                                        ? m_sizing[static_cast<size_t>(c)]
                                        : ColumnSizing{};
        const int design = static_cast<int>(std::lround(sizing.designWidth * scale));
        const int wrapped = MinimumColumnWidth(c, false);
        const size_t i = static_cast<size_t>(c);
        stages[0][i] = std::max(MinimumColumnWidth(c, true), design);
        stages[1][i] = std::max(wrapped, design);
        stages[2][i] = wrapped;
        stretch[i] = m_model->ColumnType(c) == fd::GridCellType::Text;
    }
    auto sum = [](const std::vector<int>& v) { return std::accumulate(v.begin(), v.end(), 0); };
    // Spread `extra` pixels over the columns marked in `to`, in proportion to their widths,
    // each at most up to its cap; returns what could not be placed.
    auto spread = [n](std::vector<int>& w, const std::vector<bool>& to, const std::vector<int>& cap,
                      int extra) {
        int weight = 0;
        for (int c = 0; c < n; ++c) {
            if (to[static_cast<size_t>(c)]) weight += w[static_cast<size_t>(c)];
        }
        if (weight <= 0 || extra <= 0) return extra;
        int given = 0;
        for (int c = 0; c < n; ++c) {
            const size_t i = static_cast<size_t>(c);
            if (!to[i]) continue;
            const int share = static_cast<int>(static_cast<long long>(extra) * w[i] / weight);
            const int add = std::min(share, std::max(0, cap[i] - w[i]));
            w[i] += add;
            given += add;
        }
        return extra - given;
    };
    if (sum(stages[0]) <= available) {
        std::vector<int> w = stages[0];
        // Free text (names, SSIDs) profits most from room: it gets some first, then every
        // text column a share of the rest.
        std::vector<bool> freeText(static_cast<size_t>(n));
        std::vector<int> freeCap(static_cast<size_t>(n));
        std::vector<int> noCap(static_cast<size_t>(n), std::numeric_limits<int>::max());
        for (int c = 0; c < n; ++c) {
            const size_t i = static_cast<size_t>(c);
            freeText[i] = stretch[i] && (c >= static_cast<int>(m_sizing.size()) ||
                                         m_sizing[i].wholeTexts.isEmpty());
            freeCap[i] = w[i] * 3 / 2;
        }
        int left = spread(w, freeText, freeCap, available - sum(w));
        left = spread(w, stretch, noCap, left);
        // Rounding leftovers go to the last text column.
        for (int c = n - 1; c >= 0 && left > 0; --c) {
            if (stretch[static_cast<size_t>(c)]) {
                w[static_cast<size_t>(c)] += left;
                left = 0;
            }
        }
        return w;
    }
    for (int s = 1; s < 3; ++s) {
        const int total = sum(stages[s]);
        if (total > available && s < 2) continue;
        if (total > available) return stages[s];  // too narrow: the grid scrolls sideways
        std::vector<int> w = stages[s];
        int slack = 0;
        for (int c = 0; c < n; ++c) {
            slack += stages[s - 1][static_cast<size_t>(c)] - w[static_cast<size_t>(c)];
        }
        const int room = available - total;
        int given = 0;
        int last = -1;
        for (int c = 0; c < n && slack > 0; ++c) {
            const size_t i = static_cast<size_t>(c);
            const int own = stages[s - 1][i] - w[i];
            if (own <= 0) continue;
            const int add = static_cast<int>(static_cast<long long>(room) * own / slack);
            w[i] += add;
            given += add;
            last = c;
        }
        if (last >= 0) w[static_cast<size_t>(last)] += room - given;
        return w;
    }
    return stages[2];
}

void CGridCtrl::FitColumns() {
    if (m_fitting) {
        // The layout changed the view (a scroll bar came or went): once more afterwards.
        m_refitPending = true;
        return;
    }
    // Twice at most: a scroll bar that comes and goes with the widths cannot make it loop.
    for (int pass = 0; pass < 2; ++pass) {
        m_refitPending = false;
        FitColumnsOnce();
        if (!m_refitPending) break;
    }
    m_refitPending = false;
}

void CGridCtrl::FitColumnsOnce() {
    const int n = m_model->columnCount();
    if (n == 0) return;
    m_fitting = true;
    if (!m_userSized) {
        const std::vector<int> w = FittedWidths(viewport()->width());
        for (int c = 0; c < n; ++c) setColumnWidth(c, w[static_cast<size_t>(c)]);
    }
    // Titles that had to wrap make the header taller.
    const QFontMetrics head(m_model->HeaderFont());
    int textHeight = head.height();
    for (int c = 0; c < n; ++c) {
        if (m_model->ColumnType(c) != fd::GridCellType::Text) continue;
        const QRect section(0, 0, columnWidth(c), 1000);
        const QRect r = head.boundingRect(m_header->TitleRect(section),
                                          Qt::AlignCenter | Qt::TextWordWrap, m_model->Text(0, c));
        textHeight = std::max(textHeight, r.height());
    }
    m_header->setFixedHeight(
        std::max(kMinHeaderHeight, textHeight + fd::GridHeader::kArrowSpace / 2 + 4));
    m_fitting = false;
}

bool CGridCtrl::viewportEvent(QEvent* event) {
    // The viewport changes width with the window and when the vertical scroll bar comes
    // or goes.
    if (event->type() == QEvent::Resize) FitColumns();
    return QTableView::viewportEvent(event);
}

void CGridCtrl::SetImageList(std::vector<QPixmap> images) {
    m_model->SetImageList(std::move(images));
    viewport()->update();
    FitColumns();
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
    horizontalHeader()->viewport()->update();
    FitColumns();
}

void CGridCtrl::SetCellLook(const QFont& font, const QColor& text) {
    m_model->SetDefaultFont(font);
    m_model->SetDefaultFg(text);
    viewport()->update();
    FitColumns();
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
    m_header->SetSortMark(col, ascending);
}

void CGridCtrl::OnHeaderClicked(int section) {
    // The page decides what the sort really is; the mark changes when it says so.
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
