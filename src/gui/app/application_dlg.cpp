#include "app/application_dlg.h"

#include <QCursor>
#include <QDesktopServices>
#include <QMenu>
#include <QSizeGrip>
#include <QSystemTrayIcon>
#include <QUrl>

#include "app/child_dlg.h"
#include "app/menu_dlg.h"
#include "app/skin.h"
#include "app/translate.h"
#include "controls/t_button_picture.h"
#include "controls/t_static.h"

namespace {

QIcon AppIcon() {
    QIcon icon(fd::Skin().Image(QStringLiteral("app_icon.png")));
    return icon;
}

// The first half of a two-state menu picture.
QIcon MenuIcon(const QString& path) {
    const QPixmap strip(path);
    if (strip.isNull()) return {};
    return QIcon(strip.copy(0, 0, strip.width() / 2, strip.height()));
}

}  // namespace

CApplicationDlg::CApplicationDlg(QWidget* parent)
    : CTDialog(parent, Qt::Window | Qt::FramelessWindowHint),
      m_min(new CTButtonPicture(this)),
      m_close(new CTButtonPicture(this)),
      m_info(new CTButtonPicture(this)),
      m_menu(nullptr),
      m_host(new CChildDlg(this)),
      m_grip(new QSizeGrip(this)),
      m_subtitle(new CTStatic(QStringLiteral("Outdoor CPE / AP management"), this)) {
    const fd::GuiSkin& skin = fd::Skin();
    setObjectName(QStringLiteral("CApplicationDlg"));
    setWindowTitle(QStringLiteral("CPEManagement"));
    setWindowIcon(AppIcon());
    setMinimumSize(kMinWidth, kMinHeight);
    resize(kWidth, kHeight);
    SetBkImage(skin.Image(QStringLiteral("main_bk.jpg")));
    // The title band, the logo and the picture above the navigation keep their drawn size
    // when the window is resized.
    SetBkFixedPart(QSize(kWidth / 2, kMenuTop));
    SetDraggable(true);

    // Under the product name in the title band.
    m_subtitle->SetFontSpec(skin.fontName, 15, 0);
    m_subtitle->SetTextColor(QColor(0xc9, 0xd6, 0xe8));
    m_subtitle->setGeometry(72, 50, 500, 20);
    m_subtitle->setAttribute(Qt::WA_TransparentForMouseEvents);  // the band drags the window

    // Caption buttons at the top right: information, minimise, close.
    // lang-keys:begin
    const char* const tips[] = {"Information", "Minimize", "Close"};
    // lang-keys:end
    struct Caption {
        CTButtonPicture* button;
        const char* image;
        const char* name;
    };
    const Caption captions[] = {{m_info, "help_normal.bmp", "Info"},
                                {m_min, "min_normal.bmp", "Min"},
                                {m_close, "close_normal.bmp", "Close"}};
    for (int i = 0; i < 3; ++i) {
        const Caption& c = captions[i];
        c.button->setObjectName(QString::fromLatin1(c.name));
        c.button->SetImageStrip(skin.Image(QString::fromLatin1(c.image)), 3);
        c.button->resize(30, 24);
        c.button->setToolTip(fd::Tr(tips[i]));
    }
    connect(m_min, &QAbstractButton::clicked, this, &CApplicationDlg::OnMinimize);
    connect(m_close, &QAbstractButton::clicked, this, &QDialog::reject);
    connect(m_info, &QAbstractButton::clicked, this, [this] {
        activateWindow();
        m_helpMenu->exec(QCursor::pos());
    });

    m_host->setGeometry(kMenuWidth, kHostTop, kWidth - kMenuWidth, kHeight - kHostTop);
    m_host->CreatePages();
    m_menu = new CMenuDlg(m_host, this);
    LayOut();
    m_menu->show();
    m_host->show();
    CreateHelpMenu();
    fd::TranslateDialog(this);
    m_menu->Init();
    CreateTray();
}

QRect CApplicationDlg::FitToScreen(const QRect& available) {
    const int w = std::max(kMinWidth, std::min(kWidth, available.width()));
    const int h = std::max(kMinHeight, std::min(kHeight, available.height()));
    // Centred; a screen smaller than the minimum gets the window at its top-left corner,
    // where the caption buttons and the navigation stay reachable.
    const int x = available.x() + std::max(0, (available.width() - w) / 2);
    const int y = available.y() + std::max(0, (available.height() - h) / 2);
    return QRect(x, y, w, h);
}

void CApplicationDlg::PlaceOnScreen(const QRect& available) {
    setGeometry(FitToScreen(available));
}

void CApplicationDlg::resizeEvent(QResizeEvent* e) {
    CTDialog::resizeEvent(e);
    LayOut();
}

void CApplicationDlg::LayOut() {
    const int w = width();
    const int h = height();
    m_info->move(w - 8 - 3 * 32, 8);
    m_min->move(w - 8 - 2 * 32, 8);
    m_close->move(w - 8 - 32, 8);
    m_host->setGeometry(kMenuWidth, kHostTop, w - kMenuWidth, h - kHostTop);
    if (m_menu != nullptr) m_menu->setGeometry(0, kMenuTop, kMenuWidth, h - kMenuTop);
    const QSize grip = m_grip->sizeHint();
    m_grip->setGeometry(w - grip.width(), h - grip.height(), grip.width(), grip.height());
    m_grip->raise();
}

CApplicationDlg::~CApplicationDlg() {
    if (m_tray != nullptr) m_tray->hide();
}

void CApplicationDlg::CreateHelpMenu() {
    const fd::GuiSkin& skin = fd::Skin();
    m_helpMenu = new QMenu(this);
    m_helpMenu->setObjectName(QStringLiteral("helpMenu"));
    struct Item {
        const char* text;
        const char* urlKey;
        const char* image;
    };
    static const Item items[] = {{"Product", "Product_url", "help_product_normal.bmp"},
                                 {"Support", "Support_url", "help_support_normal.bmp"},
                                 {"Contact Us", "Contact_url", "help_contact_normal.bmp"},
                                 {"Help", "Help_url", "help_help_normal.bmp"}};
    for (const Item& item : items) {
        QAction* a = m_helpMenu->addAction(MenuIcon(skin.Image(QString::fromLatin1(item.image))),
                                           QString::fromLatin1(item.text));
        const char* key = item.urlKey;
        connect(a, &QAction::triggered, this, [key] { OpenHelpUrl(key); });
    }
    fd::TranslateMenu(m_helpMenu);
}

void CApplicationDlg::OpenHelpUrl(const char* key) {
    const QString text = fd::Tr(key).trimmed();
    if (text.isEmpty()) return;
    QDesktopServices::openUrl(QUrl::fromUserInput(text));
}

void CApplicationDlg::CreateTray() {
    m_trayMenu = new QMenu(this);
    m_trayMenu->setObjectName(QStringLiteral("trayMenu"));
    QAction* show = m_trayMenu->addAction(QStringLiteral("Show Utility"));
    QAction* exit = m_trayMenu->addAction(QStringLiteral("Exit"));
    connect(show, &QAction::triggered, this, &CApplicationDlg::ShowFromTray);
    connect(exit, &QAction::triggered, this, &QDialog::reject);
    fd::TranslateMenu(m_trayMenu);
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;  // no tray: minimise instead
    m_tray = new QSystemTrayIcon(AppIcon(), this);
    m_tray->setToolTip(fd::Tr("CPEManagement"));
    m_tray->setContextMenu(m_trayMenu);
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick) ShowFromTray();
            });
    m_tray->show();
}

void CApplicationDlg::OnMinimize() {
    if (m_tray != nullptr && m_tray->isVisible()) {
        hide();  // reachable again through the tray icon
    } else {
        showMinimized();
    }
}

void CApplicationDlg::ShowFromTray() {
    showNormal();
    raise();
    activateWindow();
}
