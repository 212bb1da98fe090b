#pragma once
// The navigation strip at the left of the main window: eight page buttons, the chosen one
// drawn selected, and the version label.

#include <array>

#include "controls/t_dialog.h"

class CTButtonPicture;
class CTStatic;
class CChildDlg;

class CMenuDlg : public CTDialog {
    Q_OBJECT
public:
    CMenuDlg(CChildDlg* host, QWidget* parent = nullptr);

    static constexpr int kButtons = 8;
    struct Entry {
        int controlId;
        const char* key;  // language key of the caption
        int pageId;
        const char* image;  // "bt_menu_<image>_normal.bmp" / "_down.bmp"
    };
    static const std::array<Entry, kButtons>& Entries();

    // Enables the buttons whose pages exist and selects the first page (the device status
    // page when there is one).
    void Init();
    // What pressing the button for pageId does.
    void Navigate(int pageId);
    CTButtonPicture* Button(int index) const { return m_buttons[static_cast<size_t>(index)]; }
    CTButtonPicture* ButtonForPage(int pageId) const;
    CTStatic* Label() const { return m_label; }

private:
    CChildDlg* m_host;
    std::array<CTButtonPicture*, kButtons> m_buttons{};
    CTStatic* m_label;
};
