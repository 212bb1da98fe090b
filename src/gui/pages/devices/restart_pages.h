#pragma once
// The reboot and restore pages: the common device list with a Status column and one button
// that restarts (or resets) every ticked device. Access points with a bridged station go
// first; a wait dialog runs while the devices come back and the Status column follows them
// every second.

#include <QTimer>
#include <vector>

#include "pages/devices/device_list_page.h"
#include "actions/device_workers.h"

class CTButtonPicture;

namespace fd {
struct RestartPageKind {
    int pageId;
    std::span<const DeviceColumn> columns;
    const char* buttonKey;  // "Reboot" / "Restore"
    const char* buttonImage;
    const char* confirmKey;  // the question before anything is sent
    int command;             // fd::CMD_REBOOT / fd::CMD_RESET
    int waitSeconds;
    int waitSearches;
    const char* waitKey;  // what the wait dialog says it waits for
};
}  // namespace fd

class CRestartPage : public CDeviceListPage {
    Q_OBJECT
public:
    CRestartPage(const fd::RestartPageKind& kind, QWidget* parent);

    // The page's button: selection, confirmation, worker, wait dialog, reload.
    void OnAction();
    // Timer 1000: the Status cells of the selected devices from the store.
    void OnStatusTimer();

    CTButtonPicture* ActionButton() const { return m_action; }
    QTimer& StatusTimer() { return m_statusTimer; }
    QTimer& ReloadTimer() { return m_reloadTimer; }
    fd::WorkerSlot& Worker() { return m_worker; }
    const std::vector<fd::SelectedDevice>& Selection() const { return m_selection; }
    const fd::RestartPageKind& Kind() const { return m_kind; }

private:
    fd::RestartPageKind m_kind;
    CTButtonPicture* m_action;
    std::vector<fd::SelectedDevice> m_selection;
    fd::WorkerSlot m_worker;
    QTimer m_statusTimer;  // 1000: every second while the wait dialog runs
    QTimer m_reloadTimer;  // 2000: once, 1 s after the wait dialog
};

class CRebootDlg : public CRestartPage {
    Q_OBJECT
public:
    explicit CRebootDlg(QWidget* parent = nullptr);
};

class CRestoreDlg : public CRestartPage {
    Q_OBJECT
public:
    explicit CRestoreDlg(QWidget* parent = nullptr);
};
