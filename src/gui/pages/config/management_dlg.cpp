#include "pages/config/management_dlg.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

#include "app/app_context.h"
#include "app/child_dlg.h"
#include "app/skin.h"
#include "app/translate.h"
#include "config/labels.h"
#include "controls/grid_ctrl.h"
#include "controls/t_button_picture.h"
#include "pages/config/management_config_dlg.h"
#include "pages/config/plan_apply_dlg.h"
#include "pages/devices/page_messages.h"
#include "presentation/device_list.h"
#include "presentation/plan_check.h"
#include "presentation/plan_file.h"

CManagementDlg::CManagementDlg(QWidget* parent)
    : CDeviceListPage(fd::kPageManagement, fd::ManagementPageColumns(), parent),
      m_exportPlan(AddToolButton(QStringLiteral("Export plan..."), 570, 110)),
      m_applyPlan(AddToolButton(QStringLiteral("Apply plan..."), 690, 110)) {
    connect(m_exportPlan, &QAbstractButton::clicked, this, &CManagementDlg::OnExportPlan);
    connect(m_applyPlan, &QAbstractButton::clicked, this, &CManagementDlg::OnApplyPlan);
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

void CManagementDlg::OnExportPlan() {
    const QString path =
        fd::ChooseFileToSave(this, fd::Tr("Export plan..."), QStringLiteral("site.csv"),
                             QStringLiteral("CSV (*.csv);;JSON (*.json)"));
    if (path.isEmpty()) return;
    if (!ExportPlanTo(path)) fd::ShowPageWarning(this, QStringLiteral("The file cannot be written!"));
}

bool CManagementDlg::ExportPlanTo(const QString& path) {
    IDeviceStore& store = StoreOrEmpty();
    const auto rows =
        fd::ListEveryDevice(store, List().Columns(), 1, true, List().Filter()).rows;
    std::vector<fd::PlanRow> plan;
    for (const fd::DeviceRow& r : rows) {
        ap_info_stu rec{};
        if (r.discoveredOnly || !store.QueryApByMac(r.mac, rec)) continue;
        plan.push_back(fd::PlanRowOf(rec, true));
    }
    const std::string text = path.endsWith(QStringLiteral(".json"))
                                 ? fd::WritePlanJson(plan, true)
                                 : fd::WritePlanCsv(plan, true);
    // The keys are the owner's alone, also in a file that was there before.
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, 0600) == 0;
    for (std::size_t at = 0; ok && at < text.size();) {
        const ssize_t n = ::write(fd, text.data() + at, text.size() - at);
        ok = n > 0;
        if (ok) at += static_cast<std::size_t>(n);
    }
    return ::close(fd) == 0 && ok;
}

void CManagementDlg::OnApplyPlan() {
    const QString path = fd::ChooseFileToOpen(this, QStringLiteral("Plan (*.csv *.json)"));
    if (!path.isEmpty()) ApplyPlanFrom(path);
}

void CManagementDlg::ApplyPlanFrom(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fd::ShowPageWarning(this, QStringLiteral("The file cannot be read!"));
        return;
    }
    const QByteArray bytes = file.read(static_cast<qint64>(fd::kPlanMaxBytes) + 1);
    const fd::PlanFile plan = fd::ReadPlan(std::string_view(bytes.constData(), bytes.size()));
    if (!plan.refused.empty()) {
        fd::ShowPageWarning(this, QString::fromStdString(plan.refused));
        return;
    }
    if (plan.HasKeys() && (file.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther)))
        fd::ShowPageWarning(this, QStringLiteral("The plan holds keys and can be read by other users."));
    // The devices as the page's searches stored them: a row whose device was not found is
    // shown as such.
    std::vector<fd::PlanEvaluation> rows(plan.rows.size());
    std::vector<fd::PlanEvaluation*> pointers;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i].row = &plan.rows[i];
        pointers.push_back(&rows[i]);
    }
    fd::AddressMoveOrder order = fd::EvaluatePlanRows(StoreOrEmpty(), pointers, {});
    // Devices swapping their addresses: nothing can be applied (the preview still shows
    // every row).
    if (!order.error.empty()) fd::ShowPageWarning(this, QString::fromStdString(order.error));

    auto* host = qobject_cast<CChildDlg*>(parentWidget());
    if (host) host->SetAutoRefresh(false);
    {
        CPlanApplyDlg dlg(std::move(rows), plan.problems, std::move(order), Engine(),
                          fd::Services().commands, this);
        fd::RunPageDialog(dlg);
    }
    if (host) host->SetAutoRefresh(true);
    m_reloadTimer.start();
}
