#pragma once
// The grid every device, scan and adapter list is shown in. Row 0 is the fixed header row
// (its cells are the column headers); data rows count from 1. Cells hold text, a tick box
// or an image from the grid's image list, with their own colour and font; each row carries
// an item value. Editing in place is granted or refused per click by the page.

#include <QAbstractTableModel>
#include <QColor>
#include <QFont>
#include <QHeaderView>
#include <QPixmap>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QTableView>
#include <functional>
#include <optional>
#include <vector>

namespace fd {

enum class GridCellType { Text, Check, Image };

class GridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit GridModel(QObject* parent = nullptr);

    struct Cell {
        QString text;
        bool checked = false;
        int image = -1;
        std::optional<QColor> fg;
        std::optional<QColor> bk;
        std::optional<QFont> font;
        QString tip;  // the tooltip; empty: the cell's text
    };

    // QAbstractTableModel; model rows are the grid's data rows (grid row - 1).
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    void SetColumnCount(int n);
    void SetDataRowCount(int n);
    void SetColumnType(int col, GridCellType type);
    GridCellType ColumnType(int col) const;
    void SetColumnEditable(int col, bool on);

    // grid row addressing (0 = header). Returns true when the cell changed.
    bool SetText(int row, int col, const QString& text);
    QString Text(int row, int col) const;
    bool SetChecked(int row, int col, bool on);
    bool Checked(int row, int col) const;
    bool SetImage(int row, int col, int image);
    int Image(int row, int col) const;
    void SetFg(int row, int col, const QColor& c);
    void SetBk(int row, int col, const QColor& c);
    void SetFont(int row, int col, const QFont& f);
    void SetTip(int row, int col, const QString& tip);
    void SetRowData(int row, qint64 value);
    qint64 RowData(int row) const;
    // The header tick box of a tick-box column follows its rows: ticked when every row is,
    // partly when some are, empty otherwise (and with no rows).
    Qt::CheckState HeaderCheckState(int col) const;
    // A tick-box column whose rows allow one tick at a time keeps its title instead of a
    // tick-all box.
    void SetHeaderTickBox(int col, bool shown);

    void SetDefaultFont(const QFont& f) { m_defaultFont = f; }
    void SetDefaultFg(const QColor& c) { m_defaultFg = c; }
    void SetHeaderFont(const QFont& f) { m_headerFont = f; }
    void SetHeaderFg(const QColor& c) { m_headerFg = c; }
    void SetHeaderBk(const QColor& c) { m_headerBk = c; }
    void SetImageList(std::vector<QPixmap> images) { m_images = std::move(images); }
    const QPixmap* ImageAt(int index) const;
    const std::vector<QPixmap>& Images() const { return m_images; }
    QFont DefaultFont() const { return m_defaultFont; }
    QFont HeaderFont() const { return m_headerFont; }

signals:
    void checkToggled(int row, int col, bool checked);
    // A row's tick changed, and with it perhaps the header tick box of its column.
    void headerTickChanged(int col);

private:
    Cell* CellAt(int row, int col);
    const Cell* CellAt(int row, int col) const;
    void Changed(int row, int col, const QList<int>& roles);

    int m_columns = 0;
    std::vector<Cell> m_header;
    std::vector<std::vector<Cell>> m_rows;
    std::vector<qint64> m_rowData;
    std::vector<GridCellType> m_types;
    std::vector<int> m_titleOnlyTickColumns;
    std::vector<bool> m_editable;
    std::vector<QPixmap> m_images;
    QFont m_defaultFont;
    QColor m_defaultFg{0, 0, 0};
    QFont m_headerFont;
    QColor m_headerFg{0, 0, 0};
    QColor m_headerBk{221, 217, 196};
};

// Draws tick boxes and images centred in their cells; a click anywhere in a tick-box cell
// toggles it.
class GridDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* p, const QStyleOptionViewItem& opt, const QModelIndex& idx) const override;
    bool editorEvent(QEvent* e, QAbstractItemModel* model, const QStyleOptionViewItem& opt,
                     const QModelIndex& idx) override;
};

// The header row: the skin's colours, titles that wrap at blanks when the column is narrow,
// the tick box of tick-box columns (whole, partial or empty as the rows are) and the sort
// arrow above the title: pointing up for ascending, down for descending.
class GridHeader : public QHeaderView {
    Q_OBJECT
public:
    explicit GridHeader(QWidget* parent);
    void SetSortMark(int col, bool ascending);
    int SortMarkColumn() const { return m_sortColumn; }
    bool SortMarkAscending() const { return m_ascending; }
    // Height of the band above the titles that holds the sort arrow.
    static constexpr int kArrowSpace = 8;
    static constexpr int kTextMargin = 4;
    // Where the title is drawn in a section of the given rectangle.
    QRect TitleRect(const QRect& section) const;
    QRect TickRect(const QRect& section) const;

protected:
    void paintSection(QPainter* p, const QRect& rect, int logicalIndex) const override;

private:
    int m_sortColumn = -1;
    bool m_ascending = true;
};

}  // namespace fd

class CGridCtrl : public QTableView {
    Q_OBJECT
public:
    explicit CGridCtrl(QWidget* parent = nullptr);

    fd::GridModel* Model() const { return m_model; }

    void SetColumnCount(int n);
    int GetColumnCount() const { return m_model->columnCount(); }
    // Rows including the header row, as the pages count them.
    void SetRowCount(int rows);
    int GetRowCount() const { return m_model->rowCount() + 1; }
    // Column sizes. width is the width the column was laid out for with the reference font
    // (Arial, 15 pixels high); the grid scales it by its own font, never goes below what
    // the header title and the column's whole texts need, and stretches the columns to fill
    // its width. The user may still drag any column wider or narrower.
    void SetColumnWidth(int col, int width);
    // Values of a column that must always show in full (the longest a column holds: MAC
    // and IP shapes, model and label names). Columns without any hold free text, which
    // gives way first when space is short (and shows in full in its tooltip).
    void SetColumnWholeTexts(int col, const QStringList& texts);
    // Width the column cannot go below: its header (words may wrap) and its whole texts.
    int MinimumColumnWidth(int col, bool headerOnOneLine = false) const;
    // Lays the columns out again (done by itself on resizes, font and header changes).
    void FitColumns();
    // Width of the reference font's sample over the same sample in this font.
    static double FontScale(const QFont& cellFont);
    bool UserSizedColumns() const { return m_userSized; }
    fd::GridHeader* Header() const { return m_header; }
    // Tick state drawn in the header of a tick-box column.
    Qt::CheckState HeaderCheckState(int col) const { return m_model->HeaderCheckState(col); }
    void SetColumnType(int col, fd::GridCellType type) { m_model->SetColumnType(col, type); }
    void SetHeaderTickBox(int col, bool shown) { m_model->SetHeaderTickBox(col, shown); }
    // Cells of this column may be edited in place when the page's gate agrees.
    void SetColumnEditable(int col, bool on) { m_model->SetColumnEditable(col, on); }

    bool SetItemText(int row, int col, const QString& text) {
        return m_model->SetText(row, col, text);
    }
    QString GetItemText(int row, int col) const { return m_model->Text(row, col); }
    bool SetCheck(int row, int col, bool on) { return m_model->SetChecked(row, col, on); }
    bool GetCheck(int row, int col) const { return m_model->Checked(row, col); }
    bool SetItemImage(int row, int col, int image) { return m_model->SetImage(row, col, image); }
    void SetImageList(std::vector<QPixmap> images);
    // An image strip cut into images of the given width (the 50x16 button strips).
    void SetImageStrip(const QString& path, int imageWidth);
    void SetItemFgColour(int row, int col, const QColor& c) { m_model->SetFg(row, col, c); }
    // An invalid colour (QColor()) gives the cell the grid's background again.
    void SetItemBkColour(int row, int col, const QColor& c) { m_model->SetBk(row, col, c); }
    void SetItemFont(int row, int col, const QFont& f) { m_model->SetFont(row, col, f); }
    // A tooltip other than the cell's own text; empty gives the text back.
    void SetItemToolTip(int row, int col, const QString& tip) { m_model->SetTip(row, col, tip); }
    void SetItemData(int row, qint64 value) { m_model->SetRowData(row, value); }
    qint64 GetItemData(int row) const { return m_model->RowData(row); }

    void SetHeaderLook(const QFont& font, const QColor& text, const QColor& background);
    void SetCellLook(const QFont& font, const QColor& text);
    // Applies the skin's grid fonts and colours.
    void ApplyGridSkin();

    void SetSortIndicator(int col, bool ascending);
    int SortIndicatorColumn() const { return m_sortColumn; }
    bool SortIndicatorAscending() const { return m_sortAscending; }

    // Asked on every attempt to edit a cell; editing happens only when it returns true.
    void SetEditGate(std::function<bool(int row, int col)> gate) { m_gate = std::move(gate); }

    // Opens the editor on a cell as a click would (asks the gate). Used by keyboard too.
    bool BeginEdit(int row, int col);

signals:
    // Any click on a cell; row 0 for the header row.
    void cellClicked(int row, int col);
    void editBegun(int row, int col);
    void editEnded(int row, int col, const QString& text);
    void checkToggled(int row, int col, bool checked);

protected:
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

private:
    void OnHeaderClicked(int section);

    struct ColumnSizing {
        int designWidth = 0;
        QStringList wholeTexts;
    };
    ColumnSizing& Sizing(int col);
    std::vector<int> FittedWidths(int available) const;
    void FitColumnsOnce();

    fd::GridModel* m_model;
    fd::GridHeader* m_header;
    std::vector<ColumnSizing> m_sizing;
    bool m_fitting = false;
    bool m_refitPending = false;
    bool m_userSized = false;
    std::function<bool(int, int)> m_gate;
    QPersistentModelIndex m_editing;
    int m_sortColumn = -1;
    bool m_sortAscending = true;
};
