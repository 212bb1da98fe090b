#include "pages/config/management_config_dlg.h"

#include "actions/device_workers.h"
#include "app/app_context.h"
#include "app/skin.h"
#include "app/translate.h"
#include "controls/t_button_picture.h"
#include "controls/t_static.h"
#include "controls/wait_dlg.h"
#include "pages/config/config_controls.h"
#include "pages/config/ip_set_dlg.h"
#include "pages/config/vlan_reboot_dlgs.h"
#include "pages/config/wireless_set_dlg.h"
#include "pages/devices/page_messages.h"

namespace {

constexpr int kWidth = 760, kHeight = 470;
constexpr int kPageTop = 92, kPageHeight = 310;

CTButtonPicture* MakeButton(QWidget* parent, const QString& text, const QString& image, int x,
                            int y, int w, int h) {
    const fd::GuiSkin& skin = fd::Skin();
    auto* b = new CTButtonPicture(parent);
    b->SetImage(skin.Image(image));
    b->SetFontSpec(skin.fontName, skin.buttonFontHeight, skin.buttonFontWeight);
    b->SetTextColors(skin.buttonFontColor, QColor(255, 255, 255), QColor(153, 153, 153));
    b->SetAlign(256, 26);
    b->setText(text);
    b->setGeometry(x, y, w, h);
    return b;
}

}  // namespace

CManagementConfigDlg::CManagementConfigDlg(const ap_info_stu& rec, fd::ConfigurationTarget target,
                                           fd::IDeviceEngine& engine, IDeviceStore& store,
                                           fd::WorkerSlot& sender, QWidget* parent)
    : CTDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      m_rec(rec),
      m_target(std::move(target)),
      m_engine(engine),
      m_store(store),
      m_sender(sender),
      m_wireless(new CWirelessSetDlg(rec, this)),
      m_ip(new CIPSetDlg(rec, this)),
      m_vlan(new CVlanDlg(rec, this)),
      m_reboot(new CTimeRebootDlg(rec, this)),
      m_save(MakeButton(this, QStringLiteral("Save"), QStringLiteral("config_btn.bmp"),
                        kWidth / 2 - 105, kHeight - 45, 90, 28)),
      m_cancel(MakeButton(this, QStringLiteral("Cancel"), QStringLiteral("config_btn.bmp"),
                          kWidth / 2 + 15, kHeight - 45, 90, 28)),
      m_close(new CTButtonPicture(this)) {
    const fd::GuiSkin& skin = fd::Skin();
    setModal(true);
    resize(kWidth, kHeight);
    setWindowTitle(QStringLiteral("Device management"));
    SetDraggable(true);
    SetFillBk(true);
    SetBkColor(skin.childBkColor);
    SetLineColor(skin.lineColor);
    AddLine(0, 0, kWidth - 1, 0);
    AddLine(0, kHeight - 1, kWidth - 1, kHeight - 1);
    AddLine(0, 0, 0, kHeight - 1);
    AddLine(kWidth - 1, 0, kWidth - 1, kHeight - 1);
    AddLine(0, 36, kWidth - 1, 36);
    AddLine(20, kPageTop - 6, kWidth - 20, kPageTop - 6);

    auto* title = new CTStatic(QStringLiteral("Device management"), this);
    title->ApplyStaticSkin();
    QFont titleFont = skin.StaticFont();
    titleFont.setBold(true);
    title->setFont(titleFont);
    title->setGeometry(14, 6, kWidth - 60, 26);
    m_close->SetImage(skin.Image(QStringLiteral("close_config.bmp")));
    m_close->setGeometry(kWidth - 28, 8, 20, 20);

    // The tabs' shown texts are looked up under their own keys.
    static const char* const kTabTexts[4] = {"WirelessSet", "IPSET", "VLAN", "TimeReboot"};
    static const char* const kTabNames[4] = {"Wireless", "IPSET", "VLAN", "TimeRestart"};
    for (int t = 0; t < 4; ++t) {
        CTButtonPicture* b =
            MakeButton(this, QString::fromLatin1(kTabTexts[t]), QStringLiteral("btn_export.bmp"),
                       20 + t * 150, 48, 140, 30);
        b->SetImages(skin.Image(QStringLiteral("btn_export.bmp")),
                     skin.Image(QStringLiteral("btn_export.bmp")),
                     skin.Image(QStringLiteral("config_btn.bmp")),
                     skin.Image(QStringLiteral("btn_export.bmp")));
        b->SetAlign(256, 36);
        b->setObjectName(QString::fromLatin1(kTabNames[t]));
        connect(b, &QAbstractButton::clicked, this, [this, t] { ShowTab(t); });
        m_tabs[static_cast<std::size_t>(t)] = b;
    }
    for (QWidget* page : {static_cast<QWidget*>(m_wireless), static_cast<QWidget*>(m_ip),
                          static_cast<QWidget*>(m_vlan), static_cast<QWidget*>(m_reboot)})
        page->setGeometry(20, kPageTop, kWidth - 40, kPageHeight);

    // Save and Cancel: the plain button of the configuration dialogs, text centred.
    m_save->SetAlign(768, 0);
    m_cancel->SetAlign(768, 0);
    connect(m_save, &QAbstractButton::clicked, this, &CManagementConfigDlg::OnSave);
    connect(m_cancel, &QAbstractButton::clicked, this, &QDialog::reject);
    connect(m_close, &QAbstractButton::clicked, this, &QDialog::reject);
    fd::TranslateDialog(this);
    ShowTab(kWirelessTab);
}

void CManagementConfigDlg::ShowTab(int tab) {
    m_tab = tab;
    QWidget* const pages[4] = {m_wireless, m_ip, m_vlan, m_reboot};
    for (int t = 0; t < 4; ++t) {
        pages[t]->setVisible(t == tab);
        m_tabs[static_cast<std::size_t>(t)]->SetSelected(t == tab);
    }
}

void CManagementConfigDlg::OnSave() {
    m_pending = {};
    fd::ConfigurationForms forms;
    forms.wireless = m_wireless->Form();
    forms.ip = m_ip->Form();
    forms.vlan = m_vlan->Form();
    forms.reboot = m_reboot->Form();
    const std::vector<std::string> usedIps = fd::AddressesInUse(m_store);
    const fd::ConfigurationPlan plan = fd::PlanConfiguration(m_rec, forms, usedIps);
    if (!plan.ok()) {
        // The refused field may be on another tab: that tab comes to the front first.
        ShowTab(static_cast<int>(plan.failedTab));
        fd::ShowRuleFailure(this, plan.failure);
        switch (plan.failedTab) {
            case fd::ConfigurationTab::Wireless:
                m_wireless->FocusField(plan.failure.field);
                break;
            case fd::ConfigurationTab::Ip:
                m_ip->FocusField(plan.failure.field);
                break;
            case fd::ConfigurationTab::Vlan:
                m_vlan->FocusField(plan.failure.field);
                break;
            case fd::ConfigurationTab::TimedReboot:
                m_reboot->FocusField(plan.failure.field);
                break;
        }
        return;
    }
    m_pending = plan.pending;
    if (!m_pending.Empty()) {
        // The sender then reads the settings back; the list shows the result.
        fd::ConfigurationTarget target = m_target;
        target.record = m_rec;
        fd::StartConfigurationSender(m_sender, m_engine, target, m_pending, fd::ServicesReadBack());
    }
    const fd::ConfigurationWait wait = fd::ChooseConfigurationWait(m_pending);
    if (wait.seconds > 0) {
        CWaitDlg dlg(wait.seconds, wait.search, wait.searches, &m_engine, this);
        fd::RunPageDialog(dlg);
    }
    accept();
}
