#include "pages/devices/restart_pages.h"

#include "app/translate.h"
#include "controls/grid_ctrl.h"
#include "controls/t_button_picture.h"
#include "controls/wait_dlg.h"
#include "pages/devices/page_messages.h"
#include "config/labels.h"

namespace {
// The wait after a reboot searches 3 times in its last 7 seconds, after a reset 5 times:
// a reset device takes longer to come back.
fd::RestartPageKind RebootKind() {
    return {fd::kPageReboot,
            fd::RebootPageColumns(),
            "Reboot",
            "btn_reboot.bmp",
            "Are you sure you want to restart?",
            fd::CMD_REBOOT,
            60,
            3,
            CWaitDlg::kRestartingKey};
}
fd::RestartPageKind RestoreKind() {
    return {fd::kPageRestore,
            fd::RestorePageColumns(),
            "Restore",
            "btn_restore.bmp",
            "Are you sure you want to reset?",
            fd::CMD_RESET,
            60,
            5,
            CWaitDlg::kResettingKey};
}
}  // namespace

CRestartPage::CRestartPage(const fd::RestartPageKind& kind, QWidget* parent)
    : CDeviceListPage(kind.pageId, kind.columns, parent),
      m_kind(kind),
      m_action(AddActionButton(QString::fromLatin1(kind.buttonKey),
                               QString::fromLatin1(kind.buttonImage), 950)) {
    connect(m_action, &QAbstractButton::clicked, this, &CRestartPage::OnAction);
    m_statusTimer.setInterval(1000);
    connect(&m_statusTimer, &QTimer::timeout, this, &CRestartPage::OnStatusTimer);
    m_reloadTimer.setSingleShot(true);
    m_reloadTimer.setInterval(1000);
    connect(&m_reloadTimer, &QTimer::timeout, this, &CRestartPage::ReloadCurrentPage);
    fd::TranslateDialog(this);
}

void CRestartPage::OnAction() {
    fd::SelectionResult sel = CollectSelection(fd::BulkAction::AllTicked);
    if (!sel.ok()) return;
    if (!fd::AskPageConfirmation(this, QString::fromLatin1(m_kind.confirmKey))) return;
    m_selection = sel.devices;
    fd::StartRestartWorker(m_worker, Engine(), StoreOrEmpty(), m_kind.command, m_selection);
    m_statusTimer.start();
    {
        CWaitDlg wait(m_kind.waitSeconds, true, m_kind.waitSearches, &Engine(), this);
        wait.SetText(QString::fromLatin1(m_kind.waitKey));
        fd::RunPageDialog(wait);
    }
    m_statusTimer.stop();
    Engine().SendSearch();
    m_reloadTimer.start();
}

void CRestartPage::OnStatusTimer() {
    const int statusCol = List().ColumnOf(fd::ColumnContent::Status);
    if (statusCol < 0) return;
    IDeviceStore& store = StoreOrEmpty();
    for (const fd::SelectedDevice& d : m_selection) {
        const int row = RowOfMac(d.mac);
        if (row < 0) continue;
        Grid()->SetItemText(row, statusCol,
                            QString::fromStdString(fd::GetStatusLabel(store.GetApStatus(d.mac))));
    }
}

CRebootDlg::CRebootDlg(QWidget* parent) : CRestartPage(RebootKind(), parent) {}

CRestoreDlg::CRestoreDlg(QWidget* parent) : CRestartPage(RestoreKind(), parent) {}
