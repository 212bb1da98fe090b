#include "app/page_factory.h"

#include "app/child_page.h"
#include "pages/bridge/bridge_dlg.h"
#include "pages/config/management_dlg.h"
#include "pages/devices/restart_pages.h"
#include "pages/devices/status_dlg.h"
#include "pages/help/install_help_dlg.h"
#include "pages/system/system_tool_dlg.h"
#include "pages/upgrade/upgrade_dlgs.h"

namespace fd {

CChildPage* CreateChildPage(int pageId, QWidget* parent) {
    switch (pageId) {
        case kPageStatus:
            return new CStatusDlg(parent);
        case kPageManagement:
            return new CManagementDlg(parent);
        case kPageBridge:
            return new CBridgeDlg(parent);
        case kPageReboot:
            return new CRebootDlg(parent);
        case kPageRestore:
            return new CRestoreDlg(parent);
        case kPageInstallHelp:
            return new CInstallHelpDlg(parent);
        case kPageUpgrade:
            return new CUpgradeDlg(parent);
        case kPageSystemTool:
            return new CSystemToolDlg(parent);
        default:
            return nullptr;
    }
}

}  // namespace fd
