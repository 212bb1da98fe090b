#pragma once
// The device list the status, reboot and restore pages share: Search/Stop with its
// animation, the filter box, the grid with the page's columns, rows per page, the page-number
// strip and the online count. The list logic lives in fd::DeviceListModel; this widget only
// forwards the user's actions to it and draws what it returns.

#include <QTimer>
#include <memory>
#include <span>
#include <vector>

#include "actions/search_session.h"
#include "app/child_page.h"
#include "controls/t_multi_pages.h"
#include "presentation/device_list.h"

class CGridCtrl;
class CTButtonPicture;
class CTEdit;
class CTPicture;
class CTStatic;
class QComboBox;
class QLabel;

class CDeviceListPage : public CChildPage, public fd::IPageMessageHost {
    Q_OBJECT
public:
    CDeviceListPage(int pageId, std::span<const fd::DeviceColumn> columns, QWidget* parent);
    ~CDeviceListPage() override;

    // Reload(current page, NOT toggle, sort column, filter).
    void ReloadCurrentPage() override;
    void ReloadPage(int pageNumber) override;
    void OnPageMessage(int pageId, int pageNumber) override;

    // The Search / Stop button.
    void OnSearchButton();
    // One second of a running search (timer 1000); tests call it directly.
    void OnSearchTick();
    bool IsSearching() const { return m_search.IsRunning(); }
    const fd::SearchSession& Search() const { return m_search; }

    // A click on a grid cell (row 0: the header row).
    void OnCellClicked(int row, int col);
    // The rows per page (15, 30, 50, 100).
    void SetPageSize(int rows);
    // Applies a filter as typing in the filter box does.
    void SetFilterText(const QString& text);

    CGridCtrl* Grid() const { return m_grid; }
    CTButtonPicture* SearchButton() const { return m_searchButton; }
    CTButtonPicture* RefreshButton() const { return m_refresh; }
    CTEdit* FilterEdit() const { return m_filter; }
    QComboBox* PageSizeCombo() const { return m_pageSize; }
    CTMultiPages* Pager() const { return m_pager; }
    CTStatic* CountLabel() const { return m_count; }
    CTPicture* Animation() const { return m_animation; }
    CTPicture* FilterMark() const { return m_filterMark; }
    QLabel* FilterLine() const { return m_filterLine; }
    // The width and height the page's controls are placed for; the page lays them out
    // again for any other size (the grid takes what is left, the right-hand controls and
    // the footer follow the edges).
    static constexpr int kDesignWidth = 1070;
    static constexpr int kDesignHeight = 694;
    static constexpr int kGridMargin = 20;
    const fd::DeviceListModel& List() const { return *m_list; }
    const fd::DeviceListPage& Shown() const { return m_list->Current(); }
    // The ticked state of every shown row, in row order.
    std::vector<bool> TickedRows() const;
    // The selection a bulk action works on; shows the "select" message when it is empty.
    fd::SelectionResult CollectSelection(fd::BulkAction action);
    // Grid row (from 1) whose MAC cell holds mac, or -1.
    int RowOfMac(const std::string& mac) const;

protected:
    fd::IDeviceEngine& Engine() const { return *m_engine; }
    IDeviceStore* Store() const { return m_store; }
    // The store, or one that finds nothing when the page has none.
    IDeviceStore& StoreOrEmpty() const;
    bool HasEngine() const { return m_hasEngine; }

    // An action button (100 x 30, a skin image) in the footer at x.
    CTButtonPicture* AddActionButton(const QString& key, const QString& image, int x);
    // A small button left of the filter box (for extras that are not part of the layout).
    CTButtonPicture* AddToolButton(const QString& key, int x, int width);

    // Reload through the model and draw the result.
    void Draw();
    // Keeps a control at its place relative to the right edge (rightEdge) and the bottom
    // edge (bottomEdge) of the page when the page changes size; the geometry given is the
    // one for the design size.
    void Anchor(QWidget* w, const QRect& designGeometry, bool rightEdge, bool bottomEdge);
    void resizeEvent(QResizeEvent* e) override;
    // Row clicks the page handles beyond the tick box (column 0 is done by the grid).
    virtual void OnRowClicked(int row, int col) {
        (void)row;
        (void)col;
    }
    // Whether a cell may be edited in place; none by default.
    virtual bool CanEditCell(int row, int col) const {
        (void)row;
        (void)col;
        return false;
    }
    virtual void OnEditBegun(int row, int col) {
        (void)row;
        (void)col;
    }
    virtual void OnEditEnded(int row, int col, const QString& text) {
        (void)row;
        (void)col;
        (void)text;
    }

    std::unique_ptr<fd::DeviceListModel> m_list;

private:
    void BuildGrid(std::span<const fd::DeviceColumn> columns);
    void SetSearchUi(bool searching);
    // Says so when a search ended with nothing found (made on first use).
    void ShowEmptySearchNote();
    void OnSearchReload(fd::SearchSession::Reload which);
    void TickAll(bool on);
    void LayOut();

    struct Anchored {
        QWidget* widget;
        QRect design;
        bool right;
        bool bottom;
    };
    std::vector<Anchored> m_anchored;
    // What fd::Services() held when the page was made. Without a store the list is empty;
    // without an engine a silent one stands in and nothing is sent.
    IDeviceStore* m_store;
    bool m_hasEngine;
    fd::IDeviceEngine* m_engine;
    fd::SearchSession m_search;
    fd::HeaderTickState m_headerTick;
    std::vector<std::string> m_shownMacs;  // the device of each drawn row

    CTButtonPicture* m_searchButton;
    CTPicture* m_animation;
    CTEdit* m_filter;
    CTPicture* m_filterMark;  // 1010: the pencil inside the filter box
    QLabel* m_filterLine;     // 1011: the line under it, stretched to the box
    CTButtonPicture* m_refresh;
    CGridCtrl* m_grid;
    CTStatic* m_pageSizeLabel;
    QComboBox* m_pageSize;
    CTMultiPages* m_pager;
    CTStatic* m_count;
    CTStatic* m_emptyNote = nullptr;
    QTimer m_searchTimer;  // 1000: one second of a search
};
