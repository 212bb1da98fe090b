#include "pages/config/wireless_set_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QRadioButton>

#include "app/skin.h"
#include "app/translate.h"
#include "controls/t_edit.h"
#include "controls/t_static.h"
#include "pages/config/config_controls.h"
#include "rules/country_table.h"

using fd::ListValue;

namespace {

// Two columns: the radio on the left, the security on the right.
constexpr int kLabelX = 10, kFieldX = 150, kFieldW = 190;
constexpr int kRightLabelX = 370, kRightFieldX = 500, kRightFieldW = 210;
constexpr int kRow = 36;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

// ---- WEP ----

CWepDlg::CWepDlg(const fd::WirelessForm& f, QWidget* parent)
    : CTDialog(parent, ChildTag{}),
      m_auth(fd::AddFieldList(this, 130, 0, 210)),
      m_defaultKey(fd::AddFieldList(this, 130, kRow, 210)) {
    SetFillBk(true);
    SetBkColor(fd::Skin().childBkColor);
    fd::AddFieldLabel(this, QStringLiteral("Encryption_Type"), 0, 0, 125);
    fd::AddFieldLabel(this, QStringLiteral("Default_key"), 0, kRow, 125);
    const fd::ListItems auth = fd::WepAuthItems();
    fd::FillList(m_auth, auth, fd::IndexOfValue(auth, f.wepAuth));
    const fd::ListItems keys = fd::WepDefaultKeyItems();
    fd::FillList(m_defaultKey, keys, fd::IndexOfValue(keys, f.wepDefaultKey));
    static const char* const kLabels[4] = {"Key1", "Key2", "Key3", "Key4"};
    const fd::ListItems formats = fd::WepKeyFormatItems();
    for (int k = 0; k < 4; ++k) {
        const int y = kRow * (2 + k);
        fd::AddFieldLabel(this, QString::fromLatin1(kLabels[k]), 0, y, 125);
        m_keys[static_cast<std::size_t>(k)] = fd::AddFieldEdit(this, 130, y, 130, 26);
        m_keys[static_cast<std::size_t>(k)]->setText(Q(f.wepKeys[k]));
        m_formats[static_cast<std::size_t>(k)] = fd::AddFieldList(this, 265, y, 75);
        fd::FillList(m_formats[static_cast<std::size_t>(k)], formats,
                     fd::IndexOfValue(formats, f.wepKeyFormats[k]));
    }
}

void CWepDlg::ReadInto(fd::WirelessForm& f) const {
    f.wepAuth = fd::ListValue(m_auth);
    f.wepDefaultKey = fd::ListValue(m_defaultKey, 1);
    for (std::size_t k = 0; k < 4; ++k) {
        f.wepKeys[k] = m_keys[k]->text().toStdString();
        f.wepKeyFormats[k] = fd::ListValue(m_formats[k]);
    }
}

bool CWepDlg::FocusField(fd::SettingField field) {
    const fd::SettingField keys[4] = {fd::SettingField::WepKey1, fd::SettingField::WepKey2,
                                      fd::SettingField::WepKey3, fd::SettingField::WepKey4};
    for (std::size_t k = 0; k < 4; ++k) {
        if (field == keys[k]) {
            m_keys[k]->setFocus();
            return true;
        }
    }
    return false;
}

// ---- WPA / WPA2 with a RADIUS server ----

CWpaDlg::CWpaDlg(const fd::WirelessForm& f, QWidget* parent)
    : CTDialog(parent, ChildTag{}),
      m_encryption(fd::AddFieldList(this, 130, 0, 210)),
      m_server(fd::AddFieldEdit(this, 130, kRow, 210, 15)),
      m_port(fd::AddFieldEdit(this, 130, 2 * kRow, 210, 5, true)),
      m_key(fd::AddFieldEdit(this, 130, 3 * kRow, 210, 64)),
      m_interval(fd::AddFieldEdit(this, 130, 4 * kRow, 210, 5, true)) {
    SetFillBk(true);
    SetBkColor(fd::Skin().childBkColor);
    fd::AddFieldLabel(this, QStringLiteral("Encryption_Type"), 0, 0, 125);
    fd::AddFieldLabel(this, QStringLiteral("Radius_server_ip"), 0, kRow, 125);
    fd::AddFieldLabel(this, QStringLiteral("Radius_port"), 0, 2 * kRow, 125);
    fd::AddFieldLabel(this, QStringLiteral("Radius_Key"), 0, 3 * kRow, 125);
    fd::AddFieldLabel(this, QStringLiteral("Radius_Key_time"), 0, 4 * kRow, 125);
    // The encryption is sent as its place in the list.
    fd::FillList(m_encryption, fd::WpaEncryptionItems(), f.wpaEncryption);
    fd::MakeAddressEdit(m_server);
    m_server->setText(Q(f.radiusServer));
    m_port->setText(Q(f.radiusPort));
    m_key->setText(Q(f.radiusKey));
    m_interval->setText(Q(f.radiusInterval));
}

void CWpaDlg::ReadInto(fd::WirelessForm& f) const {
    f.wpaEncryption = m_encryption->currentIndex() >= 0 ? m_encryption->currentIndex() : 0;
    f.radiusServer = m_server->text().trimmed().toStdString();
    f.radiusPort = m_port->text().toStdString();
    f.radiusKey = m_key->text().toStdString();
    f.radiusInterval = m_interval->text().toStdString();
}

bool CWpaDlg::FocusField(fd::SettingField field) {
    switch (field) {
        case fd::SettingField::RadiusServer:
            m_server->setFocus();
            return true;
        case fd::SettingField::RadiusPort:
            m_port->setFocus();
            return true;
        case fd::SettingField::RadiusKey:
            m_key->setFocus();
            return true;
        case fd::SettingField::RadiusInterval:
            m_interval->setFocus();
            return true;
        default:
            return false;
    }
}

// ---- the page ----

CWirelessSetDlg::CWirelessSetDlg(const ap_info_stu& rec, QWidget* parent)
    : CTDialog(parent, ChildTag{}),
      m_rec(rec),
      m_ssid(fd::AddFieldEdit(this, kFieldX, 0, kFieldW, 32)),
      m_hide(fd::AddFieldCheck(this, QStringLiteral("Wireless_ssid_hide"), kFieldX, kRow, kFieldW)),
      m_mode(fd::AddFieldList(this, kFieldX, 2 * kRow, kFieldW)),
      m_bandwidth(fd::AddFieldList(this, kFieldX, 3 * kRow, kFieldW)),
      m_power(fd::AddFieldEdit(this, kFieldX, 4 * kRow, 80, 3, true)),
      m_powerRange(new CTStatic(this)),
      m_country(fd::AddFieldList(this, kFieldX, 5 * kRow, kFieldW)),
      m_channel(fd::AddFieldList(this, kFieldX, 6 * kRow, kFieldW)),
      m_extension(fd::AddFieldList(this, kFieldX, 7 * kRow, kFieldW)),
      m_security(fd::AddFieldList(this, kRightFieldX, 0, kRightFieldW)),
      m_cipherLabel(
          fd::AddFieldLabel(this, QStringLiteral("Wireless_AutoType"), kRightLabelX, kRow, 130)),
      m_pskKeyLabel(
          fd::AddFieldLabel(this, QStringLiteral("Wireless_Key"), kRightLabelX, 2 * kRow, 130)),
      m_pskKey(fd::AddFieldEdit(this, kRightFieldX, 2 * kRow, kRightFieldW, 64)),
      m_pskIntervalLabel(fd::AddFieldLabel(this, QStringLiteral("Wireless_Key_time"), kRightLabelX,
                                           3 * kRow, 130)),
      m_pskInterval(fd::AddFieldEdit(this, kRightFieldX, 3 * kRow, 80, 5, true)) {
    const fd::WirelessForm f = fd::WirelessFormFromRecord(rec);
    fd::AddFieldLabel(this, QStringLiteral("Wireless_ssid"), kLabelX, 0, 135);
    fd::AddFieldLabel(this, QStringLiteral("NetMode"), kLabelX, 2 * kRow, 135);
    fd::AddFieldLabel(this, QStringLiteral("BandWidth"), kLabelX, 3 * kRow, 135);
    fd::AddFieldLabel(this, QStringLiteral("Wireless_power"), kLabelX, 4 * kRow, 135);
    fd::AddFieldLabel(this, QStringLiteral("Wireless_country"), kLabelX, 5 * kRow, 135);
    fd::AddFieldLabel(this, QStringLiteral("Wireless_channel"), kLabelX, 6 * kRow, 135);
    fd::AddFieldLabel(this, QStringLiteral("ExpandChannel"), kLabelX, 7 * kRow, 135);
    fd::AddFieldLabel(this, QStringLiteral("Wireless_secureMode"), kRightLabelX, 0, 135);

    m_ssid->setText(Q(f.ssid));
    m_hide->setChecked(f.hideSsid);
    // Every list stands on the device's own value; one the list does not offer is added as
    // "(current)" and kept unless the user picks another.
    const fd::ListItems modes = fd::WithCurrentValue(fd::NetworkModeItems(rec.rf_type, rec.ap_type),
                                                     f.networkMode, std::to_string(f.networkMode));
    fd::FillList(m_mode, modes, fd::IndexOfValue(modes, f.networkMode));
    const fd::ListItems widths =
        fd::WithCurrentValue(fd::BandwidthItems(rec.rf_type, rec.ap_type, f.networkMode),
                             f.bandwidth, std::to_string(f.bandwidth));
    fd::FillList(m_bandwidth, widths, fd::IndexOfValue(widths, f.bandwidth));
    m_power->setText(Q(f.power));
    m_powerRange->ApplyStaticSkin();
    m_powerRange->setGeometry(kFieldX + 90, 4 * kRow, 110, 26);
    m_powerRange->setText(Q(fd::PowerRangeLabel(rec.tx_power_min, rec.tx_power_max)));
    fd::MarkUntranslated(m_powerRange);
    const fd::ListItems countries =
        fd::WithCurrentValue(fd::CountryItems(), fd::kCurrentCountryRow,
                             fd::CountryCodeText(rec.country_code));
    fd::FillList(m_country, countries, fd::IndexOfValue(countries, f.countryRow));
    // The channel the record has (marked "(current)" when the country does not offer it);
    // the record's side of the extension channel.
    FillChannels(f.extensionChannel >= 0 ? std::optional<int>(f.extensionChannel)
                                         : std::optional<int>());

    const fd::ListItems security = fd::WithCurrentValue(fd::SecurityModeItems(), f.secureMode,
                                                        std::to_string(f.secureMode));
    fd::FillList(m_security, security, fd::IndexOfValue(security, f.secureMode));
    const fd::ListItems ciphers = fd::PskCipherItems();
    for (std::size_t i = 0; i < 3; ++i) {
        m_cipher[i] = new QRadioButton(Q(ciphers[i].text), this);
        m_cipher[i]->setGeometry(kRightFieldX + static_cast<int>(i) * 65, kRow, i == 2 ? 90 : 65,
                                 26);
        m_cipher[i]->setFont(fd::Skin().StaticFont());
    }
    m_cipher[static_cast<std::size_t>(f.pskCipher)]->setChecked(true);
    m_pskKey->setText(Q(f.pskKey));
    m_pskInterval->setText(Q(f.pskInterval));

    m_wep = new CWepDlg(f, this);
    m_wep->setGeometry(kRightLabelX, kRow, 340, 6 * kRow);
    m_wpa = new CWpaDlg(f, this);
    m_wpa->setGeometry(kRightLabelX, kRow, 340, 5 * kRow);
    ShowSecurity();

    connect(m_country, &QComboBox::currentIndexChanged, this, &CWirelessSetDlg::OnCountryChanged);
    connect(m_channel, &QComboBox::currentIndexChanged, this, &CWirelessSetDlg::OnChannelChanged);
    connect(m_mode, &QComboBox::currentIndexChanged, this, &CWirelessSetDlg::OnNetworkModeChanged);
    connect(m_bandwidth, &QComboBox::currentIndexChanged, this,
            &CWirelessSetDlg::OnBandwidthChanged);
    connect(m_security, &QComboBox::currentIndexChanged, this, &CWirelessSetDlg::OnSecurityChanged);
}

void CWirelessSetDlg::FillChannels(std::optional<int> requestedExtension) {
    const int current = ListValue(m_channel, m_rec.channel);
    const fd::ListItems channels =
        fd::ChannelChoices(m_rec, ListValue(m_country), ListValue(m_bandwidth));
    fd::FillList(m_channel, channels, fd::IndexOfValue(channels, current));
    FillExtension(requestedExtension);
}

void CWirelessSetDlg::FillExtension(std::optional<int> requested) {
    const fd::ExtensionChannels ext = fd::ExtensionChannelItems(
        m_rec.rf_type, ListValue(m_mode), ListValue(m_bandwidth), ListValue(m_channel),
        static_cast<std::size_t>(m_channel->count()), requested);
    fd::FillList(m_extension, ext.items, ext.selected);
    m_extension->setEnabled(ext.enabled);
}

void CWirelessSetDlg::OnCountryChanged() {
    FillChannels(std::nullopt);
}

void CWirelessSetDlg::OnChannelChanged() {
    FillExtension(std::nullopt);
}

void CWirelessSetDlg::OnNetworkModeChanged() {
    const int mode = ListValue(m_mode);
    const fd::ListItems widths = fd::BandwidthItems(m_rec.rf_type, m_rec.ap_type, mode);
    fd::FillList(m_bandwidth, widths, fd::IndexOfValue(widths, ListValue(m_bandwidth)));
    if (fd::NetworkModeRefillsChannels(m_rec.work_mode))
        FillChannels(std::nullopt);
    else
        FillExtension(std::nullopt);
}

void CWirelessSetDlg::OnBandwidthChanged() {
    if (fd::BandwidthRefillsChannels(m_rec.work_mode))
        FillChannels(std::nullopt);
    else
        FillExtension(std::nullopt);
}

void CWirelessSetDlg::OnSecurityChanged() {
    ShowSecurity();
}

void CWirelessSetDlg::ShowSecurity() {
    const int mode = ListValue(m_security);
    const bool psk = fd::IsPskMode(mode);
    for (QWidget* w : {static_cast<QWidget*>(m_cipherLabel), static_cast<QWidget*>(m_pskKeyLabel),
                       static_cast<QWidget*>(m_pskKey), static_cast<QWidget*>(m_pskIntervalLabel),
                       static_cast<QWidget*>(m_pskInterval)})
        w->setVisible(psk);
    for (QRadioButton* r : m_cipher) r->setVisible(psk);
    m_wep->setVisible(mode == fd::kSecureWep);
    m_wpa->setVisible(fd::IsRadiusMode(mode));
}

fd::WirelessForm CWirelessSetDlg::Form() const {
    fd::WirelessForm f = fd::WirelessFormFromRecord(m_rec);
    f.ssid = m_ssid->text().toStdString();
    f.hideSsid = m_hide->isChecked();
    f.networkMode = ListValue(m_mode);
    f.bandwidth = ListValue(m_bandwidth);
    f.countryRow = ListValue(m_country);
    f.channel = ListValue(m_channel);
    f.extensionChannel = ListValue(m_extension, -1);
    f.power = m_power->text().toStdString();
    f.secureMode = ListValue(m_security);
    for (std::size_t i = 0; i < 3; ++i)
        if (m_cipher[i]->isChecked()) f.pskCipher = static_cast<int>(i);
    f.pskKey = m_pskKey->text().toStdString();
    f.pskInterval = m_pskInterval->text().toStdString();
    m_wep->ReadInto(f);
    m_wpa->ReadInto(f);
    return f;
}

bool CWirelessSetDlg::FocusField(fd::SettingField field) {
    switch (field) {
        case fd::SettingField::Ssid:
            m_ssid->setFocus();
            return true;
        case fd::SettingField::Power:
            m_power->setFocus();
            return true;
        case fd::SettingField::PskKey:
            m_pskKey->setFocus();
            return true;
        case fd::SettingField::PskInterval:
            m_pskInterval->setFocus();
            return true;
        default:
            return m_wep->FocusField(field) || m_wpa->FocusField(field);
    }
}
