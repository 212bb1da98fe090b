#pragma once
// The page host to the right of the navigation strip: owns the main window's pages, shows
// one at a time, refreshes the page just shown and, every 30 seconds, the page on view.

#include <QTimer>
#include <map>

#include "app/child_page.h"
#include "controls/t_dialog.h"
#include "controls/t_multi_pages.h"

class CChildDlg : public CTDialog, public fd::IPageMessageHost {
    Q_OBJECT
public:
    explicit CChildDlg(QWidget* parent = nullptr);

    // Creates the pages that exist; called once the host has its final size.
    void CreatePages();
    // Adds a page made elsewhere (tests, or pages built outside the factory).
    void AddPage(CChildPage* page);
    CChildPage* Page(int pageId) const;
    bool HasPage(int pageId) const { return Page(pageId) != nullptr; }

    // Shows one page, hides the others and refreshes the shown page after 100 ms.
    void ShowPage(int pageId);
    int CurrentPageId() const { return m_currentId; }

    void SetAutoRefresh(bool on) { m_autoRefresh = on; }
    bool AutoRefresh() const { return m_autoRefresh; }

    // The page-number strip of a list page chose a page.
    void OnPageMessage(int pageId, int pageNumber) override;

    // Timer handlers, public so that tests can drive them.
    void OnShowTimer();
    void OnRefreshTimer();
    QTimer& ShowTimer() { return m_showTimer; }
    QTimer& RefreshTimer() { return m_refreshTimer; }

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    std::map<int, CChildPage*> m_pages;
    int m_currentId = fd::kPageStatus;
    bool m_autoRefresh = true;
    QTimer m_showTimer;     // 100 ms, once
    QTimer m_refreshTimer;  // 30 s, repeating
};
