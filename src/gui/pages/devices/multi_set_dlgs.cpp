#include "pages/devices/multi_set_dlgs.h"

#include <QProgressBar>
#include <QRadioButton>
#include <QRegularExpressionValidator>

#include "actions/device_workers.h"
#include "app/app_context.h"
#include "app/skin.h"
#include "app/translate.h"
#include "controls/t_button_picture.h"
#include "controls/t_edit.h"
#include "pages/config/config_controls.h"
#include "controls/t_static.h"
#include "pages/devices/page_messages.h"
#include "wire/address.h"

namespace fd {

namespace {
// Save and Cancel: the plain button of the configuration dialogs, text centred.
CTButtonPicture* MakeButton(QWidget* parent, const QString& text, int x, int y) {
    const GuiSkin& skin = Skin();
    auto* b = new CTButtonPicture(parent);
    b->SetImage(skin.Image(QStringLiteral("config_btn.bmp")));
    b->SetFontSpec(skin.fontName, skin.buttonFontHeight, skin.buttonFontWeight);
    b->SetTextColors(skin.buttonFontColor, QColor(255, 255, 255), QColor(153, 153, 153));
    b->SetAlign(768, 0);
    b->setText(text);
    b->setGeometry(x + 5, y + 1, 90, 28);
    return b;
}

QString IpText(const uint8_t bytes[4]) {
    return QString::fromStdString(IpToText(bytes));
}
}  // namespace

MultiSetFrame::MultiSetFrame(const QString& title, QSize size, QWidget* parent)
    : CTDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      m_title(new CTStatic(title, this)),
      m_close(new CTButtonPicture(this)),
      m_save(MakeButton(this, QStringLiteral("Save"), size.width() / 2 - 110, size.height() - 46)),
      m_cancel(
          MakeButton(this, QStringLiteral("Cancel"), size.width() / 2 + 10, size.height() - 46)) {
    const GuiSkin& skin = Skin();
    setModal(true);
    resize(size);
    setWindowTitle(title);  // for the task bar and window lists; the strip shows it
    SetDraggable(true);
    SetFillBk(true);
    SetBkColor(skin.childBkColor);
    SetLineColor(skin.lineColor);
    const int w = size.width() - 1;
    const int h = size.height() - 1;
    AddLine(0, 0, w, 0);
    AddLine(0, h, w, h);
    AddLine(0, 0, 0, h);
    AddLine(w, 0, w, h);
    AddLine(0, 36, w, 36);
    m_title->ApplyStaticSkin();
    QFont titleFont = skin.StaticFont();
    titleFont.setBold(true);
    m_title->setFont(titleFont);
    m_title->setGeometry(14, 6, size.width() - 60, 26);
    m_close->SetImage(skin.Image(QStringLiteral("close_config.bmp")));
    m_close->setGeometry(size.width() - 28, 8, 20, 20);
    connect(m_close, &QAbstractButton::clicked, this, &QDialog::reject);
    connect(m_cancel, &QAbstractButton::clicked, this, &QDialog::reject);
}

CTStatic* MultiSetFrame::AddLabel(const QString& key, int x, int y, int w) {
    auto* label = new CTStatic(key, this);
    label->ApplyStaticSkin();
    label->setGeometry(x, y, w, 26);
    return label;
}

SwitchSetMultiDlg::SwitchSetMultiDlg(const QString& title, const QString& label, int current,
                                     SaveHandler onSave, QWidget* parent)
    : MultiSetFrame(title, QSize(380, 190), parent),
      m_enable(new QRadioButton(QStringLiteral("Enable"), this)),
      m_disable(new QRadioButton(QStringLiteral("Disable_off"), this)),
      m_choice(current != 0 ? 1 : 0),
      m_onSave(std::move(onSave)) {
    AddLabel(label, 30, 64, 120);
    m_enable->setGeometry(160, 64, 90, 26);
    m_disable->setGeometry(260, 64, 110, 26);
    m_enable->setFont(Skin().StaticFont());
    m_disable->setFont(Skin().StaticFont());
    (m_choice == 1 ? m_enable : m_disable)->setChecked(true);
    connect(m_enable, &QRadioButton::clicked, this, [this] { m_choice = 1; });
    connect(m_disable, &QRadioButton::clicked, this, [this] { m_choice = 0; });
    connect(SaveButton(), &QAbstractButton::clicked, this, &SwitchSetMultiDlg::OnSave);
    TranslateDialog(this);
}

void SwitchSetMultiDlg::OnSave() {
    if (m_onSave) m_onSave(m_choice);
    accept();
}

}  // namespace fd

CIpsetMutilDlg::CIpsetMutilDlg(std::vector<fd::SelectedDevice> devices, const ap_info_stu& first,
                               fd::WorkerSlot& slot, fd::IDeviceEngine& engine, QWidget* parent)
    : MultiSetFrame(QStringLiteral("Set IP"), QSize(420, 360), parent),
      m_devices(std::move(devices)),
      m_slot(slot),
      m_engine(engine),
      m_begin(AddAddress(QStringLiteral("IP_Address_Begin"), 50)),
      m_end(AddAddress(QStringLiteral("IP_Address_End"), 84)),
      m_mask(AddAddress(QStringLiteral("Sub_Network"), 118)),
      m_gateway(AddAddress(QStringLiteral("Gate_Way"), 152)),
      m_dns1(AddAddress(QStringLiteral("Major_Dns"), 186)),
      m_dns2(AddAddress(QStringLiteral("Dns"), 220)),
      m_bar(new QProgressBar(this)) {
    // The first device's addresses are the starting values; the end of the range is the
    // user's to give.
    m_begin->setText(fd::IpText(first.ip));
    m_mask->setText(fd::IpText(first.ip_mask));
    m_gateway->setText(fd::IpText(first.ip_gateway));
    m_dns1->setText(fd::IpText(first.ip_dns1));
    m_dns2->setText(fd::IpText(first.ip_dns2));
    m_bar->setGeometry(30, 262, 360, 16);
    m_bar->setTextVisible(false);
    m_bar->hide();
    m_timer.setInterval(500);
    connect(&m_timer, &QTimer::timeout, this, &CIpsetMutilDlg::OnProgressTick);
    connect(SaveButton(), &QAbstractButton::clicked, this, &CIpsetMutilDlg::OnSave);
    fd::TranslateDialog(this);
}

CTEdit* CIpsetMutilDlg::AddAddress(const QString& label, int y) {
    AddLabel(label, 30, y, 150);
    auto* edit = new CTEdit(this);
    edit->setGeometry(190, y, 200, 26);
    fd::MakeAddressEdit(edit);
    fd::MarkUntranslated(edit);
    return edit;
}

fd::MultiSetIpParams CIpsetMutilDlg::Form() const {
    fd::MultiSetIpParams p;
    p.begin = m_begin->text().trimmed().toStdString();
    p.end = m_end->text().trimmed().toStdString();
    p.mask = m_mask->text().trimmed().toStdString();
    p.gateway = m_gateway->text().trimmed().toStdString();
    p.dns1 = m_dns1->text().trimmed().toStdString();
    p.dns2 = m_dns2->text().trimmed().toStdString();
    return p;
}

void CIpsetMutilDlg::OnSave() {
    if (m_progress) return;  // already saving
    const fd::MultiSetIpParams params = Form();
    // The command line's planner: besides the form's checks, a range too small for the
    // selection and addresses other devices have are refused before anything is sent.
    std::vector<std::string> used;
    if (fd::Services().store != nullptr) used = fd::AddressesInUse(*fd::Services().store);
    const fd::BulkAddressPlan plan = fd::PlanBulkAddresses(params, m_devices, used);
    if (!plan.ok()) {
        fd::ShowAddressWarning(this, QString::fromStdString(plan.failure.key));
        return;
    }
    fd::StartMultiSetIpWorker(m_slot, m_engine, params, m_devices, fd::ServicesReadBack());
    for (QWidget* w :
         {static_cast<QWidget*>(m_begin), static_cast<QWidget*>(m_end),
          static_cast<QWidget*>(m_mask), static_cast<QWidget*>(m_gateway),
          static_cast<QWidget*>(m_dns1), static_cast<QWidget*>(m_dns2),
          static_cast<QWidget*>(SaveButton()), static_cast<QWidget*>(CancelButton())}) {
        w->setEnabled(false);
    }
    m_progress = std::make_unique<fd::IpSetProgress>(m_engine);
    m_bar->setRange(0, fd::IpSetProgress::kLength);
    m_bar->setValue(0);
    m_bar->show();
    m_timer.start();
}

void CIpsetMutilDlg::OnProgressTick() {
    if (!m_progress) return;
    const bool done = m_progress->Tick();
    m_bar->setValue(m_progress->Position());
    if (done) {
        m_timer.stop();
        accept();
    }
}
