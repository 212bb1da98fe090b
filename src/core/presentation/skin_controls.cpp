#include "presentation/skin_controls.h"

#include <algorithm>

namespace fd {

std::vector<int> ComputePageItems(int pageCount, int currentPage, int slots) {
    std::vector<int> items;
    if (pageCount <= 0) return items;
    const int n = pageCount;
    const int p = std::clamp(currentPage, 1, n);
    if (n <= slots) {
        for (int i = 1; i <= n; ++i) items.push_back(i);
        return items;
    }
    // Seven slots: both ends always show, the middle follows the current page.
    if (p <= 4) {
        items = {1, 2, 3, 4, 5, kPageItemEllipsis, n};
    } else if (p < n - 3) {
        items = {1, kPageItemEllipsis, p - 1, p, p + 1, kPageItemEllipsis, n};
    } else {
        items = {1, kPageItemEllipsis, n - 4, n - 3, n - 2, n - 1, n};
    }
    return items;
}

TextPos AlignTextPosition(int alignCode, int offset, int textW, int textH, int boxW, int boxH) {
    TextPos pos;
    switch (alignCode) {
        case 256:
            pos = {offset + 2, (boxH - textH) / 2};
            break;
        case 512:
            pos = {boxW - offset - textW - 2, (boxH - textH) / 2};
            break;
        case 768:
            pos = {(boxW - textW) / 2, (boxH - textH) / 2};
            break;
        case 1792:
            pos = {(boxW - textW) / 2, 0};
            break;
        case 2048:
            pos = {0, boxH - textH};
            break;
        case 2816:
            pos = {(boxW - textW) / 2, boxH - textH};
            break;
        default:
            break;
    }
    pos.x = std::max(pos.x, 0);
    pos.y = std::max(pos.y, 0);
    return pos;
}

ButtonTextColor TextColorFor(ButtonState state, bool selectedMode) {
    if (selectedMode) return ButtonTextColor::Hover;
    switch (state) {
        case ButtonState::Hover:
        case ButtonState::Pressed:
            return ButtonTextColor::Hover;
        case ButtonState::Disabled:
            return ButtonTextColor::Disabled;
        case ButtonState::Normal:
            break;
    }
    return ButtonTextColor::Normal;
}

bool EditAcceptsChar(int inputClass, std::string_view refused, char32_t ch) {
    if (ch < 0x20 || ch == 0x7f) return true;  // editing keys are never filtered
    if (ch < 0x80 && refused.find(static_cast<char>(ch)) != std::string_view::npos) {
        return false;
    }
    const bool digit = ch >= U'0' && ch <= U'9';
    const bool letter = (ch >= U'A' && ch <= U'Z') || (ch >= U'a' && ch <= U'z');
    switch (inputClass) {
        case 1:
            return digit;
        case 2:
            return letter;
        case 3:
            return digit || letter;
        default:
            return true;
    }
}

}  // namespace fd
