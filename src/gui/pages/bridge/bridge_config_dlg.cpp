#include "pages/bridge/bridge_config_dlg.h"

#include "app/app_context.h"
#include "app/skin.h"
#include "app/translate.h"
#include "controls/t_button_picture.h"
#include "controls/t_static.h"
#include "pages/bridge/bridge_steps.h"
#include "rules/bridge_rules.h"

namespace {
constexpr int kWidth = 600;
constexpr int kHeight = 480;
constexpr int kStepTop = 40;
constexpr int kStepHeight = 380;

CTButtonPicture* WizardButton(QWidget* parent, const QString& key, const QString& image,
                              const QColor& text, int x) {
    const fd::GuiSkin& skin = fd::Skin();
    auto* b = new CTButtonPicture(parent);
    b->SetImage(skin.Image(image));
    b->SetFontSpec(skin.fontName, skin.buttonFontHeight, skin.buttonFontWeight);
    b->SetTextColors(text, QColor(255, 255, 255), QColor(153, 153, 153));
    b->setText(key);
    b->setGeometry(x, kHeight - 46, 100, 30);
    return b;
}
}  // namespace

CBridgeConfigDlg::CBridgeConfigDlg(const ap_info_stu& device, const DeviceTarget& target,
                                   fd::IDeviceEngine& engine, IDeviceStore& store,
                                   fd::WorkerSlot& sendSlot, QWidget* parent)
    : CTDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      m_device(device),
      m_target(target),
      m_engine(engine),
      m_store(store),
      m_sendSlot(sendSlot),
      m_title(new CTStatic(QStringLiteral("Device bridge"), this)),
      m_close(new CTButtonPicture(this)),
      m_back(WizardButton(this, QStringLiteral("Back"), QStringLiteral("btn_config.bmp"),
                          fd::Skin().buttonFontColor, kWidth / 2 - 110)),
      m_next(WizardButton(this, QStringLiteral("Next"), QStringLiteral("config_btn.bmp"),
                          QColor(255, 255, 255), kWidth / 2 + 10)),
      m_scan(nullptr),
      m_secure(nullptr),
      m_ipStep(nullptr),
      m_finish(nullptr) {
    const fd::GuiSkin& skin = fd::Skin();
    setModal(true);
    resize(kWidth, kHeight);
    setWindowTitle(QStringLiteral("Device bridge"));
    SetDraggable(true);
    SetFillBk(true);
    SetBkColor(skin.childBkColor);
    SetLineColor(skin.lineColor);
    AddLine(0, 0, kWidth - 1, 0);
    AddLine(0, kHeight - 1, kWidth - 1, kHeight - 1);
    AddLine(0, 0, 0, kHeight - 1);
    AddLine(kWidth - 1, 0, kWidth - 1, kHeight - 1);
    // The title strip is made after the title and the close button, which it lies under:
    // it goes to the bottom, or it would hide the close button and take its clicks.
    auto* strip = new CTStatic(this);
    strip->SetTransparent(false);
    strip->SetBkColor(skin.gridTitleBkColor);
    strip->setGeometry(1, 1, kWidth - 2, 34);
    strip->lower();
    m_title->ApplyStaticSkin();
    m_title->SetTransparent(true);
    QFont titleFont = skin.StaticFont();
    titleFont.setBold(true);
    m_title->setFont(titleFont);
    m_title->setGeometry(14, 5, kWidth - 60, 26);
    m_close->SetImage(skin.Image(QStringLiteral("close_config.bmp")));
    m_close->setGeometry(kWidth - 28, 8, 20, 20);
    connect(m_close, &QAbstractButton::clicked, this, &CBridgeConfigDlg::OnClose);
    connect(m_back, &QAbstractButton::clicked, this, &CBridgeConfigDlg::OnBack);
    connect(m_next, &QAbstractButton::clicked, this, &CBridgeConfigDlg::OnNext);

    m_scan = new CBridgeSearcgAPDlg(
        m_engine, m_store, m_target, [this](bool on) { m_next->setEnabled(on); }, this);
    m_secure = new CBridgeSecureDlg(this);
    m_ipStep = new CBridgeIPSetDlg(m_store, this);
    m_finish = new CBridgeFinishDlg(this);
    for (CTDialog* step : {static_cast<CTDialog*>(m_scan), static_cast<CTDialog*>(m_secure),
                           static_cast<CTDialog*>(m_ipStep), static_cast<CTDialog*>(m_finish)})
        step->setGeometry(1, kStepTop, kWidth - 2, kStepHeight);
    fd::TranslateDialog(this);
    ShowStep();
    m_next->setEnabled(false);
    m_scan->StartScan();
}

void CBridgeConfigDlg::ShowStep() {
    const int step = m_flow.Step();
    m_scan->setVisible(step == 0);
    m_secure->setVisible(step == 1);
    m_ipStep->setVisible(step == 2);
    m_finish->setVisible(step == 3);
    m_back->setVisible(m_flow.BackVisible());
    m_next->setText(fd::Tr(m_flow.NextKey()));
}

void CBridgeConfigDlg::OnNext() {
    switch (m_flow.Step()) {
        case 0: {
            config_otherwl_basic ap{};
            if (!m_scan->TickedAccessPoint(ap)) return;
            m_secure->Prefill(m_device.ap_type, m_device.rf_type, m_device.country_code,
                              m_device.bandwidth, ap);
            break;
        }
        case 1:
            if (!m_secure->CheckAndFill(m_wireless)) return;
            m_ipStep->Prefill(fd::GetIpBlock(m_device));
            break;
        case 2:
            if (!m_ipStep->CheckAndFill(fd::IpToText(m_device.ip), m_ip)) return;
            break;
        default: {
            const BridgeConfigBody body = fd::MakeBridgeBody(m_wireless, m_ip);
            // The station is then asked again: it must report the access point and the
            // addresses sent (the list shows the result).
            fd::StartBridgeSendWorker(m_sendSlot, m_engine, m_target.ip, m_target.mac, body,
                                      fd::ServicesReadBack(), m_device);
            m_scan->Clear();
            m_store.DeleteAllOtherAp();
            accept();
            return;
        }
    }
    m_flow.Advance();
    ShowStep();
}

void CBridgeConfigDlg::OnBack() {
    m_flow.Back();
    ShowStep();
    // Back on the scan step the tick is still there, and with it the way on.
    if (m_flow.Step() == 0) m_next->setEnabled(m_scan->List().TickedRow().has_value());
}

void CBridgeConfigDlg::OnClose() {
    m_scan->Clear();
    m_store.DeleteAllOtherAp();
    reject();
}
