#pragma once
// The main window: skinned and caption-less, with minimise, close and information buttons,
// the help menu, the tray icon, the navigation strip and the page host.

#include "controls/t_dialog.h"

class QMenu;
class QSizeGrip;
class QSystemTrayIcon;
class CTButtonPicture;
class CTStatic;
class CMenuDlg;
class CChildDlg;

class CApplicationDlg : public CTDialog {
    Q_OBJECT
public:
    explicit CApplicationDlg(QWidget* parent = nullptr);
    ~CApplicationDlg() override;

    // The size the window opens at when the screen has room for it.
    static constexpr int kWidth = 1260;
    static constexpr int kHeight = 780;
    // Below this the navigation strip or a page's footer would be cut.
    static constexpr int kMinWidth = 1130;
    static constexpr int kMinHeight = 600;
    static constexpr int kMenuTop = 158;
    static constexpr int kHostTop = 86;
    static constexpr int kMenuWidth = 190;

    CMenuDlg* Menu() const { return m_menu; }
    CChildDlg* Host() const { return m_host; }
    QSystemTrayIcon* Tray() const { return m_tray; }
    QMenu* HelpMenu() const { return m_helpMenu; }
    QMenu* TrayMenu() const { return m_trayMenu; }
    CTButtonPicture* MinButton() const { return m_min; }
    CTButtonPicture* CloseButton() const { return m_close; }
    CTButtonPicture* InfoButton() const { return m_info; }
    CTStatic* Subtitle() const { return m_subtitle; }

    // Where the window goes in a screen's available area (the desktop less its panels):
    // its own size when that fits, else as much of the area as there is, never below the
    // minimum size; centred.
    static QRect FitToScreen(const QRect& available);
    void PlaceOnScreen(const QRect& available);
    QSizeGrip* SizeGrip() const { return m_grip; }

    // A list page tells the window while a search runs.
    void SetSearchRunning(bool running) { m_searching = running; }
    bool SearchRunning() const { return m_searching; }

    // The minimise button: hide to the tray, or minimise when the desktop has no tray.
    void OnMinimize();
    void ShowFromTray();
    // Opens the URL the language file gives for key ("Product_url", ...).
    static void OpenHelpUrl(const char* key);

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void LayOut();
    void CreateTray();
    void CreateHelpMenu();

    CTButtonPicture* m_min;
    CTButtonPicture* m_close;
    CTButtonPicture* m_info;
    CMenuDlg* m_menu;
    CChildDlg* m_host;
    QSizeGrip* m_grip;
    CTStatic* m_subtitle;
    QMenu* m_helpMenu = nullptr;
    QMenu* m_trayMenu = nullptr;
    QSystemTrayIcon* m_tray = nullptr;
    bool m_searching = false;
};
