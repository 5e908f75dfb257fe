// The hover button as painted (colours read back from grab()): where the image goes, the background
// and the image of each state, hover only in the active window, and state images tinted once and kept.
#include "ui/hover_button.h"

#include <QImage>
#include <QPixmap>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

QPixmap solid(int width, int height, const QColor& color)
{
    QPixmap pixmap(width, height);
    pixmap.fill(color);
    return pixmap;
}

QColor pixel(QWidget& widget, int x, int y)
{
    return widget.grab().toImage().pixelColor(x, y);
}

// Whether the image covers exactly `expected` of the button's pixels.
void expectImageExactlyIn(ui::HoverButton& button, const QRect& expected)
{
    const QImage painted = button.grab().toImage();
    for (int y = 0; y < painted.height(); ++y)
        for (int x = 0; x < painted.width(); ++x)
            EXPECT_EQ(painted.pixelColor(x, y) == QColor(Qt::blue), expected.contains(x, y)) << x << "," << y;
}

TEST(HoverButtonImage, IsSqueezedIntoTheBoundsSideBySideAndCentredWithHalvesRoundedUp)
{
    ui::HoverButton wide;
    wide.resize(16, 16);
    wide.setImage(solid(20, 10, Qt::blue));
    expectImageExactlyIn(wide, QRect(0, 3, 16, 10)); // 16 wide, not scaled down to 16 × 8

    ui::HoverButton odd;
    odd.resize(15, 15);
    odd.setImage(solid(10, 10, Qt::blue));
    expectImageExactlyIn(odd, QRect(3, 3, 10, 10)); // 2.5 rounds to 3

    EXPECT_EQ(ui::HoverButton::imageRect({10, 10}, {16, 16}), QRectF(3, 3, 10, 10));
    EXPECT_EQ(ui::HoverButton::imageRect({4, 20}, {11, 8}), QRectF(4, 0, 4, 8)); // 3.5 → 4
}

class HoverButtonTest : public ::testing::Test {
protected:
    HoverButtonTest()
    {
        window.resize(80, 60);
        auto* layout = new QVBoxLayout(&window);
        button = new ui::HoverButton(&window);
        button->setFixedSize(16, 16);
        layout->addWidget(button);
        // A 20 × 10 image leaves rows 0 to 2 of the 16 × 16 button to the background alone.
        button->setImage(solid(20, 10, Qt::black));
        button->setBackgroundColor(QColor(Qt::red));
        button->setHoverColor(QColor(Qt::green));
        button->setPressedColor(QColor(Qt::blue));
    }

    void showActive(QWidget& which)
    {
        which.show();
        which.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&which));
    }

    QColor background() { return pixel(*button, 8, 1); }
    QColor image() { return pixel(*button, 8, 8); }

    QWidget window;
    ui::HoverButton* button = nullptr;
};

TEST_F(HoverButtonTest, BackgroundFollowsTheStateAndAMissingColourDrawsNone)
{
    EXPECT_EQ(background(), QColor(Qt::red));
    button->setMouseHovering(true);
    EXPECT_EQ(background(), QColor(Qt::green));
    button->setMouseDown(true);
    EXPECT_EQ(background(), QColor(Qt::blue)); // pressed goes before hovering

    // Pressed without a pressed colour shows no background, not the normal or the hover one.
    button->setPressedColor(std::nullopt);
    const QColor bare = background();
    EXPECT_NE(bare, QColor(Qt::red));
    EXPECT_NE(bare, QColor(Qt::green));
    button->setBackgroundColor(std::nullopt);
    button->setHoverColor(std::nullopt);
    button->setMouseDown(false);
    button->setMouseHovering(false);
    EXPECT_EQ(background(), bare);
}

TEST_F(HoverButtonTest, PointerOverAnEnabledButtonInTheActiveWindowPaintsTheHoverColour)
{
    showActive(window);
    QTest::mouseMove(button, QPoint(8, 8));
    EXPECT_TRUE(button->mouseHovering());
    EXPECT_EQ(background(), QColor(Qt::green));

    QTest::mouseMove(&window, QPoint(70, 50));
    EXPECT_FALSE(button->mouseHovering());
    EXPECT_EQ(background(), QColor(Qt::red));
}

TEST_F(HoverButtonTest, DisabledButtonIgnoresThePointerAndPaintsTheLighterColourAndGreyImage)
{
    showActive(window);
    button->setEnabled(false);
    button->setImageColor(QColor(Qt::blue));
    QTest::mouseMove(button, QPoint(8, 8));
    EXPECT_FALSE(button->mouseHovering());
    EXPECT_EQ(background(), QColor(0xFF, 0xCC, 0xCC)); // pure red, lighter
    EXPECT_EQ(image(), QColor(Qt::lightGray));
    // The grey image is made for each paint and kept nowhere.
    EXPECT_FALSE(button->normalImage());

    // Even a hover that began before the button was disabled shows the disabled look.
    button->setEnabled(true);
    QTest::mouseMove(&window, QPoint(70, 50));
    QTest::mouseMove(button, QPoint(8, 8));
    ASSERT_TRUE(button->mouseHovering());
    button->setEnabled(false);
    EXPECT_EQ(background(), QColor(0xFF, 0xCC, 0xCC));
}

TEST_F(HoverButtonTest, HoverBeginsOnlyInTheActiveWindowAndEndsWhenTheWindowIsLeftOrTheButtonHidden)
{
    QWidget other;
    other.resize(40, 40);
    showActive(window);
    showActive(other);
    QTest::mouseMove(button, QPoint(8, 8));
    EXPECT_FALSE(button->mouseHovering()); // its window is not the active one

    showActive(window);
    QTest::mouseMove(&window, QPoint(70, 50));
    QTest::mouseMove(button, QPoint(8, 8));
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(8, 8));
    ASSERT_TRUE(button->mouseHovering());
    ASSERT_TRUE(button->mouseDown());
    showActive(other);
    EXPECT_FALSE(button->mouseHovering());
    EXPECT_FALSE(button->mouseDown());
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(8, 8));

    button->setMouseHovering(true);
    button->setMouseDown(true);
    button->hide();
    EXPECT_FALSE(button->mouseHovering());
    EXPECT_FALSE(button->mouseDown());
}

TEST_F(HoverButtonTest, PressedLastsFromPressToReleaseAndTheClickSeesItPressed)
{
    showActive(window);
    bool downAtClick = false;
    QObject::connect(button, &QAbstractButton::clicked, button, [&] { downAtClick = button->mouseDown(); });
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(8, 8));
    EXPECT_TRUE(button->mouseDown());
    EXPECT_EQ(background(), QColor(Qt::blue));
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(8, 8));
    EXPECT_TRUE(downAtClick);
    EXPECT_FALSE(button->mouseDown());
}

TEST_F(HoverButtonTest, AClickThatDeletesTheButtonDoesNotTouchItAfterwards)
{
    showActive(window);
    QObject::connect(button, &QAbstractButton::clicked, button, [&] { delete button; });
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(8, 8));
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(8, 8)); // under the sanitizers, a use after free fails here
    EXPECT_TRUE(window.findChildren<ui::HoverButton*>().isEmpty());
}

TEST_F(HoverButtonTest, EachStateImageIsTintedOnceAndKept)
{
    button->setImageColor(QColor(Qt::cyan));
    button->setHoverImageColor(QColor(Qt::magenta));
    button->setPressedImageColor(QColor(Qt::yellow));
    struct State {
        bool hovering;
        bool down;
        ui::HoverButton::BackgroundStyle style;
        QColor drawn;
        std::optional<QPixmap> (ui::HoverButton::*field)() const;
    };
    const State states[] = {
        {false, false, ui::HoverButton::BackgroundStyle::normal, Qt::cyan, &ui::HoverButton::normalImage},
        {true, false, ui::HoverButton::BackgroundStyle::normal, Qt::magenta, &ui::HoverButton::hoverImage},
        {true, true, ui::HoverButton::BackgroundStyle::normal, Qt::yellow, &ui::HoverButton::pressedImage},
        {true, true, ui::HoverButton::BackgroundStyle::dark, Qt::white, &ui::HoverButton::highlightedImage},
    };
    for (const State& state : states) {
        button->setMouseHovering(state.hovering);
        button->setMouseDown(state.down);
        button->setBackgroundStyle(state.style);
        EXPECT_FALSE((button->*state.field)()) << state.drawn.name().toStdString();
        EXPECT_EQ(image(), state.drawn);
        const std::optional<QPixmap> kept = (button->*state.field)();
        ASSERT_TRUE(kept);
        for (int paint = 0; paint < 10; ++paint)
            button->grab();
        // The same pixmap, not a new tint of the same colour.
        EXPECT_EQ((button->*state.field)()->cacheKey(), kept->cacheKey());
    }

    // A new image empties all four, so each state is tinted again from it.
    button->setImage(solid(20, 10, Qt::black));
    EXPECT_FALSE(button->normalImage());
    EXPECT_FALSE(button->hoverImage());
    EXPECT_FALSE(button->pressedImage());
    EXPECT_FALSE(button->highlightedImage());
}

TEST_F(HoverButtonTest, TintColourSetAfterTheFirstPaintWaitsForTheNextImage)
{
    button->setImageColor(QColor(Qt::green));
    EXPECT_EQ(image(), QColor(Qt::green));
    button->setImageColor(QColor(Qt::red));
    EXPECT_EQ(image(), QColor(Qt::green)); // the kept normal image still has the first tint
    button->setImage(solid(20, 10, Qt::black));
    EXPECT_EQ(image(), QColor(Qt::red));
}

TEST_F(HoverButtonTest, UntintedStatesDrawTheImageAsItIsAndKeepNothing)
{
    for (bool hovering : {false, true})
        for (bool down : {false, true}) {
            button->setMouseHovering(hovering);
            button->setMouseDown(down);
            EXPECT_EQ(image(), QColor(Qt::black));
        }
    EXPECT_FALSE(button->normalImage());
    EXPECT_FALSE(button->hoverImage());
    EXPECT_FALSE(button->pressedImage());

    // An image given from outside is drawn unchanged, and a new image replaces it.
    button->setMouseHovering(false);
    button->setMouseDown(false);
    button->setImageColor(QColor(Qt::red));
    button->setNormalImage(solid(20, 10, Qt::darkGreen));
    EXPECT_EQ(image(), QColor(Qt::darkGreen));
    button->setImage(solid(20, 10, Qt::black));
    EXPECT_EQ(image(), QColor(Qt::red));
}

TEST_F(HoverButtonTest, DarkStyleButtonPaintsTheWhiteImageWhilePressedOverThePressedColour)
{
    button->setPressedImageColor(QColor(Qt::yellow));
    button->setBackgroundStyle(ui::HoverButton::BackgroundStyle::dark);
    button->setMouseDown(true);
    EXPECT_EQ(image(), QColor(Qt::white));
    EXPECT_EQ(background(), QColor(Qt::blue));
    EXPECT_FALSE(button->pressedImage());

    // Without an image there is only the background.
    button->setImage(std::nullopt);
    EXPECT_EQ(image(), QColor(Qt::blue));
}

} // namespace
