// The main window's toolbar: the adaptive space keeps the date-range segments centred in the toolbar
// as the window is widened, while the search field and the inspector toggle keep to the right edge.
#include "mainwindow/main_split_view_controller.h"
#include "mainwindow/main_window_controller.h"

#include "store_fixture.h"

#include <QApplication>
#include <QButtonGroup>
#include <QLineEdit>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

using namespace mainwindow;

namespace {

class MainWindowToolbarTest : public testsupport::StoreFixture {};

void settle()
{
    for (int pass = 0; pass < 4; ++pass)
        QApplication::processEvents();
}

TEST_F(MainWindowToolbarTest, DateRangeSegmentsStayCentredInTheToolbarAsTheWindowWidens)
{
    MainWindowController window(context_.get(), *defaults_);
    window.setMinimumSize(0, 0); // the test's widths, whatever the offscreen screen allows
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto* toolbar = window.findChild<QToolBar*>(QStringLiteral("toolbar"));
    ASSERT_NE(toolbar, nullptr);
    ui::AdaptiveSpaceItem* space = window.splitViewController()->adaptiveSpaceItem();
    ASSERT_NE(space, nullptr);
    EXPECT_EQ(space->toolbar(), toolbar);
    auto* segments = window.findChild<QWidget*>(QStringLiteral("dateFilterRange"));
    ASSERT_NE(segments, nullptr);

    // At 800 px the items left of the segments already end past the place where centred segments
    // would begin: the space is empty and the segments follow the New Timer button at the gap.
    window.resize(800, 600);
    settle();
    ASSERT_EQ(toolbar->width(), 800);
    EXPECT_EQ(space->view()->width(), 0);
    EXPECT_EQ(segments->x(), space->view()->x() + 6);

    for (int width : {900, 1200, 1000}) {
        window.resize(width, 600);
        settle();
        ASSERT_EQ(toolbar->width(), width);
        const QRect placed(segments->mapTo(toolbar, QPoint(0, 0)), segments->size());
        EXPECT_LE(std::abs(placed.center().x() - toolbar->width() / 2), 3) << width;
        EXPECT_TRUE(segments->isVisible()) << width;
        // The right-hand items stay at the right edge.
        const QRect inspector(window.inspectorSidebarToggle()->mapTo(toolbar, QPoint(0, 0)),
                              window.inspectorSidebarToggle()->size());
        EXPECT_GE(inspector.right(), toolbar->width() - 12) << width;
        EXPECT_GT(window.searchField()->mapTo(toolbar, QPoint(0, 0)).x(), placed.right()) << width;
    }
}

TEST_F(MainWindowToolbarTest, MinimumWidthDoesNotCountTheSpacesWidthOfTheMoment)
{
    MainWindowController window(context_.get(), *defaults_);
    window.setMinimumSize(0, 0);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.resize(800, 600);
    settle();
    const int atNarrow = window.minimumFrameSize().width();
    window.resize(1400, 600);
    settle();
    ASSERT_GT(window.splitViewController()->adaptiveSpaceItem()->view()->width(), 0);
    EXPECT_EQ(window.minimumFrameSize().width(), atNarrow);
}

} // namespace
