#pragma once
// The device status page: the common device list with its 14 columns, the web-page cell,
// renaming in place, the bulk actions Set IP, Set Bridge and AirSlot, and an export of the
// filtered list to a CSV file.

#include <QString>
#include <QTimer>

#include "pages/devices/device_list_page.h"
#include "actions/device_workers.h"

class CTButtonPicture;

class CStatusDlg : public CDeviceListPage {
    Q_OBJECT
public:
    explicit CStatusDlg(QWidget* parent = nullptr);
    ~CStatusDlg() override;

    void OnSetIp();
    void OnSetBridge();
    void OnAirSlot();
    // Asks for a file and writes the filtered list (every page) to it.
    void OnExport();
    // Writes the filtered list as CSV; false when the file cannot be written.
    bool ExportTo(const QString& path);

    CTButtonPicture* SetIpButton() const { return m_setIp; }
    CTButtonPicture* SetBridgeButton() const { return m_setBridge; }
    CTButtonPicture* AirSlotButton() const { return m_airSlot; }
    CTButtonPicture* ExportButton() const { return m_export; }
    const fd::SettingBlock& SettingBlock() const { return m_setting; }
    // Timer 2000: one reload after a rename or a bulk switch.
    QTimer& ReloadTimer() { return m_reloadTimer; }
    fd::WorkerSlot& RenameWorker() { return m_renameWorker; }
    fd::WorkerSlot& SettingWorker(fd::BulkAction action) {
        return action == fd::BulkAction::AirSlot ? m_airSlotWorker : m_bridgeWorker;
    }
    fd::WorkerSlot& IpWorker() { return m_ipWorker; }

protected:
    void OnRowClicked(int row, int col) override;
    bool CanEditCell(int row, int col) const override;
    void OnEditBegun(int row, int col) override;
    void OnEditEnded(int row, int col, const QString& text) override;

private:
    void OnSwitchAction(fd::BulkAction action);

    CTButtonPicture* m_setIp;
    CTButtonPicture* m_setBridge;
    CTButtonPicture* m_airSlot;
    CTButtonPicture* m_export;
    QString m_editStartText;
    std::string m_editMac;  // the device being renamed, whatever row it is on by the end
    fd::SettingBlock m_setting{};
    fd::WorkerSlot m_renameWorker;
    fd::WorkerSlot m_ipWorker;
    fd::WorkerSlot m_bridgeWorker;
    fd::WorkerSlot m_airSlotWorker;
    QTimer m_reloadTimer;
};
