#pragma once
// The "VLAN" and "TimeReboot" pages of the configuration dialog. They show which VLAN ids
// the model has and the weekly reboot schedule, and gather the fields for the core's collect
// steps.

#include <array>

#include "controls/t_dialog.h"
#include "rules/vlan_reboot_settings.h"

class CTEdit;
class CTStatic;
class QCheckBox;

class CVlanDlg : public CTDialog {
    Q_OBJECT
public:
    CVlanDlg(const ap_info_stu& rec, QWidget* parent);

    fd::VlanForm Form() const;
    bool FocusField(fd::SettingField field);
    // Ticking "Enable" enables the six edits, unticking disables them.
    void OnEnableChanged();

    QCheckBox* EnableCheck() const { return m_enable; }
    CTEdit* ManageEdit() const { return m_manage; }
    CTEdit* WlanEdit() const { return m_wlan; }
    CTEdit* PvidEdit() const { return m_pvid; }
    CTEdit* Lan2Edit() const { return m_lan2; }
    CTEdit* Lan3Edit() const { return m_lan3; }
    CTEdit* Lan4Edit() const { return m_lan4; }
    CTStatic* Lan2Label() const { return m_lan2Label; }

private:
    QCheckBox* m_enable;
    CTEdit* m_manage;
    CTEdit* m_wlan;
    CTEdit* m_pvid;
    CTEdit* m_lan2;
    CTEdit* m_lan3;
    CTEdit* m_lan4;
    CTStatic* m_pvidLabel;
    CTStatic* m_lan2Label;
    CTStatic* m_lan3Label;
    CTStatic* m_lan4Label;
};

class CTimeRebootDlg : public CTDialog {
    Q_OBJECT
public:
    CTimeRebootDlg(const ap_info_stu& rec, QWidget* parent);

    fd::TimedRebootForm Form() const;
    bool FocusField(fd::SettingField field);
    // "Enable" enables the time and the day boxes; "Everyday" ticks and locks the seven days.
    void OnEnableChanged();
    void OnEverydayChanged();

    QCheckBox* EnableCheck() const { return m_enable; }
    CTEdit* HourEdit() const { return m_hour; }
    CTEdit* MinuteEdit() const { return m_minute; }
    QCheckBox* DayCheck(int day) const { return m_days[static_cast<std::size_t>(day)]; }
    QCheckBox* EverydayCheck() const { return m_everyday; }

private:
    QCheckBox* m_enable;
    CTEdit* m_hour;
    CTEdit* m_minute;
    std::array<QCheckBox*, 7> m_days{};
    QCheckBox* m_everyday;
};
