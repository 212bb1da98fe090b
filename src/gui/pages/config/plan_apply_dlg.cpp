#include "pages/config/plan_apply_dlg.h"

#include <QFile>
#include <QHeaderView>
#include <QTimer>

#include "app/app_context.h"
#include "app/skin.h"
#include "app/translate.h"
#include "controls/t_button_picture.h"
#include "pages/config/config_controls.h"
#include "pages/devices/page_messages.h"

namespace {

enum Column { kMac, kIp, kResult, kSettings, kColumns };

// The result column's words, language keys.
// lang-keys:begin
const char* StateKey(fd::PlanState state, bool applying) {
    switch (state) {
        case fd::PlanState::Sending:
            return applying ? "sending" : "will change";
        case fd::PlanState::Sent:
            return "waiting";
        case fd::PlanState::Verified:
            return "verified";
        case fd::PlanState::Unchanged:
            return "unchanged";
        case fd::PlanState::NotApplied:
            return "not applied";
        case fd::PlanState::Failed:
            return "failed";
        case fd::PlanState::NoAnswer:
            return "no answer";
        case fd::PlanState::Refused:
            return "refused";
        case fd::PlanState::NotFound:
            return "not found";
        case fd::PlanState::WrongModel:
            return "wrong model";
    }
    // lang-keys:end
    return "";
}

bool IsGood(fd::PlanState state) {
    return state == fd::PlanState::Verified || state == fd::PlanState::Unchanged;
}
bool IsUnderWay(fd::PlanState state) {
    return state == fd::PlanState::Sending || state == fd::PlanState::Sent;
}

// Green when done, blue while under way, red for every way a row ends without its settings.
QColor StateColor(fd::PlanState state) {
    if (IsGood(state)) return QColor(0, 128, 0);
    if (IsUnderWay(state)) return QColor(0, 80, 170);
    return QColor(200, 0, 0);
}

// "name: Mast-1 → Mast-9; ssid: lab-0 → field"; keys show no value.
QString ChangesText(const std::vector<fd::PlanFieldChange>& changes) {
    QStringList parts;
    for (const auto& c : changes) {
        QString p = QString::fromStdString(c.column);
        if (c.from != "(hidden)")
            p += QStringLiteral(": ") + QString::fromStdString(c.from) + QStringLiteral(" → ") +
                 QString::fromStdString(c.to);
        parts << p;
    }
    return parts.join(QStringLiteral("; "));
}

}  // namespace

CPlanApplyDlg::CPlanApplyDlg(std::vector<fd::PlanEvaluation> rows,
                             std::vector<fd::PlanProblem> problems, fd::AddressMoveOrder order,
                             fd::IDeviceEngine& engine, fd::CommandLog* log, QWidget* parent)
    : MultiSetFrame(QStringLiteral("Apply plan"), QSize(900, 560), parent),
      m_rows(std::move(rows)),
      m_problems(std::move(problems)),
      m_order(std::move(order)),
      m_engine(engine),
      m_log(log),
      m_table(new QTableWidget(this)),
      m_reportButton(new CTButtonPicture(this)),
      m_summary(new CTStatic(this)),
      m_wait(fd::AddFieldCheck(this, QStringLiteral("Wait for the devices not found"), 580,
                               560 - 44, 300)) {
    const fd::GuiSkin& skin = fd::Skin();
    m_table->setGeometry(20, 50, 860, 440);
    m_table->setColumnCount(kColumns);
    m_table->setHorizontalHeaderLabels({fd::Tr("MAC"), fd::Tr("IP"), fd::Tr("Result"),
                                        fd::Tr("Settings")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(24);
    m_table->setFont(skin.StaticFont());
    m_table->setColumnWidth(kMac, 140);
    m_table->setColumnWidth(kIp, 110);
    m_table->setColumnWidth(kResult, 110);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setWordWrap(false);
    m_table->setRowCount(static_cast<int>(m_problems.size() + m_rows.size()));
    m_states.resize(static_cast<std::size_t>(m_table->rowCount()), fd::PlanState::Refused);
    int r = 0;
    for (const fd::PlanProblem& p : m_problems)
        SetRow(r++, QString::fromStdString(p.mac.empty() ? "-" : p.mac), QStringLiteral("-"),
               fd::PlanState::Refused, QString::fromStdString(fd::PlanProblemText(p)));
    for (const fd::PlanEvaluation& e : m_rows)
        SetRow(r++, QString::fromStdString(e.row->mac),
               QString::fromStdString(e.ip.empty() ? "-" : e.ip), e.state,
               e.state == fd::PlanState::Sending ? ChangesText(e.check.changes)
                                                 : QString::fromStdString(e.detail));
    m_table->resizeColumnToContents(kSettings);

    SaveButton()->setText(QStringLiteral("Apply"));
    const bool awaited = std::any_of(m_rows.begin(), m_rows.end(), [](const auto& e) {
        return e.state == fd::PlanState::NotFound;
    });
    m_wait->setVisible(awaited);
    connect(m_wait, &QCheckBox::toggled, this, [this] { UpdateApplyButton(); });
    UpdateApplyButton();
    if (!m_order.error.empty()) SaveButton()->setToolTip(QString::fromStdString(m_order.error));
    connect(SaveButton(), &QAbstractButton::clicked, this, &CPlanApplyDlg::OnApply);

    m_reportButton->SetImage(skin.Image(QStringLiteral("btn_export.bmp")));
    m_reportButton->SetFontSpec(skin.fontName, skin.buttonFontHeight - 2, skin.buttonFontWeight);
    m_reportButton->SetTextColors(skin.buttonFontColor, QColor(255, 255, 255),
                                  QColor(153, 153, 153));
    m_reportButton->SetAlign(256, 30);
    m_reportButton->setText(QStringLiteral("Save report..."));
    m_reportButton->setGeometry(20, 560 - 44, 140, 26);
    m_reportButton->setEnabled(false);
    connect(m_reportButton, &QAbstractButton::clicked, this, &CPlanApplyDlg::OnSaveReport);
    m_summary->ApplyStaticSkin();
    m_summary->setGeometry(20, 494, 860, 20);
    fd::MarkUntranslated(m_summary);
    ShowSummary();
    m_worker.SetFinishedHandler(
        [this] { QMetaObject::invokeMethod(this, [this] { OnWorkerDone(); }, Qt::QueuedConnection); });
    fd::TranslateDialog(this);
}

void CPlanApplyDlg::UpdateApplyButton() {
    const bool anything = std::any_of(m_rows.begin(), m_rows.end(), [this](const auto& e) {
        return e.state == fd::PlanState::Sending ||
               (m_wait->isChecked() && e.state == fd::PlanState::NotFound);
    });
    SaveButton()->setEnabled(anything && m_log != nullptr && m_order.error.empty() &&
                             !m_worker.Running() && !m_finished);
}

void CPlanApplyDlg::ShowFound(const fd::PlanEvaluation& e) {
    const int row = RowOfMac(e.row->mac);
    if (row < 0) return;
    m_rows[static_cast<std::size_t>(row) - m_problems.size()] = e;
    SetRow(row, QString::fromStdString(e.row->mac), QString::fromStdString(e.ip), e.state,
           e.state == fd::PlanState::Sending ? ChangesText(e.check.changes)
                                             : QString::fromStdString(e.detail));
    ShowSummary();
}

CPlanApplyDlg::~CPlanApplyDlg() {
    m_worker.Stop();
}

void CPlanApplyDlg::SetRow(int row, const QString& mac, const QString& ip, fd::PlanState state,
                           const QString& detail) {
    // The result in its colour; the settings in red only when they say why a row failed.
    const bool failed = !IsGood(state) && !IsUnderWay(state);
    auto put = [&](int col, const QString& text, bool coloured) {
        auto* item = m_table->item(row, col);
        if (!item) {
            item = new QTableWidgetItem;
            m_table->setItem(row, col, item);
        }
        item->setText(text);
        item->setToolTip(text);
        item->setForeground(coloured ? StateColor(state) : QColor(0, 0, 0));
    };
    put(kMac, mac, false);
    put(kIp, ip, false);
    put(kResult, fd::Tr(StateKey(state, m_worker.Running() || m_finished)), true);
    put(kSettings, detail, failed);
    m_states[static_cast<std::size_t>(row)] = state;
}

// lang-keys:begin
QString CPlanApplyDlg::Summary() const {
    int good = 0, underWay = 0, bad = 0;
    for (fd::PlanState s : m_states) (IsGood(s) ? good : IsUnderWay(s) ? underWay : bad)++;
    const bool started = m_worker.Running() || m_finished;
    // The language file's format has the same conversions as the key (checked by its test).
    const QByteArray format =
        fd::Tr(started ? "Verified or unchanged: %d, under way: %d, not done: %d"
                       : "Unchanged: %d, will change: %d, cannot be applied: %d")
            .toUtf8();
    return QString::asprintf(format.constData(), good, underWay, bad);
}
// lang-keys:end

void CPlanApplyDlg::ShowSummary() {
    m_summary->setText(Summary());
}

int CPlanApplyDlg::RowOfMac(const std::string& mac) const {
    const QString m = QString::fromStdString(mac);
    for (int r = static_cast<int>(m_problems.size()); r < m_table->rowCount(); ++r)
        if (m_table->item(r, kMac)->text() == m) return r;
    return -1;
}

void CPlanApplyDlg::ShowState(const std::string& mac, fd::PlanState state,
                              const std::string& detail) {
    const int row = RowOfMac(mac);
    if (row < 0) return;
    const auto& e = m_rows[static_cast<std::size_t>(row) - m_problems.size()];
    QString text = QString::fromStdString(detail);
    if (state == fd::PlanState::Verified || state == fd::PlanState::Sending ||
        state == fd::PlanState::Sent)
        text = ChangesText(e.check.changes);
    SetRow(row, m_table->item(row, kMac)->text(), m_table->item(row, kIp)->text(), state, text);
    ShowSummary();
}

void CPlanApplyDlg::OnApply() {
    if (m_log == nullptr || m_worker.Running() || m_finished) return;
    SaveButton()->setEnabled(false);
    m_wait->setEnabled(false);
    CancelButton()->setText(fd::Tr("Close"));
    fd::PlanApplyOptions options;
    options.readBack = fd::ServicesReadBack().options;
    options.onState = [this](const std::string& mac, fd::PlanState state,
                             const std::string& detail) {
        QMetaObject::invokeMethod(
            this, [this, mac, state, detail] { ShowState(mac, state, detail); },
            Qt::QueuedConnection);
    };
    options.commandLabel = [](int command) { return "command " + std::to_string(command); };
    // The awaited rows go to the worker as copies: the list's rows are only read by it, and
    // only while ApplyPlan runs (a found device's row is written back on this thread later).
    std::vector<fd::PlanEvaluation> awaited;
    IDeviceStore* store = fd::Services().store;
    if (m_wait->isChecked() && store)
        for (const fd::PlanEvaluation& e : m_rows)
            if (e.state == fd::PlanState::NotFound) awaited.push_back(e);
    fd::PlanWatchOptions watch;
    watch.onFound = [this](const fd::PlanEvaluation& e) {
        QMetaObject::invokeMethod(this, [this, e] { ShowFound(e); }, Qt::QueuedConnection);
    };
    // The rows and the order stay unchanged until the worker is stopped (this destructor).
    m_worker.Start([this, options, watch, store, awaited](std::stop_token stop) {
        auto report = fd::ApplyPlan(m_engine, *m_log, m_rows, m_order, options, stop);
        if (!awaited.empty()) {
            // The staging bench: each awaited device's report row replaces its "not found".
            for (fd::PlanReportRow& found :
                 fd::WatchPlan(m_engine, *store, *m_log, awaited, options, watch, stop))
                for (fd::PlanReportRow& r : report)
                    if (r.mac == found.mac) r = found;
        }
        QMetaObject::invokeMethod(
            this, [this, report = std::move(report)]() mutable { m_report = std::move(report); },
            Qt::QueuedConnection);
    });
}

void CPlanApplyDlg::OnWorkerDone() {
    m_finished = true;
    for (const fd::PlanProblem& p : m_problems)
        m_report.insert(m_report.begin(), {p.mac, p.line, "", fd::PlanState::Refused, "",
                                           fd::PlanProblemText(p), 0});
    m_reportButton->setEnabled(true);
    ShowSummary();
}

void CPlanApplyDlg::OnSaveReport() {
    const QString path = fd::ChooseFileToSave(this, fd::Tr("Save report..."),
                                              QStringLiteral("plan-report.csv"),
                                              QStringLiteral("CSV (*.csv);;JSON (*.json)"));
    if (path.isEmpty()) return;
    const std::string text = fd::FormatPlanReport(m_report, path.endsWith(QStringLiteral(".json")));
    QFile file(path);
    const qint64 size = static_cast<qint64>(text.size());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(text.data(), size) != size || !file.flush())
        fd::ShowPageWarning(this, QStringLiteral("The file cannot be written!"));
}
