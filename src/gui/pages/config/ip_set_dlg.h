#pragma once
// The "IPSET" page of the configuration dialog: the device's address, mask, gateway, DNS
// servers and name. It only gathers the fields; the checks are the core's.

#include "controls/t_dialog.h"
#include "rules/ip_settings.h"

class CTEdit;

class CIPSetDlg : public CTDialog {
    Q_OBJECT
public:
    CIPSetDlg(const ap_info_stu& rec, QWidget* parent);

    fd::IpSettingsForm Form() const;
    // Puts the focus on the field a refusal names; false when it is not on this page.
    bool FocusField(fd::SettingField field);

    CTEdit* IpEdit() const { return m_ip; }
    CTEdit* MaskEdit() const { return m_mask; }
    CTEdit* GatewayEdit() const { return m_gateway; }
    CTEdit* Dns1Edit() const { return m_dns1; }
    CTEdit* Dns2Edit() const { return m_dns2; }
    CTEdit* NameEdit() const { return m_name; }

private:
    CTEdit* AddAddress(const QString& label, int y, const uint8_t bytes[4]);

    ap_info_stu m_rec;
    CTEdit* m_ip;
    CTEdit* m_mask;
    CTEdit* m_gateway;
    CTEdit* m_dns1;
    CTEdit* m_dns2;
    CTEdit* m_name;
};
