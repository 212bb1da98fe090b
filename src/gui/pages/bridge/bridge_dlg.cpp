#include "pages/bridge/bridge_dlg.h"

#include "app/child_dlg.h"
#include "app/skin.h"
#include "app/translate.h"
#include "controls/grid_ctrl.h"
#include "pages/bridge/bridge_config_dlg.h"
#include "pages/devices/page_messages.h"
#include "presentation/bridge_page.h"

CBridgeDlg::CBridgeDlg(QWidget* parent)
    : CDeviceListPage(fd::kPageBridge, fd::BridgePageColumns(), parent) {
    // The Operate cells show the link button, not the web-page one.
    Grid()->SetImageStrip(fd::Skin().BridgeImage(), 50);
    m_reloadTimer.setSingleShot(true);
    m_reloadTimer.setInterval(2000);
    connect(&m_reloadTimer, &QTimer::timeout, this, &CBridgeDlg::ReloadCurrentPage);
    fd::TranslateDialog(this);
}

// A send still running stops between its steps before the page goes; the wizard goes first.
CBridgeDlg::~CBridgeDlg() {
    m_wizard.reset();
}

void CBridgeDlg::OnRowClicked(int row, int col) {
    if (col == List().ColumnOf(fd::ColumnContent::Operate)) OpenWizard(row);
}

void CBridgeDlg::OpenWizard(int row) {
    if (row < 1 || row > static_cast<int>(Shown().rows.size())) return;
    const fd::DeviceRow& r = Shown().rows[static_cast<std::size_t>(row - 1)];
    if (r.discoveredOnly) return;  // nothing known of it to configure yet
    m_target = fd::MakeDeviceTarget(r);
    m_wizard.reset();
    // The host must not reload the list behind the wizard.
    auto* host = qobject_cast<CChildDlg*>(parentWidget());
    if (host) host->SetAutoRefresh(false);
    ap_info_stu device{};
    StoreOrEmpty().QueryApByMac(r.mac, device);
    const std::string refusal = fd::CheckBridgeWizardOpen(device);
    if (!refusal.empty()) {
        fd::ShowPageWarning(this, QString::fromStdString(refusal));
    } else {
        m_wizard = std::make_unique<CBridgeConfigDlg>(device, m_target, Engine(), StoreOrEmpty(),
                                                      m_sendWorker, this);
        fd::RunPageDialog(*m_wizard);
    }
    if (host) host->SetAutoRefresh(true);
    m_reloadTimer.start();
}
