#pragma once
// The "WirelessSet" page of the configuration dialog: network name, radio (mode, bandwidth,
// country, channel, extension channel, power) and security. Its lists refill one another as
// the core's rules say; CWepDlg and CWpaDlg hold the fields of WEP and of WPA/WPA2 with a
// RADIUS server, and the PSK fields sit on the page itself.

#include <array>

#include "controls/t_dialog.h"
#include "rules/wireless_settings.h"

class CTEdit;
class CTStatic;
class QCheckBox;
class QComboBox;
class QRadioButton;

class CWepDlg : public CTDialog {
    Q_OBJECT
public:
    CWepDlg(const fd::WirelessForm& form, QWidget* parent);
    void ReadInto(fd::WirelessForm& form) const;
    bool FocusField(fd::SettingField field);

    QComboBox* AuthList() const { return m_auth; }
    QComboBox* DefaultKeyList() const { return m_defaultKey; }
    CTEdit* KeyEdit(int k) const { return m_keys[static_cast<std::size_t>(k)]; }
    QComboBox* FormatList(int k) const { return m_formats[static_cast<std::size_t>(k)]; }

private:
    QComboBox* m_auth;
    QComboBox* m_defaultKey;
    std::array<CTEdit*, 4> m_keys{};
    std::array<QComboBox*, 4> m_formats{};
};

class CWpaDlg : public CTDialog {
    Q_OBJECT
public:
    CWpaDlg(const fd::WirelessForm& form, QWidget* parent);
    void ReadInto(fd::WirelessForm& form) const;
    bool FocusField(fd::SettingField field);

    QComboBox* EncryptionList() const { return m_encryption; }
    CTEdit* ServerEdit() const { return m_server; }
    CTEdit* PortEdit() const { return m_port; }
    CTEdit* KeyEdit() const { return m_key; }
    CTEdit* IntervalEdit() const { return m_interval; }

private:
    QComboBox* m_encryption;
    CTEdit* m_server;
    CTEdit* m_port;
    CTEdit* m_key;
    CTEdit* m_interval;
};

class CWirelessSetDlg : public CTDialog {
    Q_OBJECT
public:
    CWirelessSetDlg(const ap_info_stu& rec, QWidget* parent);

    fd::WirelessForm Form() const;
    bool FocusField(fd::SettingField field);

    // The list changes, as a user's choice makes them (tests call them directly).
    void OnCountryChanged();
    void OnChannelChanged();
    void OnNetworkModeChanged();
    void OnBandwidthChanged();
    void OnSecurityChanged();

    CTEdit* SsidEdit() const { return m_ssid; }
    QCheckBox* HideCheck() const { return m_hide; }
    QComboBox* NetworkModeList() const { return m_mode; }
    QComboBox* BandwidthList() const { return m_bandwidth; }
    QComboBox* CountryList() const { return m_country; }
    QComboBox* ChannelList() const { return m_channel; }
    QComboBox* ExtensionList() const { return m_extension; }
    CTEdit* PowerEdit() const { return m_power; }
    CTStatic* PowerRange() const { return m_powerRange; }
    QComboBox* SecurityList() const { return m_security; }
    QRadioButton* CipherRadio(int i) const { return m_cipher[static_cast<std::size_t>(i)]; }
    CTEdit* PskKeyEdit() const { return m_pskKey; }
    CTEdit* PskIntervalEdit() const { return m_pskInterval; }
    CWepDlg* Wep() const { return m_wep; }
    CWpaDlg* Wpa() const { return m_wpa; }

private:
    void FillChannels(std::optional<int> requestedExtension);
    void FillExtension(std::optional<int> requested);
    void ShowSecurity();

    ap_info_stu m_rec;
    CTEdit* m_ssid;
    QCheckBox* m_hide;
    QComboBox* m_mode;
    QComboBox* m_bandwidth;
    CTEdit* m_power;
    CTStatic* m_powerRange;
    QComboBox* m_country;
    QComboBox* m_channel;
    QComboBox* m_extension;
    QComboBox* m_security;
    // the PSK fields
    std::array<QRadioButton*, 3> m_cipher{};
    CTStatic* m_cipherLabel;
    CTStatic* m_pskKeyLabel;
    CTEdit* m_pskKey;
    CTStatic* m_pskIntervalLabel;
    CTEdit* m_pskInterval;
    CWepDlg* m_wep;
    CWpaDlg* m_wpa;
};
