#pragma once
// The bridge wizard: four steps in one frame with Back, Next (Save on the last step) and a
// close button. Save sends the configuration once, on a worker of the bridge page's, and
// closes; closing at any step sends nothing. Either way the neighbour table is emptied.

#include "model/device_target.h"
#include "actions/bridge_wizard.h"
#include "controls/t_dialog.h"
#include "engine/device_engine.h"
#include "model/device_store.h"

class CBridgeFinishDlg;
class CBridgeIPSetDlg;
class CBridgeSearcgAPDlg;
class CBridgeSecureDlg;
class CTButtonPicture;
class CTStatic;

class CBridgeConfigDlg : public CTDialog {
    Q_OBJECT
public:
    // device: the chosen device's record; target: where the scan and the configuration go;
    // sendSlot: the page's worker slot, which outlives the wizard.
    CBridgeConfigDlg(const ap_info_stu& device, const DeviceTarget& target,
                     fd::IDeviceEngine& engine, IDeviceStore& store, fd::WorkerSlot& sendSlot,
                     QWidget* parent = nullptr);

    void OnNext();
    void OnBack();
    void OnClose();

    int Step() const { return m_flow.Step(); }
    CTButtonPicture* BackButton() const { return m_back; }
    CTButtonPicture* NextButton() const { return m_next; }
    CTButtonPicture* CloseButton() const { return m_close; }
    CBridgeSearcgAPDlg* ScanStep() const { return m_scan; }
    CBridgeSecureDlg* SecureStep() const { return m_secure; }
    CBridgeIPSetDlg* IpStep() const { return m_ipStep; }
    CBridgeFinishDlg* FinishStep() const { return m_finish; }
    const BridgeWirelessBlock& WirelessBlock() const { return m_wireless; }
    const IpConfigBlock& IpBlock() const { return m_ip; }

private:
    void ShowStep();

    ap_info_stu m_device;
    DeviceTarget m_target;
    fd::IDeviceEngine& m_engine;
    IDeviceStore& m_store;
    fd::WorkerSlot& m_sendSlot;
    fd::BridgeWizardFlow m_flow;
    BridgeWirelessBlock m_wireless{};
    IpConfigBlock m_ip{};
    CTStatic* m_title;
    CTButtonPicture* m_close;
    CTButtonPicture* m_back;
    CTButtonPicture* m_next;
    CBridgeSearcgAPDlg* m_scan;
    CBridgeSecureDlg* m_secure;
    CBridgeIPSetDlg* m_ipStep;
    CBridgeFinishDlg* m_finish;
};
