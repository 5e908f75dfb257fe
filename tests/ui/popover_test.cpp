// Popovers: placement against the anchor and the screen, closing on an outside click or Escape with one
// "did close" each, a new popup for every show, and the popup following its content's size.
#include "ui/popover.h"

#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

const QRect screenArea(0, 0, 800, 600);

} // namespace

TEST(PopoverGeometry, TakesThePreferredSideWhenItFitsElseTheOppositeOne)
{
    ui::PopoverEdge edge{};
    const QSize size(200, 150);
    const QRect roomBelow(300, 100, 80, 20);
    QRect placed = ui::popoverGeometry(roomBelow, size, screenArea, ui::PopoverEdge::below, &edge);
    EXPECT_EQ(edge, ui::PopoverEdge::below);
    EXPECT_EQ(placed.top(), roomBelow.bottom() + 1);
    EXPECT_NEAR(placed.center().x(), roomBelow.center().x(), 1);

    const QRect atBottom(300, 580, 80, 20); // touches the screen's bottom
    placed = ui::popoverGeometry(atBottom, size, screenArea, ui::PopoverEdge::below, &edge);
    EXPECT_EQ(edge, ui::PopoverEdge::above);
    EXPECT_EQ(placed.bottom(), atBottom.top() - 1);

    const QRect nearTop(300, 10, 80, 20);
    placed = ui::popoverGeometry(nearTop, size, screenArea, ui::PopoverEdge::above, &edge);
    EXPECT_EQ(edge, ui::PopoverEdge::below);

    const QSize tall(200, 590);
    ui::popoverGeometry(roomBelow, tall, screenArea, ui::PopoverEdge::below, &edge);
    EXPECT_EQ(edge, ui::PopoverEdge::below) << "no side fits: the preferred one";

    placed = ui::popoverGeometry(QRect(760, 300, 30, 20), QSize(200, 100), screenArea, ui::PopoverEdge::below, &edge);
    EXPECT_EQ(placed.right(), screenArea.right()) << "kept on the screen along the anchor's side";
    placed = ui::popoverGeometry(QRect(5, 300, 30, 20), QSize(200, 100), screenArea, ui::PopoverEdge::below, &edge);
    EXPECT_EQ(placed.left(), 0);

    placed = ui::popoverGeometry(QRect(700, 300, 80, 20), QSize(200, 100), screenArea, ui::PopoverEdge::right, &edge);
    EXPECT_EQ(edge, ui::PopoverEdge::left);
    EXPECT_EQ(placed.right(), 699);
}

class PopoverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.setGeometry(QApplication::primaryScreen()->availableGeometry());
        anchor = new QLabel("Mar 10, 2024", &window);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    QWidget window;
    QLabel* anchor = nullptr;
    QLabel content{"calendar"};
};

TEST_F(PopoverTest, OpensAboveAnAnchorTouchingTheScreensBottom)
{
    const QRect screen = QApplication::primaryScreen()->availableGeometry();
    anchor->setGeometry(100, screen.height() - 20, 120, 20);
    ui::Popover popover;
    popover.setContentWidget(&content);
    popover.showRelativeTo(anchor->rect(), *anchor, ui::PopoverEdge::below);
    ASSERT_TRUE(popover.isShown());
    EXPECT_EQ(popover.shownEdge(), ui::PopoverEdge::above);
    EXPECT_EQ(popover.popupWindow()->geometry().bottom(), anchor->mapToGlobal(QPoint(0, 0)).y() - 1);
    EXPECT_EQ(content.window(), popover.popupWindow());
}

TEST_F(PopoverTest, OutsideClickAndEscapeEachCloseItWithOneDidClose)
{
    anchor->setGeometry(100, 100, 120, 20);
    ui::Popover popover;
    popover.setContentWidget(&content);
    QSignalSpy closed(&popover, &ui::Popover::didClose);

    popover.showRelativeTo(anchor->rect(), *anchor, ui::PopoverEdge::below);
    QWidget* firstPopup = popover.popupWindow();
    ASSERT_NE(firstPopup, nullptr);
    EXPECT_EQ(popover.shownEdge(), ui::PopoverEdge::below);
    EXPECT_EQ(firstPopup->geometry().top(), anchor->mapToGlobal(QPoint(0, anchor->height())).y());
    QTest::mouseClick(firstPopup, Qt::LeftButton, {}, QPoint(-30, -30));
    EXPECT_FALSE(popover.isShown());
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(content.parentWidget(), nullptr) << "the content is handed back";
    EXPECT_FALSE(content.isVisible());

    popover.showRelativeTo(anchor->rect(), *anchor, ui::PopoverEdge::below);
    ASSERT_TRUE(popover.isShown());
    EXPECT_TRUE(content.isVisible());
    QTest::keyClick(popover.popupWindow(), Qt::Key_Escape);
    EXPECT_FALSE(popover.isShown());
    EXPECT_EQ(closed.count(), 2);
    popover.close();
    EXPECT_EQ(closed.count(), 2) << "closing a closed popover reports nothing";
}

TEST_F(PopoverTest, EveryShowMakesANewPopupThatFollowsTheContentsSize)
{
    anchor->setGeometry(100, 100, 120, 20);
    ui::Popover popover;
    popover.setContentWidget(&content);
    popover.showRelativeTo(anchor->rect(), *anchor, ui::PopoverEdge::below);
    QPointer<QWidget> first = popover.popupWindow();
    popover.close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull()) << "a closed popup is deleted";
    // Let the window system's activation change for the closed popup arrive now: arriving after the next
    // show, it would deactivate the application, and Qt closes every popup then.
    QCoreApplication::processEvents();

    popover.showRelativeTo(anchor->rect(), *anchor, ui::PopoverEdge::below);
    QPointer<QWidget> second = popover.popupWindow();
    ASSERT_NE(second, nullptr);
    const int height = second->height();
    content.setMinimumHeight(content.sizeHint().height() + 50);
    EXPECT_TRUE(QTest::qWaitFor([&] { return second.isNull() || second->height() >= height + 50; }));
    ASSERT_FALSE(second.isNull()) << "the popup stays open while its contents grow";
    EXPECT_GE(second->height(), height + 50);
}
