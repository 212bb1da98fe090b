#include "pages/help/install_help_dlg.h"

#include "app/skin.h"
#include "app/translate.h"
#include "controls/scroll_bitmap_wnd.h"

CInstallHelpDlg::CInstallHelpDlg(QWidget* parent)
    : CChildPage(fd::kPageInstallHelp, parent), m_picture(new CScrollBitmapWnd(this)) {
    resize(1070, 694);
    m_picture->SetBitmap(fd::Skin().HelpImage());
    m_picture->setStyleSheet(QStringLiteral("background: white;"));
    fd::TranslateDialog(this);
}

void CInstallHelpDlg::resizeEvent(QResizeEvent* e) {
    CChildPage::resizeEvent(e);
    m_picture->setGeometry(10, 10, width() - 20, height() - 20);
}
