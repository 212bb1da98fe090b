#pragma once
// The upgrade page (the common device list, at most ten ticked devices) and the upgrade
// dialog it opens: model and image choice, then the timed course of fd::CUpgradeSession,
// whose statuses the page's Status column follows.

#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "actions/upgrade_session.h"
#include "controls/t_dialog.h"
#include "pages/devices/device_list_page.h"

class CTButtonPicture;
class CTEdit;
class CTStatic;
class QComboBox;
class QProgressBar;

namespace fd {
// The file server a new upgrade dialog uses (tests: a recording one, or the program under
// another name); an empty factory gives the FileServer beside the program.
using UpgradeFileServerFactory = std::function<std::unique_ptr<IUpgradeFileServer>()>;
void SetUpgradeFileServerFactory(UpgradeFileServerFactory factory);
// What the browse button asks for; an empty chooser opens the file dialog.
using UpgradeFileChooser = std::function<QString(QWidget* parent)>;
void SetUpgradeFileChooser(UpgradeFileChooser chooser);
// The period of a new dialog's timer (tests shorten the upgrade's second).
void SetUpgradeTickMs(int ms);
}  // namespace fd

class CUpgradeConfigDlg : public CTDialog {
    Q_OBJECT
public:
    using StatusSink = std::function<void(const std::string& mac, int status)>;
    CUpgradeConfigDlg(std::vector<DeviceTarget> targets, fd::IDeviceEngine& engine,
                      IDeviceStore& store, StatusSink showStatus, QWidget* parent = nullptr);
    ~CUpgradeConfigDlg() override;

    // Browse (Scan): remembers the chosen image.
    void OnBrowse();
    // Upgrade: the checks, the confirmation, then the upgrade starts.
    void OnUpgrade();
    // The close button.
    void OnClose();
    // One second of the upgrade (the dialog's timer); tests call it directly.
    void OnTick();
    // As if the user had chosen this file in the browse dialog.
    void SetImagePath(const QString& path);

    QComboBox* ModelCombo() const { return m_model; }
    CTEdit* PathEdit() const { return m_path; }
    CTButtonPicture* ScanButton() const { return m_scan; }
    CTButtonPicture* UpgradeButton() const { return m_upgrade; }
    CTButtonPicture* CloseButton() const { return m_close; }
    CTStatic* PhaseText() const { return m_phase; }
    QProgressBar* Progress() const { return m_bar; }
    QTimer& Timer() { return m_timer; }
    const fd::CUpgradeSession& Session() const { return *m_session; }

private:
    void ShowPhase();
    // After the upgrade: which devices could not fetch the image, and why as far as known.
    void ReportFailedFetches();

    std::vector<DeviceTarget> m_targets;
    fd::CUpgradeTally m_tally;
    std::unique_ptr<fd::IUpgradeFileServer> m_server;
    std::unique_ptr<fd::CUpgradeSession> m_session;
    StatusSink m_showStatus;
    std::string m_fileName;

    CTStatic* m_title;
    CTButtonPicture* m_close;
    QComboBox* m_model;
    CTEdit* m_path;
    CTButtonPicture* m_scan;
    CTButtonPicture* m_upgrade;
    CTStatic* m_phase;
    QProgressBar* m_bar;
    QTimer m_timer;
};

class CUpgradeDlg : public CDeviceListPage {
    Q_OBJECT
public:
    static constexpr int kMaxDevices = 10;

    explicit CUpgradeDlg(QWidget* parent = nullptr);

    // The Upgrade button: the ticked rows (one to ten), the dialog, then a search and a
    // reload one second later.
    void OnUpgrade();
    // The dialog's status display: the Status cell of the row with this MAC.
    void ShowStatus(const std::string& mac, int status);

    CTButtonPicture* UpgradeButton() const { return m_action; }
    QTimer& ReloadTimer() { return m_reloadTimer; }
    const std::vector<DeviceTarget>& Targets() const { return m_targets; }

private:
    CTButtonPicture* m_action;
    std::vector<DeviceTarget> m_targets;
    QTimer m_reloadTimer;  // 1000: once, after the dialog
};
