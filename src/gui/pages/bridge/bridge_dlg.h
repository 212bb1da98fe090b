#pragma once
// The bridge page: the common device list whose "Operate" cell opens the bridge wizard for
// that device.

#include <QTimer>
#include <memory>

#include "model/device_target.h"
#include "actions/device_workers.h"
#include "pages/devices/device_list_page.h"

class CBridgeConfigDlg;

class CBridgeDlg : public CDeviceListPage {
    Q_OBJECT
public:
    explicit CBridgeDlg(QWidget* parent = nullptr);
    ~CBridgeDlg() override;

    // Opens the wizard for the device on grid row `row` (from 1), unless its mode switch
    // holds it in AP mode. Runs it modally, then reloads the list once 2 s later.
    void OpenWizard(int row);

    const DeviceTarget& Target() const { return m_target; }
    CBridgeConfigDlg* Wizard() const { return m_wizard.get(); }
    QTimer& ReloadTimer() { return m_reloadTimer; }
    fd::WorkerSlot& SendWorker() { return m_sendWorker; }

protected:
    void OnRowClicked(int row, int col) override;

private:
    DeviceTarget m_target{};
    fd::WorkerSlot m_sendWorker;
    std::unique_ptr<CBridgeConfigDlg> m_wizard;
    QTimer m_reloadTimer;  // 1000: once, 2 s after the wizard closed
};
