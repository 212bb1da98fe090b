#pragma once
// Where the main window's pages come from. A page that is not built yet has no factory
// entry; its navigation button stays disabled.

class CChildPage;
class QWidget;

namespace fd {

// The page for an identifier, or nullptr when that page does not exist (yet).
CChildPage* CreateChildPage(int pageId, QWidget* parent);

}  // namespace fd
