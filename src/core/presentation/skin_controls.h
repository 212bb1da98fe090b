#pragma once
// Layout and input rules of the skinned controls, kept free of any toolkit so that they
// can be checked without a window.

#include <string_view>
#include <vector>

namespace fd {

// Items of the page-number strip under every device list: page numbers, with
// kPageItemEllipsis standing for "...". At most `slots` items (the strip has 7).
constexpr int kPageItemEllipsis = -1;
std::vector<int> ComputePageItems(int pageCount, int currentPage, int slots = 7);

// Where a button draws its text, by the alignment code of the button (256 left, 512 right,
// 768 centred, 1792 top centre, 2048 bottom left, 2816 bottom centre, anything else the
// top-left corner). Negative coordinates are clamped to 0.
struct TextPos {
    int x = 0;
    int y = 0;
};
TextPos AlignTextPosition(int alignCode, int offset, int textW, int textH, int boxW, int boxH);

// Button states and the colour slot each one draws its text with.
enum class ButtonState { Normal = 0, Hover = 1, Pressed = 2, Disabled = 3 };
enum class ButtonTextColor { Normal, Hover, Disabled };
ButtonTextColor TextColorFor(ButtonState state, bool selectedMode);

// Input classes of the filtered edit: 0 anything, 1 digits, 2 letters, 3 letters and digits.
// Control characters (backspace, tab...) always pass; refused characters never do.
bool EditAcceptsChar(int inputClass, std::string_view refused, char32_t ch);

}  // namespace fd
