#include "pages/bridge/bridge_steps.h"

#include <QComboBox>
#include <QPixmap>
#include <QRadioButton>
#include <cstring>

#include "actions/device_workers.h"
#include "app/skin.h"
#include "app/translate.h"
#include "config/labels.h"
#include "controls/grid_ctrl.h"
#include "controls/t_button_picture.h"
#include "controls/t_edit.h"
#include "controls/t_picture.h"
#include "controls/t_static.h"
#include "pages/config/config_controls.h"
#include "pages/devices/page_messages.h"

namespace {

CTStatic* Label(QWidget* parent, const QString& key, int x, int y, int w) {
    auto* label = new CTStatic(key, parent);
    label->ApplyStaticSkin();
    label->setGeometry(x, y, w, 26);
    return label;
}

QComboBox* Combo(QWidget* parent, int x, int y, int w) {
    auto* combo = new QComboBox(parent);
    combo->setGeometry(x, y, w, 26);
    combo->setFont(fd::Skin().StaticFont());
    return combo;
}

CTEdit* Edit(QWidget* parent, int x, int y, int w, int maxLength) {
    auto* edit = new CTEdit(parent);
    edit->setGeometry(x, y, w, 26);
    edit->setMaxLength(maxLength);
    fd::MarkUntranslated(edit);
    return edit;
}

void StepLook(CTDialog* step) {
    step->SetFillBk(true);
    step->SetBkColor(fd::Skin().childBkColor);
}

}  // namespace

// ---- step 0 ----

CBridgeSearcgAPDlg::CBridgeSearcgAPDlg(fd::IDeviceEngine& engine, IDeviceStore& store,
                                       const DeviceTarget& target,
                                       std::function<void(bool)> setNext, QWidget* parent)
    : CTDialog(parent, ChildTag{}),
      m_store(store),
      m_target(target),
      m_setNext(std::move(setNext)),
      m_wait(engine, store),
      m_list(store),
      m_heading(Label(this, QStringLiteral("SearchOtherAP"), 20, 8, 300)),
      m_scan(new CTButtonPicture(this)),
      m_animation(new CTPicture(this)),
      m_scanning(Label(this, QStringLiteral("Scanning..."), 370, 8, 150)),
      m_grid(new CGridCtrl(this)) {
    const fd::GuiSkin& skin = fd::Skin();
    StepLook(this);
    m_scan->SetImages(skin.Image(QStringLiteral("btn_update_normal.bmp")),
                      skin.Image(QStringLiteral("btn_update_down.bmp")),
                      skin.Image(QStringLiteral("btn_update_down.bmp")),
                      skin.Image(QStringLiteral("btn_update_normal.bmp")));
    m_scan->setGeometry(530, 7, 28, 28);
    m_scan->setToolTip(QStringLiteral("Scan"));
    connect(m_scan, &QAbstractButton::clicked, this, &CBridgeSearcgAPDlg::StartScan);
    m_animation->SetBkColor(skin.childBkColor);
    m_animation->Load(skin.Image(QStringLiteral("wait_search.gif")));
    m_animation->setGeometry(330, 5, 32, 32);
    m_animation->hide();
    m_scanning->hide();

    const auto columns = fd::ScanListColumns();
    m_grid->setGeometry(20, 44, 560, 300);
    m_grid->ApplyGridSkin();
    m_grid->SetColumnCount(static_cast<int>(columns.size()));
    m_grid->SetRowCount(1);
    for (int c = 0; c < static_cast<int>(columns.size()); ++c) {
        m_grid->SetColumnWidth(c, columns[static_cast<std::size_t>(c)].width);
        m_grid->SetItemText(0, c, fd::Tr(columns[static_cast<std::size_t>(c)].header));
    }
    m_grid->SetColumnType(fd::kScanTickColumn, fd::GridCellType::Check);
    m_grid->SetHeaderTickBox(fd::kScanTickColumn, false);  // one access point at a time
    m_grid->SetColumnType(fd::kScanSignalColumn, fd::GridCellType::Image);
    std::vector<QPixmap> icons;
    for (int i = 0; i <= 5; ++i)
        icons.emplace_back(skin.Image(QStringLiteral("singal_strength%1.bmp").arg(i)));
    m_grid->SetImageList(std::move(icons));
    m_grid->SetSortIndicator(m_list.SortColumn(), m_list.Ascending());
    connect(m_grid, &CGridCtrl::cellClicked, this, &CBridgeSearcgAPDlg::OnCellClicked);

    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &CBridgeSearcgAPDlg::OnScanTick);
    fd::TranslateDialog(this);
}

void CBridgeSearcgAPDlg::StartScan() {
    m_list.Clear();
    m_grid->SetRowCount(1);
    m_animation->show();
    m_animation->Draw();
    m_scanning->show();
    m_scan->hide();
    if (m_setNext) m_setNext(false);
    m_wait.Start(m_target.ip, m_target.mac);
    m_timer.start();
}

void CBridgeSearcgAPDlg::OnScanTick() {
    if (!m_wait.Tick()) return;
    m_timer.stop();
    m_animation->Stop();
    m_animation->hide();
    m_scanning->hide();
    m_scan->show();
    Fill();
}

void CBridgeSearcgAPDlg::Fill() {
    const auto& rows = m_list.Reload();
    m_grid->SetRowCount(static_cast<int>(rows.size()) + 1);
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const fd::ScanRow& row = rows[static_cast<std::size_t>(r)];
        const int g = r + 1;
        m_grid->SetItemText(g, 1, QString::fromStdString(row.ssid));
        m_grid->SetItemText(g, 2, QString::fromStdString(row.channel));
        m_grid->SetItemText(g, fd::kScanMacColumn, QString::fromStdString(row.mac));
        m_grid->SetItemText(g, 4, QString::fromStdString(row.security));
        m_grid->SetItemImage(g, fd::kScanSignalColumn, row.icon);
    }
    DrawTicks();
    m_grid->SetSortIndicator(m_list.SortColumn(), m_list.Ascending());
}

void CBridgeSearcgAPDlg::DrawTicks() {
    for (int r = 1; r < m_grid->GetRowCount(); ++r)
        m_grid->SetCheck(r, fd::kScanTickColumn, m_list.IsTicked(static_cast<std::size_t>(r - 1)));
}

void CBridgeSearcgAPDlg::OnCellClicked(int row, int col) {
    if (m_wait.Scanning()) return;
    if (row == 0) {
        if (!m_list.HeaderClick(col)) return;
        Fill();
        if (m_setNext) m_setNext(false);  // the refill drops the tick
        return;
    }
    if (row > static_cast<int>(m_list.Rows().size())) return;
    const bool ticked = m_list.ClickRow(static_cast<std::size_t>(row - 1));
    // The grid may have flipped the box under the click itself: the list decides.
    DrawTicks();
    if (m_setNext) m_setNext(ticked);
}

bool CBridgeSearcgAPDlg::TickedAccessPoint(config_otherwl_basic& ap) const {
    const auto at = m_list.TickedRow();
    if (!at) return false;
    return m_store.QueryOtherApByMac(m_list.Rows()[*at].mac, ap);
}

void CBridgeSearcgAPDlg::Clear() {
    m_timer.stop();
    m_list.Clear();
    m_grid->SetRowCount(1);
}

// ---- WEP keys ----

CBridgeWepDlg::CBridgeWepDlg(QWidget* parent)
    : CTDialog(parent, ChildTag{}),
      m_auth(Combo(this, 150, 0, 120)),
      m_defaultKey(Combo(this, 420, 0, 120)) {
    StepLook(this);
    Label(this, QStringLiteral("Encryption_Type"), 0, 0, 140);
    Label(this, QStringLiteral("Default_key"), 290, 0, 120);
    m_auth->addItem(QStringLiteral("Open"), 0);
    m_auth->addItem(QStringLiteral("Share"), 1);
    for (int k = 1; k <= 4; ++k) m_defaultKey->addItem(QStringLiteral("Key %1").arg(k), k);
    for (int k = 0; k < 4; ++k) {
        const int y = 34 + k * 32;
        Label(this, QStringLiteral("Key%1").arg(k + 1), 0, y, 140);
        m_keys[static_cast<std::size_t>(k)] = Edit(this, 150, y, 260, 26);
        QComboBox* format = Combo(this, 420, y, 120);
        format->addItem(QStringLiteral("Hex"), 1);
        format->addItem(QStringLiteral("ASCII"), 0);
        m_formats[static_cast<std::size_t>(k)] = format;
    }
    fd::TranslateDialog(this);
}

void CBridgeWepDlg::Fill(fd::BridgeSecurityForm& form) const {
    form.wepAuth = m_auth->currentData().toInt();
    form.wepDefaultKey = m_defaultKey->currentData().toInt();
    for (std::size_t k = 0; k < 4; ++k) {
        form.wepKeys[k].text = m_keys[k]->text().toStdString();
        form.wepKeys[k].hex = m_formats[k]->currentData().toInt() == 1;
    }
}

// ---- step 1 ----

CBridgeSecureDlg::CBridgeSecureDlg(QWidget* parent)
    : CTDialog(parent, ChildTag{}),
      m_ssid(Edit(this, 190, 20, 260, 32)),
      m_channel(Combo(this, 190, 56, 140)),
      m_security(Combo(this, 190, 92, 200)),
      m_key(Edit(this, 190, 164, 260, 64)),
      m_keyTimeLabel(Label(this, QStringLiteral("Key_time"), 30, 200, 150)),
      m_keyTime(Edit(this, 190, 200, 80, 5)),
      m_wep(new CBridgeWepDlg(this)) {
    StepLook(this);
    auto* line = new CTPicture(this);
    line->Load(fd::Skin().Image(QStringLiteral("orange_line.bmp")));
    line->setGeometry(20, 6, 560, 2);
    line->Draw();
    Label(this, QStringLiteral("BridgeSSID"), 30, 20, 150);
    Label(this, QStringLiteral("Channel"), 30, 56, 150);
    Label(this, QStringLiteral("SecureMode"), 30, 92, 150);
    Label(this, QStringLiteral("Encryption_Type"), 30, 128, 150);
    Label(this, QStringLiteral("WirelessKey"), 30, 164, 150);
    const char* cipherKeys[] = {"AES", "TKIP", "TKIP&&AES"};
    for (std::size_t c = 0; c < 3; ++c) {
        auto* radio = new QRadioButton(QString::fromLatin1(cipherKeys[c]), this);
        radio->setGeometry(190 + static_cast<int>(c) * 100, 128, 100, 26);
        radio->setFont(fd::Skin().StaticFont());
        // Drawn over the page's own background.
        radio->setAttribute(Qt::WA_TranslucentBackground);
        connect(radio, &QRadioButton::toggled, this, [this, c](bool on) {
            if (on) m_view.cipher = static_cast<fd::PskCipher>(c);
        });
        m_ciphers[c] = radio;
    }
    m_keyTime->SetInputClass(1);
    m_keyTime->setText(QStringLiteral("0"));
    m_keyTimeLabel->hide();
    m_keyTime->hide();
    m_wep->setGeometry(30, 200, 550, 170);
    m_wep->hide();
    fd::MarkUntranslated(m_channel);
    fd::MarkUntranslated(m_security);
    FillSecurityList(false);
    connect(m_security, &QComboBox::activated, this, &CBridgeSecureDlg::OnSecurityChanged);
    Apply(m_view);
    fd::TranslateDialog(this);
}

void CBridgeSecureDlg::FillSecurityList(bool withWep) {
    const QSignalBlocker block(m_security);
    m_security->clear();
    for (const auto& e : fd::BridgeSecurityEntries(withWep))
        m_security->addItem(fd::Tr(e.key), e.code);
}

void CBridgeSecureDlg::Apply(const fd::BridgeSecurityView& view) {
    m_view = view;
    if (m_security->count() != static_cast<int>(fd::BridgeSecurityEntries(view.offerWep).size()))
        FillSecurityList(view.offerWep);
    {
        const QSignalBlocker block(m_security);
        m_security->setCurrentIndex(std::max(0, m_security->findData(view.code)));
    }
    const std::size_t tick = static_cast<std::size_t>(view.cipher);
    for (std::size_t c = 0; c < 3; ++c) {
        const QSignalBlocker block(m_ciphers[c]);
        m_ciphers[c]->setChecked(c == tick);
    }
    m_ciphers[0]->setEnabled(view.aesEnabled);
    m_ciphers[1]->setEnabled(view.tkipEnabled);
    m_ciphers[2]->setEnabled(view.tkipAesEnabled);
    m_key->setEnabled(view.keyEnabled);
    m_wep->setVisible(view.wepShown);
}

void CBridgeSecureDlg::Prefill(int apType, int rfType, int countryCode, int bandwidth,
                               const config_otherwl_basic& ap) {
    m_apType = apType;
    std::memcpy(m_apMac.data(), ap.mac, 6);
    m_ssid->setText(
        QString::fromStdString(std::string(fd::FieldText(ap.ssid, sizeof ap.ssid, ap.ssid_len))));
    m_channel->clear();
    for (const auto& item :
         fd::BridgeChannelItems(apType, rfType, countryCode, bandwidth, ap.channel))
        m_channel->addItem(QString::fromStdString(item.text), item.value);
    m_channel->setCurrentIndex(std::max(0, m_channel->findData(static_cast<int>(ap.channel))));
    Apply(fd::PrefillBridgeSecurity(ap.secure_mode, m_view.cipher));
}

void CBridgeSecureDlg::OnSecurityChanged(int index) {
    const int code = m_security->itemData(index).toInt();
    Apply(fd::ChangeBridgeSecurity(code, m_view.cipher, m_view.offerWep));
}

bool CBridgeSecureDlg::CheckAndFill(BridgeWirelessBlock& block) {
    fd::BridgeSecurityForm form;
    form.apMac = m_apMac;
    form.ssid = m_ssid->text().toStdString();
    form.channel = m_channel->currentData().toInt();
    form.code = m_view.code;
    form.cipher = m_view.cipher;
    form.key = m_key->text().toStdString();
    form.keyTime = m_keyTime->text().toStdString();
    m_wep->Fill(form);
    const fd::BridgeSecurityResult r = fd::CheckBridgeSecurity(form, m_apType);
    if (!r.ok()) {
        const QString key = QString::fromStdString(r.messageKey);
        if (r.appCaption) {
            fd::ShowAddressWarning(this, key);
        } else {
            fd::ShowPageWarning(this, key);
        }
        return false;
    }
    block = r.block;
    return true;
}

// ---- step 2 ----

CBridgeIPSetDlg::CBridgeIPSetDlg(IDeviceStore& store, QWidget* parent)
    : CTDialog(parent, ChildTag{}),
      m_store(store),
      m_ip(AddAddress(QStringLiteral("IP_Address"), 30)),
      m_mask(AddAddress(QStringLiteral("Sub_Network"), 66)),
      m_gateway(AddAddress(QStringLiteral("Gate_Way"), 102)),
      m_dns1(AddAddress(QStringLiteral("Major_Dns"), 138)),
      m_dns2(AddAddress(QStringLiteral("Dns"), 174)) {
    StepLook(this);
    auto* line = new CTPicture(this);
    line->Load(fd::Skin().Image(QStringLiteral("orange_line.bmp")));
    line->setGeometry(20, 6, 560, 2);
    line->Draw();
    auto* tip = Label(this, QStringLiteral("BridgeIpTip"), 30, 230, 540);
    tip->SetTextColor(fd::Skin().staticTextNumberColor);
    fd::TranslateDialog(this);
}

CTEdit* CBridgeIPSetDlg::AddAddress(const QString& key, int y) {
    Label(this, key, 30, y, 150);
    CTEdit* edit = Edit(this, 190, y, 200, 15);
    fd::MakeAddressEdit(edit);
    return edit;
}

void CBridgeIPSetDlg::Prefill(const IpConfigBlock& block) {
    const fd::AddressForm f = fd::BridgeAddressFormFrom(block);
    m_ip->setText(QString::fromStdString(f.ip));
    m_mask->setText(QString::fromStdString(f.mask));
    m_gateway->setText(QString::fromStdString(f.gateway));
    m_dns1->setText(QString::fromStdString(f.dns1));
    m_dns2->setText(QString::fromStdString(f.dns2));
}

fd::AddressForm CBridgeIPSetDlg::Form() const {
    fd::AddressForm f;
    f.ip = m_ip->text().trimmed().toStdString();
    f.mask = m_mask->text().trimmed().toStdString();
    f.gateway = m_gateway->text().trimmed().toStdString();
    f.dns1 = m_dns1->text().trimmed().toStdString();
    f.dns2 = m_dns2->text().trimmed().toStdString();
    return f;
}

bool CBridgeIPSetDlg::CheckAndFill(const std::string& currentIp, IpConfigBlock& block) {
    const std::vector<std::string> used = fd::AddressesInUse(m_store);
    const fd::BridgeIpResult r = fd::CheckBridgeIp(Form(), currentIp, used);
    if (!r.ok()) {
        fd::ShowAddressWarning(this, QString::fromStdString(r.messageKey));
        return false;
    }
    block = r.block;
    return true;
}

// ---- step 3 ----

CBridgeFinishDlg::CBridgeFinishDlg(QWidget* parent) : CTDialog(parent, ChildTag{}) {
    StepLook(this);
    auto* picture = new CTButtonPicture(this);
    picture->SetImage(fd::Skin().Image(QStringLiteral("bridge_finish.jpg")));
    picture->setGeometry(40, 10, 520, 300);
    auto* text = new CTStatic(
        QStringLiteral("You are configuring the device to work as Station mode."), this);
    text->ApplyStaticSkin();
    text->setAlignment(Qt::AlignCenter);
    text->setGeometry(20, 320, 560, 26);
    fd::TranslateDialog(this);
}
