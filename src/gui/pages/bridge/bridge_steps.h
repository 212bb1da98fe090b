#pragma once
// The four steps of the bridge wizard, each a child page of CBridgeConfigDlg: pick an
// access point from the device's scan, match its security, set the device's addresses,
// confirm. The rules live in the core (rules/bridge_rules.h, presentation/ap_scan_list.h,
// actions/bridge_wizard.h); the steps gather fields and show messages.

#include <QTimer>
#include <array>
#include <functional>

#include "model/device_target.h"
#include "actions/bridge_wizard.h"
#include "controls/t_dialog.h"
#include "engine/device_engine.h"
#include "presentation/ap_scan_list.h"
#include "rules/bridge_rules.h"

class CGridCtrl;
class CTButtonPicture;
class CTEdit;
class CTPicture;
class CTStatic;
class QComboBox;
class QRadioButton;

// Step 0: the device's neighbour scan and the list to pick from.
class CBridgeSearcgAPDlg : public CTDialog {
    Q_OBJECT
public:
    // setNext enables or disables the wizard's Next button.
    CBridgeSearcgAPDlg(fd::IDeviceEngine& engine, IDeviceStore& store, const DeviceTarget& target,
                       std::function<void(bool)> setNext, QWidget* parent);

    // Empties the list and the neighbour table, asks the device to scan, waits.
    void StartScan();
    // One second of the wait (timer 1000); tests call it directly.
    void OnScanTick();
    void OnCellClicked(int row, int col);
    // The ticked access point's record; false when none is ticked (or it is gone).
    bool TickedAccessPoint(config_otherwl_basic& ap) const;
    // Empties the list (the wizard closes).
    void Clear();

    bool IsScanning() const { return m_wait.Scanning(); }
    const fd::ApScanList& List() const { return m_list; }
    CGridCtrl* Grid() const { return m_grid; }
    CTButtonPicture* ScanButton() const { return m_scan; }
    CTStatic* ScanningLabel() const { return m_scanning; }
    QTimer& ScanTimer() { return m_timer; }

private:
    void Fill();
    void DrawTicks();

    IDeviceStore& m_store;
    DeviceTarget m_target;
    std::function<void(bool)> m_setNext;
    fd::ApScanWait m_wait;
    fd::ApScanList m_list;
    CTStatic* m_heading;
    CTButtonPicture* m_scan;
    CTPicture* m_animation;
    CTStatic* m_scanning;
    CGridCtrl* m_grid;
    QTimer m_timer;
};

// The WEP keys, shown inside the security step for an access point that uses WEP.
class CBridgeWepDlg : public CTDialog {
    Q_OBJECT
public:
    explicit CBridgeWepDlg(QWidget* parent);

    // Authentication 0 Open / 1 Share, default key 1..4, the keys with their formats.
    void Fill(fd::BridgeSecurityForm& form) const;
    QComboBox* AuthCombo() const { return m_auth; }
    QComboBox* DefaultKeyCombo() const { return m_defaultKey; }
    CTEdit* KeyEdit(int k) const { return m_keys[static_cast<std::size_t>(k)]; }
    QComboBox* FormatCombo(int k) const { return m_formats[static_cast<std::size_t>(k)]; }

private:
    QComboBox* m_auth;
    QComboBox* m_defaultKey;
    std::array<CTEdit*, 4> m_keys{};
    std::array<QComboBox*, 4> m_formats{};
};

// Step 1: SSID, channel and security of the access point to join.
class CBridgeSecureDlg : public CTDialog {
    Q_OBJECT
public:
    explicit CBridgeSecureDlg(QWidget* parent);

    // From the ticked access point, for the device with these radio settings.
    void Prefill(int apType, int rfType, int countryCode, int bandwidth,
                 const config_otherwl_basic& ap);
    // The checks; on success the wireless block. False after showing the first message.
    bool CheckAndFill(BridgeWirelessBlock& block);
    // The user chose another entry of the security list.
    void OnSecurityChanged(int index);

    const fd::BridgeSecurityView& View() const { return m_view; }
    CTEdit* SsidEdit() const { return m_ssid; }
    QComboBox* ChannelCombo() const { return m_channel; }
    QComboBox* SecurityCombo() const { return m_security; }
    QRadioButton* CipherRadio(fd::PskCipher c) const {
        return m_ciphers[static_cast<std::size_t>(c)];
    }
    CTEdit* KeyEdit() const { return m_key; }
    CBridgeWepDlg* WepPage() const { return m_wep; }

private:
    void FillSecurityList(bool withWep);
    void Apply(const fd::BridgeSecurityView& view);

    int m_apType = 1;
    fd::MacBytes m_apMac{};
    fd::BridgeSecurityView m_view;
    CTEdit* m_ssid;
    QComboBox* m_channel;
    QComboBox* m_security;
    std::array<QRadioButton*, 3> m_ciphers{};
    CTEdit* m_key;
    CTStatic* m_keyTimeLabel;
    CTEdit* m_keyTime;
    CBridgeWepDlg* m_wep;
};

// Step 2: the device's addresses.
class CBridgeIPSetDlg : public CTDialog {
    Q_OBJECT
public:
    CBridgeIPSetDlg(IDeviceStore& store, QWidget* parent);

    void Prefill(const IpConfigBlock& block);
    // The address checks and the in-use check against the device's current address.
    bool CheckAndFill(const std::string& currentIp, IpConfigBlock& block);

    fd::AddressForm Form() const;
    CTEdit* IpEdit() const { return m_ip; }
    CTEdit* MaskEdit() const { return m_mask; }
    CTEdit* GatewayEdit() const { return m_gateway; }
    CTEdit* Dns1Edit() const { return m_dns1; }
    CTEdit* Dns2Edit() const { return m_dns2; }

private:
    CTEdit* AddAddress(const QString& key, int y);

    IDeviceStore& m_store;
    CTEdit* m_ip;
    CTEdit* m_mask;
    CTEdit* m_gateway;
    CTEdit* m_dns1;
    CTEdit* m_dns2;
};

// Step 3: the closing picture.
class CBridgeFinishDlg : public CTDialog {
    Q_OBJECT
public:
    explicit CBridgeFinishDlg(QWidget* parent);
};
