#pragma once
// The installation help page: the help picture of the system's language, scrollable.

#include "app/child_page.h"

class CScrollBitmapWnd;

class CInstallHelpDlg : public CChildPage {
    Q_OBJECT
public:
    explicit CInstallHelpDlg(QWidget* parent = nullptr);
    CScrollBitmapWnd* Picture() const { return m_picture; }

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    CScrollBitmapWnd* m_picture;
};
