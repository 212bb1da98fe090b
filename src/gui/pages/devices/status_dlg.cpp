#include "pages/devices/status_dlg.h"

#include <QFile>
#include <QUrl>

#include "app/app_context.h"
#include "app/translate.h"
#include "controls/grid_ctrl.h"
#include "controls/t_button_picture.h"
#include "pages/devices/multi_set_dlgs.h"
#include "pages/devices/page_messages.h"
#include "presentation/device_list_export.h"
#include "rules/address_rules.h"

CStatusDlg::CStatusDlg(QWidget* parent)
    : CDeviceListPage(fd::kPageStatus, fd::StatusPageColumns(), parent),
      m_setIp(AddActionButton(QStringLiteral("Set IP"), QStringLiteral("btn_search.bmp"), 730)),
      m_setBridge(
          AddActionButton(QStringLiteral("Set Bridge"), QStringLiteral("btn_search.bmp"), 840)),
      m_airSlot(AddActionButton(QStringLiteral("AirSlot"), QStringLiteral("btn_search.bmp"), 950)),
      m_export(AddToolButton(QStringLiteral("Export..."), 700, 100)) {
    connect(m_setIp, &QAbstractButton::clicked, this, &CStatusDlg::OnSetIp);
    connect(m_setBridge, &QAbstractButton::clicked, this, &CStatusDlg::OnSetBridge);
    connect(m_airSlot, &QAbstractButton::clicked, this, &CStatusDlg::OnAirSlot);
    connect(m_export, &QAbstractButton::clicked, this, &CStatusDlg::OnExport);
    m_export->setToolTip(QStringLiteral("CSV"));
    m_reloadTimer.setSingleShot(true);
    m_reloadTimer.setInterval(2000);
    connect(&m_reloadTimer, &QTimer::timeout, this, &CStatusDlg::ReloadCurrentPage);
    fd::TranslateDialog(this);
}

// The workers hold references to the engine only; they are stopped (between two sends)
// before the page goes.
CStatusDlg::~CStatusDlg() = default;

void CStatusDlg::OnRowClicked(int row, int col) {
    const fd::DeviceRow& r = Shown().rows[static_cast<size_t>(row - 1)];
    if (col == List().ColumnOf(fd::ColumnContent::Operate) && !r.discoveredOnly) {
        fd::OpenDeviceUrl(QUrl(QStringLiteral("http://") + QString::fromStdString(r.ip)));
    }
}

bool CStatusDlg::CanEditCell(int row, int col) const {
    if (col != List().ColumnOf(fd::ColumnContent::Location)) return false;
    if (row < 1 || row > static_cast<int>(Shown().rows.size())) return false;
    return !Shown().rows[static_cast<size_t>(row - 1)].discoveredOnly;
}

void CStatusDlg::OnEditBegun(int row, int col) {
    m_editStartText = Grid()->GetItemText(row, col);
    m_editMac = row >= 1 && row <= static_cast<int>(Shown().rows.size())
                    ? Shown().rows[static_cast<size_t>(row - 1)].mac
                    : std::string();
}

void CStatusDlg::OnEditEnded(int editedRow, int col, const QString& text) {
    // A refresh while the editor was open may have moved the device to another row (or off
    // the page): the name goes to the device whose cell was opened, never to the row's new
    // occupant, and that occupant's cell gets its own text back.
    const int rows = static_cast<int>(Shown().rows.size());
    const int row = m_editMac.empty() ? -1 : RowOfMac(m_editMac);
    if (row != editedRow && editedRow >= 1 && editedRow <= rows) {
        const fd::DeviceRow& other = Shown().rows[static_cast<size_t>(editedRow - 1)];
        if (col < static_cast<int>(other.cells.size())) {
            Grid()->SetItemText(editedRow, col,
                                QString::fromStdString(other.cells[static_cast<size_t>(col)]));
        }
    }
    if (row < 1 || row > rows) return;
    const fd::DeviceRow& r = Shown().rows[static_cast<size_t>(row - 1)];
    const fd::RenameDecision d =
        fd::DecideRename(text.toStdString(), m_editStartText.toStdString(), r.modelCode);
    switch (d.outcome) {
        case fd::RenameOutcome::Unchanged:
            return;
        case fd::RenameOutcome::Refused:
            fd::ShowPageWarning(this, QString::fromLatin1(fd::DeviceNameRuleMessage(r.modelCode)));
            Grid()->SetItemText(row, col, m_editStartText);
            return;
        case fd::RenameOutcome::Accepted:
            Grid()->SetItemText(row, col, QString::fromStdString(d.name));
            fd::StartRenameWorker(m_renameWorker, Engine(),
                                  fd::SelectedDevice{r.ip, r.mac, r.modelCode}, d.name,
                                  fd::ServicesReadBack());
            m_reloadTimer.start();
            return;
    }
}

void CStatusDlg::OnSetIp() {
    const fd::SelectionResult sel = CollectSelection(fd::BulkAction::AllTicked);
    if (!sel.ok()) return;
    CIpsetMutilDlg dlg(sel.devices, sel.first, m_ipWorker, Engine(), this);
    fd::RunPageDialog(dlg);
}

void CStatusDlg::OnSetBridge() {
    OnSwitchAction(fd::BulkAction::Bridge);
}

void CStatusDlg::OnAirSlot() {
    OnSwitchAction(fd::BulkAction::AirSlot);
}

void CStatusDlg::OnSwitchAction(fd::BulkAction action) {
    const fd::SelectionResult sel = CollectSelection(action);
    if (!sel.ok()) return;
    // The block starts from the first device's value in the byte of this action.
    m_setting = sel.settingBlock;
    const bool bridge = action == fd::BulkAction::Bridge;
    auto onSave = [this, action, bridge, devices = sel.devices](int enable) {
        fd::SetSettingChoice(m_setting, action, enable);
        fd::StartSettingWorker(SettingWorker(action), Engine(),
                               bridge ? fd::CMD_TRANSPARENT_BRIDGE : fd::CMD_AIRSLOT, devices,
                               m_setting);
        m_reloadTimer.start();
    };
    if (bridge) {
        CBridgeSetMultiDlg dlg(sel.first.bridge_transparent, onSave, this);
        fd::RunPageDialog(dlg);
    } else {
        CAirSlotSetMultiDlg dlg(sel.first.tdmaEn, onSave, this);
        fd::RunPageDialog(dlg);
    }
}

void CStatusDlg::OnExport() {
    const QString path = fd::ChooseFileToSave(this, fd::Tr("Export"), QStringLiteral("devices.csv"),
                                              QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty()) return;
    if (!ExportTo(path)) fd::ShowPageWarning(this, QStringLiteral("The file cannot be written!"));
}

bool CStatusDlg::ExportTo(const QString& path) {
    if (Store() == nullptr) return false;
    const fd::DeviceListPage& shown = Shown();
    const fd::DeviceListExport out =
        fd::ExportDeviceList(*Store(), List().Columns(), shown.sortColumn, shown.ascending,
                             List().Filter());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    const qint64 size = static_cast<qint64>(out.csv.size());
    return file.write(out.csv.data(), size) == size && file.flush();
}
