#include "app/child_dlg.h"

#include "app/page_factory.h"
#include "app/skin.h"
#include "app/translate.h"

CChildDlg::CChildDlg(QWidget* parent) : CTDialog(parent, ChildTag{}) {
    SetFillBk(true);
    SetBkColor(fd::Skin().childBkColor);
    m_showTimer.setSingleShot(true);
    m_showTimer.setInterval(100);
    connect(&m_showTimer, &QTimer::timeout, this, &CChildDlg::OnShowTimer);
    m_refreshTimer.setInterval(30000);
    connect(&m_refreshTimer, &QTimer::timeout, this, &CChildDlg::OnRefreshTimer);
}

void CChildDlg::CreatePages() {
    fd::TranslateDialog(this);
    const int ids[] = {fd::kPageStatus,      fd::kPageManagement, fd::kPageBridge,
                       fd::kPageReboot,      fd::kPageRestore,    fd::kPageUpgrade,
                       fd::kPageInstallHelp, fd::kPageSystemTool};
    for (int id : ids) {
        if (HasPage(id)) continue;
        if (CChildPage* page = fd::CreateChildPage(id, this)) AddPage(page);
    }
    for (auto& [id, page] : m_pages) page->setVisible(id == m_currentId);
    m_showTimer.start();
    m_refreshTimer.start();
}

void CChildDlg::AddPage(CChildPage* page) {
    if (page == nullptr) return;
    page->setParent(this);
    page->setGeometry(rect());
    page->hide();
    m_pages[page->PageId()] = page;
}

CChildPage* CChildDlg::Page(int pageId) const {
    const auto it = m_pages.find(pageId);
    return it != m_pages.end() ? it->second : nullptr;
}

void CChildDlg::ShowPage(int pageId) {
    CChildPage* chosen = Page(pageId);
    if (chosen == nullptr) return;
    m_currentId = pageId;
    // Hide first, then show: there is never a moment with two pages on view.
    for (auto& [id, page] : m_pages) {
        if (id != pageId) page->hide();
    }
    chosen->show();
    chosen->raise();
    m_showTimer.start();
}

void CChildDlg::OnShowTimer() {
    m_showTimer.stop();
    // The System tool page keeps itself current.
    if (m_currentId == fd::kPageSystemTool) return;
    if (CChildPage* page = Page(m_currentId)) page->ReloadCurrentPage();
}

void CChildDlg::OnRefreshTimer() {
    if (!m_autoRefresh) return;
    // Reloading these pages would clear the ticks the user is setting up an action with.
    if (m_currentId == fd::kPageReboot || m_currentId == fd::kPageUpgrade ||
        m_currentId == fd::kPageRestore) {
        return;
    }
    if (CChildPage* page = Page(m_currentId)) page->ReloadCurrentPage();
}

void CChildDlg::OnPageMessage(int pageId, int pageNumber) {
    if (CChildPage* page = Page(pageId)) page->ReloadPage(pageNumber);
}

void CChildDlg::resizeEvent(QResizeEvent* e) {
    CTDialog::resizeEvent(e);
    for (auto& [id, page] : m_pages) page->setGeometry(rect());
}
