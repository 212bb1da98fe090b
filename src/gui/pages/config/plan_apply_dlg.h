#pragma once
// Apply plan: the check of every row of a plan against its device, shown before anything is
// sent (the device, its result, each setting current -> new, a refusal in red with its line,
// column and reason); Apply sends the rows that can go from a worker (ApplyPlan) while the
// list shows each device's state as it changes; at the end the report can be saved. With
// "Wait for the devices not found" ticked it goes on searching afterwards and applies each
// awaited device as soon as it appears (the staging bench), until every row is done or the
// dialog is closed.

#include <QCheckBox>
#include <QTableWidget>
#include <atomic>
#include <vector>

#include "actions/device_workers.h"
#include "controls/t_static.h"
#include "pages/devices/multi_set_dlgs.h"
#include "presentation/plan_apply.h"
#include "presentation/plan_check.h"

class CPlanApplyDlg : public fd::MultiSetFrame {
    Q_OBJECT
public:
    // rows: the check's result per row (EvaluatePlanRows); problems: rows the file itself
    // refused; order: the address moves. log null: nothing can be applied.
    CPlanApplyDlg(std::vector<fd::PlanEvaluation> rows, std::vector<fd::PlanProblem> problems,
                  fd::AddressMoveOrder order, fd::IDeviceEngine& engine, fd::CommandLog* log,
                  QWidget* parent = nullptr);
    ~CPlanApplyDlg() override;

    // Starts the worker; the Apply button is disabled from then on.
    void OnApply();
    // Asks where to save the report and writes it (CSV, or JSON for a .json name).
    void OnSaveReport();

    QTableWidget* Table() const { return m_table; }
    CTButtonPicture* ApplyButton() const { return SaveButton(); }
    CTButtonPicture* ReportButton() const { return m_reportButton; }
    // "Wait for the devices not found": after the rows that can go, the dialog keeps
    // searching and applies each awaited device's row as soon as the device appears.
    QCheckBox* WaitBox() const { return m_wait; }
    // The counts below the list.
    QString Summary() const;
    bool Running() const { return m_worker.Running(); }
    bool Finished() const { return m_finished; }
    // The row of the list for a MAC, or -1.
    int RowOfMac(const std::string& mac) const;
    // The report of the run once it finished.
    const std::vector<fd::PlanReportRow>& Report() const { return m_report; }

private:
    void ShowState(const std::string& mac, fd::PlanState state, const std::string& detail);
    void OnWorkerDone();
    void SetRow(int row, const QString& mac, const QString& ip, fd::PlanState state,
                const QString& detail);
    void ShowSummary();
    void UpdateApplyButton();
    // A device awaited by the staging bench has appeared, its row checked.
    void ShowFound(const fd::PlanEvaluation& e);

    std::vector<fd::PlanEvaluation> m_rows;
    std::vector<fd::PlanProblem> m_problems;
    fd::AddressMoveOrder m_order;
    fd::IDeviceEngine& m_engine;
    fd::CommandLog* m_log;
    QTableWidget* m_table;
    CTButtonPicture* m_reportButton;
    CTStatic* m_summary;
    QCheckBox* m_wait;
    std::vector<fd::PlanState> m_states;  // per row of the list
    std::vector<fd::PlanReportRow> m_report;
    bool m_finished = false;
    fd::WorkerSlot m_worker;  // last: stopped before the rest goes
};
