#include "pages/config/ip_set_dlg.h"

#include "config/labels.h"
#include "controls/t_edit.h"
#include "pages/config/config_controls.h"

CIPSetDlg::CIPSetDlg(const ap_info_stu& rec, QWidget* parent)
    : CTDialog(parent, ChildTag{}),
      m_rec(rec),
      m_ip(AddAddress(QStringLiteral("IP_Address"), 20, rec.ip)),
      m_mask(AddAddress(QStringLiteral("Sub_Network"), 60, rec.ip_mask)),
      m_gateway(AddAddress(QStringLiteral("Gate_Way"), 100, rec.ip_gateway)),
      m_dns1(AddAddress(QStringLiteral("Major_Dns"), 140, rec.ip_dns1)),
      m_dns2(AddAddress(QStringLiteral("Dns"), 180, rec.ip_dns2)),
      m_name(fd::AddFieldEdit(this, 250, 220, 220, 32)) {
    fd::AddFieldLabel(this, QStringLiteral("Wireless_location"), 60, 220, 180);
    const fd::IpSettingsForm f = fd::IpSettingsFormFromRecord(rec);
    m_name->setText(QString::fromStdString(f.name));
}

CTEdit* CIPSetDlg::AddAddress(const QString& label, int y, const uint8_t bytes[4]) {
    fd::AddFieldLabel(this, label, 60, y, 180);
    CTEdit* edit = fd::AddFieldEdit(this, 250, y, 220, 15);
    fd::MakeAddressEdit(edit);
    edit->setText(QString::fromStdString(fd::IpToText(bytes)));
    return edit;
}

fd::IpSettingsForm CIPSetDlg::Form() const {
    fd::IpSettingsForm f;
    f.ip = m_ip->text().trimmed().toStdString();
    f.mask = m_mask->text().trimmed().toStdString();
    f.gateway = m_gateway->text().trimmed().toStdString();
    f.dns1 = m_dns1->text().trimmed().toStdString();
    f.dns2 = m_dns2->text().trimmed().toStdString();
    f.name = m_name->text().toStdString();
    return f;
}

bool CIPSetDlg::FocusField(fd::SettingField field) {
    CTEdit* edit = nullptr;
    switch (field) {
        case fd::SettingField::Ip:
            edit = m_ip;
            break;
        case fd::SettingField::Mask:
            edit = m_mask;
            break;
        case fd::SettingField::Gateway:
            edit = m_gateway;
            break;
        case fd::SettingField::Dns1:
            edit = m_dns1;
            break;
        case fd::SettingField::Dns2:
            edit = m_dns2;
            break;
        case fd::SettingField::Name:
            edit = m_name;
            break;
        default:
            return false;
    }
    edit->setFocus();
    return true;
}
