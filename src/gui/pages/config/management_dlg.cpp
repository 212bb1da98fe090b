#include "pages/config/management_dlg.h"

#include "app/child_dlg.h"
#include "app/skin.h"
#include "app/translate.h"
#include "config/labels.h"
#include "controls/grid_ctrl.h"
#include "pages/config/management_config_dlg.h"
#include "pages/devices/page_messages.h"

CManagementDlg::CManagementDlg(QWidget* parent)
    : CDeviceListPage(fd::kPageManagement, fd::ManagementPageColumns(), parent) {
    // The Operate cell shows the configuration gear rather than the web-page button.
    Grid()->SetImageStrip(fd::Skin().Image(QStringLiteral("wireless_config.bmp")), 24);
    m_reloadTimer.setSingleShot(true);
    m_reloadTimer.setInterval(2000);
    connect(&m_reloadTimer, &QTimer::timeout, this, &CManagementDlg::ReloadCurrentPage);
    fd::TranslateDialog(this);
}

// The sender holds a reference to the engine only; it is stopped between two sends.
CManagementDlg::~CManagementDlg() = default;

void CManagementDlg::OnRowClicked(int row, int col) {
    if (col != List().ColumnOf(fd::ColumnContent::Operate)) return;
    const fd::DeviceRow& r = Shown().rows[static_cast<std::size_t>(row - 1)];
    // A device that only answered the search has no settings to show yet.
    if (r.discoveredOnly || Store() == nullptr) return;
    ap_info_stu rec{};
    if (!Store()->QueryApByMac(r.mac, rec)) return;
    m_target = fd::ConfigurationTarget{
        r.ip, r.mac,
        fd::GetModelCode(
            r.cells[static_cast<std::size_t>(List().ColumnOf(fd::ColumnContent::Type))])};

    auto* host = qobject_cast<CChildDlg*>(parentWidget());
    if (host) host->SetAutoRefresh(false);
    {
        CManagementConfigDlg dlg(rec, m_target, Engine(), StoreOrEmpty(), m_sender, this);
        fd::RunPageDialog(dlg);
    }
    if (host) host->SetAutoRefresh(true);
    m_reloadTimer.start();
}
