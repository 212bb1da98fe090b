#include "app/menu_dlg.h"

#include "app/child_dlg.h"
#include "app/skin.h"
#include "app/translate.h"
#include "controls/t_button_picture.h"
#include "controls/t_static.h"

namespace {
constexpr int kButtonWidth = 190;
constexpr int kButtonHeight = 46;
constexpr int kButtonStep = 50;
}  // namespace

const std::array<CMenuDlg::Entry, CMenuDlg::kButtons>& CMenuDlg::Entries() {
    static const std::array<Entry, kButtons> entries = {{
        {1004, "Device status", fd::kPageStatus, "search"},
        {1007, "Device management", fd::kPageManagement, "wireless"},
        {1003, "Device bridge", fd::kPageBridge, "device"},
        {1009, "Device reboot", fd::kPageReboot, "user"},
        {1006, "Device upgrade", fd::kPageUpgrade, "adstragy"},
        {1005, "Device restore", fd::kPageRestore, "admanagment"},
        {1008, "Install Help", fd::kPageInstallHelp, "active"},
        {1001, "System tool", fd::kPageSystemTool, "system"},
    }};
    return entries;
}

CMenuDlg::CMenuDlg(CChildDlg* host, QWidget* parent)
    : CTDialog(parent, ChildTag{}), m_host(host), m_label(new CTStatic(this)) {
    const fd::GuiSkin& skin = fd::Skin();
    SetBkImage(skin.Image(QStringLiteral("main_left_bk.jpg")));
    resize(kButtonWidth, 8 * kButtonStep + 80);
    for (int i = 0; i < kButtons; ++i) {
        const Entry& e = Entries()[static_cast<size_t>(i)];
        auto* b = new CTButtonPicture(this);
        b->setObjectName(QStringLiteral("nav%1").arg(e.controlId));
        const QString normal = skin.Image(QStringLiteral("bt_menu_%1_normal.bmp").arg(e.image));
        const QString down = skin.Image(QStringLiteral("bt_menu_%1_down.bmp").arg(e.image));
        b->SetImages(normal, down, down, normal);
        b->setText(QString::fromUtf8(e.key));
        b->SetFontSpec(skin.fontName, skin.buttonMenuFontHeight, skin.buttonMenuFontWeight);
        b->SetTextColors(skin.buttonMenuFontColor, QColor(255, 255, 255), QColor(153, 153, 153));
        b->SetAlign(256, 44);
        b->setGeometry(0, 6 + i * kButtonStep, kButtonWidth, kButtonHeight);
        const int pageId = e.pageId;
        connect(b, &QAbstractButton::clicked, this, [this, pageId] { Navigate(pageId); });
        m_buttons[static_cast<size_t>(i)] = b;
    }
    m_label->setObjectName(QStringLiteral("label1024"));
    m_label->SetFontSpec(skin.fontName, 13, 0);
    m_label->SetTextColor(QColor(110, 122, 138));
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setGeometry(0, 6 + kButtons * kButtonStep + 12, kButtonWidth, 20);
    m_label->setText(skin.versionText);
    fd::MarkUntranslated(m_label);
}

CTButtonPicture* CMenuDlg::ButtonForPage(int pageId) const {
    for (int i = 0; i < kButtons; ++i) {
        if (Entries()[static_cast<size_t>(i)].pageId == pageId) return Button(i);
    }
    return nullptr;
}

void CMenuDlg::Init() {
    fd::TranslateDialog(this);
    int first = 0;
    for (int i = kButtons - 1; i >= 0; --i) {
        const int pageId = Entries()[static_cast<size_t>(i)].pageId;
        const bool present = m_host != nullptr && m_host->HasPage(pageId);
        Button(i)->setEnabled(present);
        if (present) first = pageId;
    }
    if (m_host != nullptr && m_host->HasPage(fd::kPageStatus)) first = fd::kPageStatus;
    if (first != 0) Navigate(first);
}

void CMenuDlg::Navigate(int pageId) {
    for (CTButtonPicture* b : m_buttons) b->SetSelected(false);
    if (CTButtonPicture* own = ButtonForPage(pageId)) own->SetSelected(true);
    if (m_host == nullptr) return;
    m_host->ShowPage(pageId);
}
