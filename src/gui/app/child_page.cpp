#include "app/child_page.h"

#include "app/skin.h"

CChildPage::CChildPage(int pageId, QWidget* parent)
    : CTDialog(parent, ChildTag{}), m_pageId(pageId) {
    SetFillBk(true);
    SetBkColor(fd::Skin().childBkColor);
}
