#include "presentation/skin_controls.h"

#include <gtest/gtest.h>

namespace {

using fd::kPageItemEllipsis;
constexpr int E = kPageItemEllipsis;

TEST(PageItems, FewPagesShowEveryNumber) {
    EXPECT_EQ(fd::ComputePageItems(7, 1), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(fd::ComputePageItems(7, 7), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(fd::ComputePageItems(1, 1), (std::vector<int>{1}));
    EXPECT_TRUE(fd::ComputePageItems(0, 1).empty());
}

TEST(PageItems, ManyPagesFollowTheCurrentPage) {
    EXPECT_EQ(fd::ComputePageItems(20, 10), (std::vector<int>{1, E, 9, 10, 11, E, 20}));
    EXPECT_EQ(fd::ComputePageItems(20, 18), (std::vector<int>{1, E, 16, 17, 18, 19, 20}));
    // The borders between the three shapes.
    EXPECT_EQ(fd::ComputePageItems(20, 4), (std::vector<int>{1, 2, 3, 4, 5, E, 20}));
    EXPECT_EQ(fd::ComputePageItems(20, 5), (std::vector<int>{1, E, 4, 5, 6, E, 20}));
    EXPECT_EQ(fd::ComputePageItems(20, 16), (std::vector<int>{1, E, 15, 16, 17, E, 20}));
    EXPECT_EQ(fd::ComputePageItems(20, 17), (std::vector<int>{1, E, 16, 17, 18, 19, 20}));
    EXPECT_EQ(fd::ComputePageItems(8, 5), (std::vector<int>{1, E, 4, 5, 6, 7, 8}));
}

TEST(PageItems, CurrentPageOutsideTheListIsClamped) {
    // A list that shrank under the pager must not produce numbers past the last page.
    EXPECT_EQ(fd::ComputePageItems(20, 40), (std::vector<int>{1, E, 16, 17, 18, 19, 20}));
    EXPECT_EQ(fd::ComputePageItems(20, 0), (std::vector<int>{1, 2, 3, 4, 5, E, 20}));
    for (int p = 1; p <= 30; ++p) {
        const auto items = fd::ComputePageItems(30, p);
        ASSERT_EQ(items.size(), 7u) << p;
        EXPECT_NE(std::find(items.begin(), items.end(), p), items.end()) << p;
    }
}

TEST(AlignTextPosition, EveryCode) {
    // text 40x10 in a 100x30 box, offset 5
    auto at = [](int code) { return fd::AlignTextPosition(code, 5, 40, 10, 100, 30); };
    EXPECT_EQ(at(256).x, 7);
    EXPECT_EQ(at(256).y, 10);
    EXPECT_EQ(at(512).x, 53);
    EXPECT_EQ(at(768).x, 30);
    EXPECT_EQ(at(768).y, 10);
    EXPECT_EQ(at(1792).x, 30);
    EXPECT_EQ(at(1792).y, 0);
    EXPECT_EQ(at(2048).x, 0);
    EXPECT_EQ(at(2048).y, 20);
    EXPECT_EQ(at(2816).x, 30);
    EXPECT_EQ(at(2816).y, 20);
    EXPECT_EQ(at(1).x, 0);
    EXPECT_EQ(at(1).y, 0);
}

TEST(AlignTextPosition, TextWiderThanTheButtonStartsAtTheEdge) {
    const fd::TextPos p = fd::AlignTextPosition(768, 0, 140, 40, 100, 30);
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, 0);
    EXPECT_EQ(fd::AlignTextPosition(512, 10, 95, 10, 100, 30).x, 0);
}

TEST(ButtonTextColour, ByStateAndSelection) {
    using fd::ButtonState;
    using fd::ButtonTextColor;
    EXPECT_EQ(fd::TextColorFor(ButtonState::Normal, false), ButtonTextColor::Normal);
    EXPECT_EQ(fd::TextColorFor(ButtonState::Hover, false), ButtonTextColor::Hover);
    EXPECT_EQ(fd::TextColorFor(ButtonState::Pressed, false), ButtonTextColor::Hover);
    EXPECT_EQ(fd::TextColorFor(ButtonState::Disabled, false), ButtonTextColor::Disabled);
    EXPECT_EQ(fd::TextColorFor(ButtonState::Normal, true), ButtonTextColor::Hover);
}

TEST(EditFilter, InputClassesAndRefusedCharacters) {
    EXPECT_TRUE(fd::EditAcceptsChar(1, "", U'7'));
    EXPECT_FALSE(fd::EditAcceptsChar(1, "", U'a'));
    EXPECT_FALSE(fd::EditAcceptsChar(1, "", U'.'));
    EXPECT_TRUE(fd::EditAcceptsChar(2, "", U'Z'));
    EXPECT_FALSE(fd::EditAcceptsChar(2, "", U'5'));
    EXPECT_TRUE(fd::EditAcceptsChar(3, "", U'q'));
    EXPECT_TRUE(fd::EditAcceptsChar(3, "", U'0'));
    EXPECT_FALSE(fd::EditAcceptsChar(3, "", U'-'));
    EXPECT_FALSE(fd::EditAcceptsChar(3, "", U'\u4e2d'));
    EXPECT_TRUE(fd::EditAcceptsChar(0, "", U'\u4e2d'));
    // Backspace and other editing keys pass in every class, even when "refused".
    for (int c = 0; c <= 3; ++c) EXPECT_TRUE(fd::EditAcceptsChar(c, "\b", U'\b')) << c;
    EXPECT_FALSE(fd::EditAcceptsChar(0, "\"'", U'"'));
    EXPECT_FALSE(fd::EditAcceptsChar(1, "5", U'5'));
    EXPECT_TRUE(fd::EditAcceptsChar(0, "\"'", U'x'));
}

}  // namespace
