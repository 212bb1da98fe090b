#pragma once
// Base of the pages shown in the main window's page host. A page knows its identifier and
// how to reload itself; the host calls these from its timers and the page-number strip.

#include "controls/t_dialog.h"

namespace fd {
// Page identifiers (the dialog resource numbers the pages are known by).
enum PageId : int {
    kPageStatus = 133,
    kPageManagement = 134,
    kPageBridge = 135,
    kPageReboot = 136,
    kPageUpgrade = 137,
    kPageRestore = 138,
    kPageInstallHelp = 139,
    kPageSystemTool = 155,
};
}  // namespace fd

class CChildPage : public CTDialog {
    Q_OBJECT
public:
    CChildPage(int pageId, QWidget* parent);

    int PageId() const { return m_pageId; }
    // The page's own reload of its current page (host timers).
    virtual void ReloadCurrentPage() {}
    // The page-number strip chose another page of the list.
    virtual void ReloadPage(int pageNumber) {
        (void)pageNumber;
        ReloadCurrentPage();
    }

private:
    int m_pageId;
};
