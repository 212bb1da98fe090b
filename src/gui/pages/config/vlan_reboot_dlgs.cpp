#include "pages/config/vlan_reboot_dlgs.h"

#include <QCheckBox>

#include "controls/t_edit.h"
#include "controls/t_static.h"
#include "pages/config/config_controls.h"

namespace {
constexpr int kLabelX = 60, kFieldX = 250, kRow = 40;

CTEdit* VlanEdit(QWidget* parent, int y, int value) {
    CTEdit* e = fd::AddFieldEdit(parent, kFieldX, y, 120, 4, true);
    e->setText(QString::number(value));
    return e;
}
}  // namespace

// ---- VLAN ----

CVlanDlg::CVlanDlg(const ap_info_stu& rec, QWidget* parent)
    : CTDialog(parent, ChildTag{}),
      m_enable(fd::AddFieldCheck(this, QStringLiteral("Enable"), kFieldX, 10, 200)),
      m_manage(VlanEdit(this, 10 + kRow, rec.vlan_id)),
      m_wlan(VlanEdit(this, 10 + 2 * kRow, rec.vlan_id_wlan)),
      m_pvid(VlanEdit(this, 10 + 3 * kRow, rec.vlan_pvid)),
      m_lan2(VlanEdit(this, 10 + 4 * kRow, rec.vlan_id_lan)),
      m_lan3(VlanEdit(this, 10 + 5 * kRow, rec.vlan_id_lan3)),
      m_lan4(VlanEdit(this, 10 + 6 * kRow, rec.vlan_id_lan4)),
      m_pvidLabel(fd::AddFieldLabel(this, QStringLiteral("PVID"), kLabelX, 10 + 3 * kRow, 180)),
      m_lan2Label(fd::AddFieldLabel(this, QStringLiteral("LAN2"), kLabelX, 10 + 4 * kRow, 180)),
      m_lan3Label(fd::AddFieldLabel(this, QStringLiteral("LAN3"), kLabelX, 10 + 5 * kRow, 180)),
      m_lan4Label(fd::AddFieldLabel(this, QStringLiteral("LAN4"), kLabelX, 10 + 6 * kRow, 180)) {
    fd::AddFieldLabel(this, QStringLiteral("VLAN configuration"), kLabelX, 10, 180);
    fd::AddFieldLabel(this, QStringLiteral("Manage VLAN"), kLabelX, 10 + kRow, 180);
    fd::AddFieldLabel(this, QStringLiteral("WLAN"), kLabelX, 10 + 2 * kRow, 180);
    const fd::VlanFields fields = fd::VlanFieldsOf(rec.ap_type);
    m_lan2Label->setText(QString::fromLatin1(fields.lanLabel));
    for (QWidget* w : {static_cast<QWidget*>(m_pvid), static_cast<QWidget*>(m_pvidLabel),
                       static_cast<QWidget*>(m_lan2), static_cast<QWidget*>(m_lan2Label)})
        w->setVisible(fields.pvid);
    for (QWidget* w : {static_cast<QWidget*>(m_lan3), static_cast<QWidget*>(m_lan3Label),
                       static_cast<QWidget*>(m_lan4), static_cast<QWidget*>(m_lan4Label)})
        w->setVisible(fields.lanPorts == 3);
    m_enable->setChecked(rec.vlan_en != 0);
    OnEnableChanged();
    connect(m_enable, &QCheckBox::toggled, this, &CVlanDlg::OnEnableChanged);
}

void CVlanDlg::OnEnableChanged() {
    const bool on = m_enable->isChecked();
    for (CTEdit* e : {m_manage, m_wlan, m_pvid, m_lan2, m_lan3, m_lan4}) e->setEnabled(on);
}

fd::VlanForm CVlanDlg::Form() const {
    fd::VlanForm f;
    f.enabled = m_enable->isChecked();
    f.manage = m_manage->text().toStdString();
    f.wlan = m_wlan->text().toStdString();
    f.pvid = m_pvid->text().toStdString();
    f.lan2 = m_lan2->text().toStdString();
    f.lan3 = m_lan3->text().toStdString();
    f.lan4 = m_lan4->text().toStdString();
    return f;
}

bool CVlanDlg::FocusField(fd::SettingField field) {
    CTEdit* e = nullptr;
    switch (field) {
        case fd::SettingField::VlanManage:
            e = m_manage;
            break;
        case fd::SettingField::VlanWlan:
            e = m_wlan;
            break;
        case fd::SettingField::VlanPvid:
            e = m_pvid;
            break;
        case fd::SettingField::VlanLan2:
            e = m_lan2;
            break;
        case fd::SettingField::VlanLan3:
            e = m_lan3;
            break;
        case fd::SettingField::VlanLan4:
            e = m_lan4;
            break;
        default:
            return false;
    }
    e->setFocus();
    return true;
}

// ---- timed reboot ----

CTimeRebootDlg::CTimeRebootDlg(const ap_info_stu& rec, QWidget* parent)
    : CTDialog(parent, ChildTag{}),
      m_enable(fd::AddFieldCheck(this, QStringLiteral("Enable"), kFieldX, 10, 200)),
      m_hour(fd::AddFieldEdit(this, kFieldX, 10 + kRow, 50, 2, true)),
      m_minute(fd::AddFieldEdit(this, kFieldX + 110, 10 + kRow, 50, 2, true)),
      m_everyday(fd::AddFieldCheck(this, QStringLiteral("Everyday"), kFieldX,
                                   10 + 2 * kRow + 4 * 30, 200)) {
    fd::AddFieldLabel(this, QStringLiteral("Time_to_restart"), kLabelX, 10, 180);
    fd::AddFieldLabel(this, QStringLiteral("Restart_time"), kLabelX, 10 + kRow, 180);
    fd::AddFieldLabel(this, QStringLiteral("Hour"), kFieldX + 55, 10 + kRow, 50);
    fd::AddFieldLabel(this, QStringLiteral("Minutes"), kFieldX + 165, 10 + kRow, 80);
    fd::AddFieldLabel(this, QStringLiteral("Date"), kLabelX, 10 + 2 * kRow, 180);
    static const char* const kDays[7] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                         "Friday", "Saturday", "Sunday"};
    for (int d = 0; d < 7; ++d) {
        m_days[static_cast<std::size_t>(d)] =
            fd::AddFieldCheck(this, QString::fromLatin1(kDays[d]), kFieldX + (d % 2) * 140,
                              10 + 2 * kRow + (d / 2) * 30, 130);
    }
    const fd::TimedRebootForm f = fd::TimedRebootFormFromRecord(rec);
    m_enable->setChecked(f.enabled);
    m_hour->setText(QString::fromStdString(f.hour));
    m_minute->setText(QString::fromStdString(f.minute));
    for (std::size_t d = 0; d < 7; ++d) m_days[d]->setChecked(f.days[d]);
    m_everyday->setChecked(f.everyday);
    OnEnableChanged();
    connect(m_enable, &QCheckBox::toggled, this, &CTimeRebootDlg::OnEnableChanged);
    connect(m_everyday, &QCheckBox::toggled, this, &CTimeRebootDlg::OnEverydayChanged);
}

void CTimeRebootDlg::OnEnableChanged() {
    const bool on = m_enable->isChecked();
    m_hour->setEnabled(on);
    m_minute->setEnabled(on);
    m_everyday->setEnabled(on);
    for (QCheckBox* d : m_days) d->setEnabled(on && !m_everyday->isChecked());
}

void CTimeRebootDlg::OnEverydayChanged() {
    const bool every = m_everyday->isChecked();
    for (QCheckBox* d : m_days) {
        d->setChecked(every);
        d->setEnabled(m_enable->isChecked() && !every);
    }
}

fd::TimedRebootForm CTimeRebootDlg::Form() const {
    fd::TimedRebootForm f;
    f.enabled = m_enable->isChecked();
    f.hour = m_hour->text().toStdString();
    f.minute = m_minute->text().toStdString();
    for (std::size_t d = 0; d < 7; ++d) f.days[d] = m_days[d]->isChecked();
    f.everyday = m_everyday->isChecked();
    return f;
}

bool CTimeRebootDlg::FocusField(fd::SettingField field) {
    if (field == fd::SettingField::RebootTime) {
        m_hour->setFocus();
        return true;
    }
    if (field == fd::SettingField::RebootDays) {
        m_days[0]->setFocus();
        return true;
    }
    return false;
}
