#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "controls/t_button_picture.h"
#include "controls/t_dialog.h"
#include "controls/t_edit.h"
#include "controls/t_multi_pages.h"
#include "controls/t_picture.h"
#include "controls/wait_dlg.h"
#include "gui_test_support.h"

namespace {

// ---- dialogs: Enter and Escape close nothing ----

TEST(CTDialog, EnterAndEscapeCloseNoDialog) {
    CTDialog dlg;
    auto* edit = new QLineEdit(&dlg);
    dlg.resize(200, 100);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    QSignalSpy finished(&dlg, &QDialog::finished);

    QTest::keyClick(&dlg, Qt::Key_Escape);
    QTest::keyClick(&dlg, Qt::Key_Return);
    QTest::keyClick(&dlg, Qt::Key_Enter);
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Escape);
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(finished.count(), 0);
    // Other keys still reach the controls.
    QTest::keyClicks(edit, "abc");
    EXPECT_EQ(edit->text(), "abc");
}

TEST(CTDialog, WaitDialogIgnoresEscapeButClosesByItsButton) {
    CWaitDlg dlg(60, false, 0, nullptr);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    QTest::keyClick(&dlg, Qt::Key_Escape);
    EXPECT_TRUE(dlg.isVisible());
    auto* close = dlg.findChild<CTButtonPicture*>();
    ASSERT_NE(close, nullptr);
    QTest::mouseClick(close, Qt::LeftButton);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
}

TEST(CTDialog, RoundedRegionOnlyWithARadius) {
    CTDialog square;
    square.resize(120, 80);
    square.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&square));
    square.grab();
    EXPECT_FALSE(square.RegionSet());
    EXPECT_TRUE(square.mask().isEmpty());

    CTDialog round;
    round.resize(120, 80);
    round.SetRadius(12);
    round.SetAlpha(100);
    round.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&round));
    round.repaint();
    EXPECT_TRUE(round.RegionSet());
    EXPECT_FALSE(round.mask().contains(QPoint(0, 0)));  // the corner is cut
    EXPECT_TRUE(round.mask().contains(QPoint(60, 40)));
    EXPECT_NEAR(round.windowOpacity(), 200.0 / 255.0, 0.01);
}

TEST(CTDialog, ResizedWindowKeepsTheFixedCornerOfItsPictureUnstretched) {
    // A picture of four colours: a 2-pixel red frame inside the fixed corner (a logo), blue
    // to its right, green below, grey in the rest.
    QImage pic(100, 80, QImage::Format_RGB32);
    pic.fill(Qt::gray);
    QPainter p(&pic);
    p.fillRect(0, 0, 60, 40, Qt::white);
    p.fillRect(10, 10, 2, 20, Qt::red);
    p.fillRect(60, 0, 40, 40, Qt::blue);
    p.fillRect(0, 40, 60, 40, Qt::green);
    p.end();
    QTemporaryDir dir;
    const QString path = dir.path() + "/bk.png";
    ASSERT_TRUE(pic.save(path));
    CTDialog dlg;
    dlg.SetBkImage(path);
    dlg.SetBkFixedPart(QSize(60, 40));
    dlg.resize(300, 200);
    const QImage shot = dlg.grab().toImage();
    // The logo's stroke is still 2 pixels wide at the same place.
    EXPECT_EQ(shot.pixelColor(10, 20), QColor(Qt::red));
    EXPECT_EQ(shot.pixelColor(11, 20), QColor(Qt::red));
    EXPECT_NE(shot.pixelColor(12, 20), QColor(Qt::red));
    // The rest is stretched to the new size.
    EXPECT_EQ(shot.pixelColor(280, 20), QColor(Qt::blue));
    EXPECT_EQ(shot.pixelColor(30, 180), QColor(Qt::green));
    EXPECT_EQ(shot.pixelColor(280, 180), QColor(Qt::gray));
}

TEST(CTDialog, DraggingTheBackgroundMovesTheWindowButNotFromAChild) {
    CTDialog dlg(nullptr, Qt::Window | Qt::FramelessWindowHint);
    dlg.resize(300, 200);
    dlg.move(100, 100);
    auto* child = new QLineEdit(&dlg);
    child->setGeometry(10, 10, 100, 24);
    dlg.SetDraggable(true);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    const QPoint start = dlg.pos();
    QTest::mousePress(&dlg, Qt::LeftButton, {}, QPoint(150, 150));
    QTest::mouseMove(&dlg, QPoint(190, 170));
    QTest::mouseRelease(&dlg, Qt::LeftButton, {}, QPoint(190, 170));
    EXPECT_EQ(dlg.pos(), start + QPoint(40, 20));

    const QPoint before = dlg.pos();
    QTest::mousePress(child, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseMove(child, QPoint(60, 20));
    QTest::mouseRelease(child, Qt::LeftButton, {}, QPoint(60, 20));
    EXPECT_EQ(dlg.pos(), before);

    dlg.SetDraggable(false);
    QTest::mousePress(&dlg, Qt::LeftButton, {}, QPoint(150, 150));
    QTest::mouseMove(&dlg, QPoint(200, 190));
    QTest::mouseRelease(&dlg, Qt::LeftButton, {}, QPoint(200, 190));
    EXPECT_EQ(dlg.pos(), before);
}

// ---- the wait dialog forwards ticks to its progress ----

struct CountingSearcher : fd::IWaitSearcher {
    int probes = 0;
    int searches = 0;
    void ProbeDiscoveredDevices() override { ++probes; }
    void SendSearch() override { ++searches; }
};

TEST(CWaitDlg, ClosesConfirmedWhenTheTimeIsUp) {
    CountingSearcher s;
    CWaitDlg dlg(60, true, 3, &s);
    QSignalSpy accepted(&dlg, &QDialog::accepted);
    for (int i = 0; i < 118; ++i) dlg.OnTick();
    EXPECT_EQ(accepted.count(), 0);
    EXPECT_EQ(dlg.ProgressBar()->value(), 119);
    dlg.OnTick();
    EXPECT_EQ(accepted.count(), 1);
    EXPECT_EQ(dlg.ProgressBar()->value(), 120);
    EXPECT_EQ(dlg.ProgressBar()->maximum(), 120);
    EXPECT_EQ(s.searches, 3);
    EXPECT_EQ(s.probes, 1);
}

// ---- buttons ----

class ButtonTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_parent.resize(300, 100);
        m_button = new CTButtonPicture(&m_parent);
        const QString img = fdtest::SkinFile("btn_search.bmp");
        m_button->SetImages(img, img, img, img);
        m_button->setText("Upgrade");
        m_button->SetFontSpec("DejaVu Sans", 18, 700);
        m_button->setGeometry(10, 10, 100, 30);
        m_parent.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_parent));
    }
    QWidget m_parent;
    CTButtonPicture* m_button = nullptr;
};

TEST_F(ButtonTest, TextColoursFollowNormalHoverAndDisabled) {
    ASSERT_FALSE(m_button->Image(fd::ButtonState::Normal).isNull()) << "skin not generated";
    EXPECT_EQ(m_button->CurrentTextColor(), QColor(0, 0, 0));
    EXPECT_TRUE(fdtest::RendersColour(m_button, QColor(0, 0, 0)));

    QTest::mouseMove(m_button, QPoint(50, 15));
    EXPECT_TRUE(m_button->IsHovering());
    EXPECT_EQ(m_button->CurrentTextColor(), QColor(255, 255, 255));
    EXPECT_TRUE(fdtest::RendersColour(m_button, QColor(255, 255, 255)));
    EXPECT_FALSE(fdtest::RendersColour(m_button, QColor(0, 0, 0)));

    // Leaving the button restores the normal look within a few timer ticks.
    QTest::mouseMove(&m_parent, QPoint(250, 80));
    EXPECT_TRUE(fdtest::WaitFor([&] { return !m_button->IsHovering(); }, 10000));
    EXPECT_EQ(m_button->CurrentTextColor(), QColor(0, 0, 0));

    m_button->setEnabled(false);
    EXPECT_EQ(m_button->State(), fd::ButtonState::Disabled);
    EXPECT_EQ(m_button->CurrentTextColor(), QColor(153, 153, 153));
    EXPECT_TRUE(fdtest::RendersColour(m_button, QColor(153, 153, 153)));
}

TEST_F(ButtonTest, SelectedModeUsesTheHoverColourAndIgnoresHoverTracking) {
    m_button->SetSelected(true);
    EXPECT_EQ(m_button->CurrentTextColor(), QColor(255, 255, 255));
    m_button->SetHoverTracking(false);
    m_button->SetSelected(false);
    QTest::mouseMove(m_button, QPoint(50, 15));
    EXPECT_FALSE(m_button->IsHovering());
}

TEST_F(ButtonTest, MissingPictureLeavesThatStateEmpty) {
    m_button->SetImages(fdtest::SkinFile("btn_search.bmp"), fdtest::SkinFile("no_such.bmp"), "",
                        fdtest::SkinFile("btn_search.bmp"));
    EXPECT_FALSE(m_button->Image(fd::ButtonState::Normal).isNull());
    EXPECT_TRUE(m_button->Image(fd::ButtonState::Hover).isNull());
    EXPECT_TRUE(m_button->Image(fd::ButtonState::Pressed).isNull());
    m_button->grab();  // draws without the picture
}

TEST(CTButtonPicture, ImageStripIsCutIntoStates) {
    CTButtonPicture b;
    b.SetImageStrip(fdtest::SkinFile("close_normal.bmp"), 3);
    ASSERT_FALSE(b.Image(fd::ButtonState::Normal).isNull());
    EXPECT_EQ(b.Image(fd::ButtonState::Normal).width(), 30);
    EXPECT_EQ(b.Image(fd::ButtonState::Disabled).width(), 30);  // reuses the last state
    EXPECT_NE(b.Image(fd::ButtonState::Normal).toImage(),
              b.Image(fd::ButtonState::Hover).toImage());
}

// ---- edits ----

TEST(CTEdit, FiltersTypedCharacters) {
    CTEdit digits;
    digits.SetInputClass(1);
    QTest::keyClicks(&digits, "1a2b3-");
    EXPECT_EQ(digits.text(), "123");
    QTest::keyClick(&digits, Qt::Key_Backspace);
    EXPECT_EQ(digits.text(), "12");

    CTEdit refused;
    refused.SetRefusedChars("\"'");
    QTest::keyClicks(&refused, "a\"b'c");
    EXPECT_EQ(refused.text(), "abc");

    CTEdit letters;
    letters.SetInputClass(2);
    letters.SetNoMenu(true);
    QTest::keyClicks(&letters, "ab12CD");
    EXPECT_EQ(letters.text(), "abCD");
    EXPECT_EQ(letters.contextMenuPolicy(), Qt::NoContextMenu);
}

// ---- pictures ----

TEST(CTPicture, AnimatedGifRunsOnTheGuiThreadAndStillImagesDoNot) {
    CTPicture gif;
    ASSERT_TRUE(gif.Load(fdtest::SkinFile("wait_search.gif")));
    EXPECT_EQ(gif.FrameCount(), 12);
    EXPECT_EQ(gif.DelayOf(0), 80);
    EXPECT_FALSE(gif.IsAnimating());
    gif.resize(32, 32);
    gif.show();
    gif.Draw();
    EXPECT_TRUE(gif.IsAnimating());
    EXPECT_TRUE(fdtest::WaitFor([&] { return gif.CurrentFrame() >= 2; }, 10000));
    gif.Stop();
    EXPECT_FALSE(gif.IsAnimating());

    CTPicture jpeg;
    ASSERT_TRUE(jpeg.Load(fdtest::SkinFile("bridge_finish.jpg")));
    jpeg.Draw();
    EXPECT_FALSE(jpeg.IsAnimating());
    EXPECT_EQ(jpeg.FrameCount(), 0);

    CTPicture missing;
    EXPECT_FALSE(missing.Load(fdtest::SkinFile("no_such.gif")));
}

TEST(CTPicture, FrameDelayRule) {
    EXPECT_EQ(CTPicture::FrameDelayMs(0), 100);
    EXPECT_EQ(CTPicture::FrameDelayMs(40), 100);  // 4 hundredths
    EXPECT_EQ(CTPicture::FrameDelayMs(50), 50);
    EXPECT_EQ(CTPicture::FrameDelayMs(1000), 1000);
}

// ---- page-number strip ----

struct RecordingHost : fd::IPageMessageHost {
    std::vector<std::pair<int, int>> messages;
    void OnPageMessage(int pageId, int pageNumber) override {
        messages.emplace_back(pageId, pageNumber);
    }
};

class MultiPagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_pages.resize(400, 30);
        m_pages.Attach(&m_host, 133);
        m_pages.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_pages));
    }
    void ClickItem(int i) {
        QTest::mouseClick(&m_pages, Qt::LeftButton, {},
                          m_pages.ItemRects()[static_cast<size_t>(i)].center());
    }
    RecordingHost m_host;
    CTMultiPages m_pages;
};

TEST_F(MultiPagesTest, ItemsForSevenAndTwentyPages) {
    m_pages.SetPages(7, 1);
    EXPECT_EQ(m_pages.ItemTexts(), QStringList({"1", "2", "3", "4", "5", "6", "7"}));
    m_pages.SetPages(20, 10);
    EXPECT_EQ(m_pages.ItemTexts(), QStringList({"1", "...", "9", "10", "11", "...", "20"}));
    m_pages.SetPages(20, 18);
    EXPECT_EQ(m_pages.ItemTexts(), QStringList({"1", "...", "16", "17", "18", "19", "20"}));
    // Layout: at least 24 wide, 24 high, 3 apart, vertically centred.
    const auto& r = m_pages.ItemRects();
    ASSERT_EQ(r.size(), 7u);
    for (size_t i = 0; i < r.size(); ++i) {
        EXPECT_GE(r[i].width(), 24);
        EXPECT_EQ(r[i].height(), 24);
        EXPECT_EQ(r[i].top(), 3);
        if (i > 0) {
            EXPECT_EQ(r[i].left(), r[i - 1].right() + 1 + 3);
        }
    }
}

TEST_F(MultiPagesTest, ClickOnEllipsisOrCurrentPageSendsNothing) {
    QSignalSpy spy(&m_pages, &CTMultiPages::pageMessage);
    m_pages.SetPages(20, 10);
    ClickItem(1);  // "..."
    ClickItem(5);  // "..."
    ClickItem(3);  // 10, the current page
    EXPECT_TRUE(m_host.messages.empty());
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(m_pages.CurrentPage(), 10);

    ClickItem(6);  // 20
    ASSERT_EQ(m_host.messages.size(), 1u);
    EXPECT_EQ(m_host.messages[0], std::make_pair(133, 20));
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(m_pages.CurrentPage(), 20);
    EXPECT_EQ(m_pages.ItemTexts(), QStringList({"1", "...", "16", "17", "18", "19", "20"}));
}

TEST_F(MultiPagesTest, PressAndReleaseMustHitTheSameItem) {
    m_pages.SetPages(7, 1);
    const auto rects = m_pages.ItemRects();
    QTest::mousePress(&m_pages, Qt::LeftButton, {}, rects[2].center());
    QTest::mouseRelease(&m_pages, Qt::LeftButton, {}, rects[4].center());
    EXPECT_TRUE(m_host.messages.empty());
    EXPECT_EQ(m_pages.CurrentPage(), 1);
}

}  // namespace
