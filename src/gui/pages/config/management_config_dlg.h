#pragma once
// The configuration dialog of one device ("Device management"): four tabs (wireless,
// addresses and name, VLAN, timed reboot) over a copy of the device's record. Save runs the
// four collect steps in order; on a refusal it shows the message and stays open, otherwise it
// starts the page's sender with what changed, shows the wait that fits, and closes.

#include <array>

#include "actions/configuration_sender.h"
#include "controls/t_dialog.h"
#include "engine/device_engine.h"

class CIPSetDlg;
class CTButtonPicture;
class CTimeRebootDlg;
class CVlanDlg;
class CWirelessSetDlg;

class CManagementConfigDlg : public CTDialog {
    Q_OBJECT
public:
    enum Tab { kWirelessTab = 0, kIpTab = 1, kVlanTab = 2, kRebootTab = 3 };

    // target: where the device is now. sender: the page's slot; its worker outlives the
    // dialog.
    CManagementConfigDlg(const ap_info_stu& rec, fd::ConfigurationTarget target,
                         fd::IDeviceEngine& engine, IDeviceStore& store, fd::WorkerSlot& sender,
                         QWidget* parent = nullptr);

    void ShowTab(int tab);
    int CurrentTab() const { return m_tab; }
    void OnSave();
    // What the last Save handed the sender (empty before a successful Save).
    const fd::PendingConfiguration& Pending() const { return m_pending; }

    CWirelessSetDlg* WirelessPage() const { return m_wireless; }
    CIPSetDlg* IpPage() const { return m_ip; }
    CVlanDlg* VlanPage() const { return m_vlan; }
    CTimeRebootDlg* RebootPage() const { return m_reboot; }
    CTButtonPicture* TabButton(int tab) const { return m_tabs[static_cast<std::size_t>(tab)]; }
    CTButtonPicture* SaveButton() const { return m_save; }
    CTButtonPicture* CancelButton() const { return m_cancel; }
    CTButtonPicture* CloseButton() const { return m_close; }

private:
    ap_info_stu m_rec;
    fd::ConfigurationTarget m_target;
    fd::IDeviceEngine& m_engine;
    IDeviceStore& m_store;
    fd::WorkerSlot& m_sender;
    fd::PendingConfiguration m_pending;
    int m_tab = kWirelessTab;
    std::array<CTButtonPicture*, 4> m_tabs{};
    CWirelessSetDlg* m_wireless;
    CIPSetDlg* m_ip;
    CVlanDlg* m_vlan;
    CTimeRebootDlg* m_reboot;
    CTButtonPicture* m_save;
    CTButtonPicture* m_cancel;
    CTButtonPicture* m_close;
};
