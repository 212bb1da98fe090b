#pragma once
// The management page: the common device list without tick boxes; the Operate cell of a
// device opens its configuration dialog. The page's periodic refresh pauses while the dialog
// is open, and the list is reloaded once, 2 s after it closes.

#include <QTimer>

#include "actions/configuration_sender.h"
#include "pages/devices/device_list_page.h"

class CManagementConfigDlg;

class CManagementDlg : public CDeviceListPage {
    Q_OBJECT
public:
    explicit CManagementDlg(QWidget* parent = nullptr);
    ~CManagementDlg() override;

    // Timer 1000: one reload after the dialog.
    QTimer& ReloadTimer() { return m_reloadTimer; }
    fd::WorkerSlot& Sender() { return m_sender; }
    // The device the last dialog was opened for.
    const fd::ConfigurationTarget& Target() const { return m_target; }

    // Export plan...: the found devices' settings, keys included, as a plan file (0600).
    void OnExportPlan();
    bool ExportPlanTo(const QString& path);
    // Apply plan...: reads a plan, checks it against the stored devices and opens the
    // preview, from which it is applied.
    void OnApplyPlan();
    void ApplyPlanFrom(const QString& path);
    CTButtonPicture* ExportPlanButton() const { return m_exportPlan; }
    CTButtonPicture* ApplyPlanButton() const { return m_applyPlan; }

protected:
    void OnRowClicked(int row, int col) override;

private:
    fd::ConfigurationTarget m_target;
    fd::WorkerSlot m_sender;
    QTimer m_reloadTimer;
    CTButtonPicture* m_exportPlan;
    CTButtonPicture* m_applyPlan;
};
