// The adaptive toolbar space in real toolbars: its width from its place and the next item's, the
// cases with nothing to centre, its fixed texts and sizes, the next item centred as the window is
// resized, and one resize subscription per view for the window it is in now.
#include "ui/adaptive_space_item.h"

#include <QApplication>
#include <QLayout>
#include <QMainWindow>
#include <QTest>
#include <QToolBar>
#include <QtCore/private/qobject_p.h>

#include <gtest/gtest.h>

namespace {

// How many event filters `watcher` has on `watched`.
qsizetype filtersOf(QObject& watched, QObject* watcher)
{
    const QObjectPrivate* data = QObjectPrivate::get(&watched);
    return data->extraData ? data->extraData->eventFilters.count(watcher) : 0;
}

QWidget* fixedWidget(int width)
{
    auto* widget = new QWidget;
    widget->setFixedSize(width, 20);
    return widget;
}

// A main window whose toolbar holds a leading block, the space and (optionally) a next item 200 wide.
class AdaptiveSpaceItemTest : public ::testing::Test {
protected:
    void build(bool withNextItem)
    {
        toolbar = window.addToolBar(QStringLiteral("Toolbar"));
        toolbar->setMovable(false);
        toolbar->layout()->setSpacing(static_cast<int>(ui::AdaptiveSpaceItem::itemSpacing));
        leading = fixedWidget(100);
        toolbar->addWidget(leading);
        item = new ui::AdaptiveSpaceItem(toolbar);
        toolbar->addAction(item);
        if (withNextItem) {
            next = fixedWidget(200);
            toolbar->addWidget(next);
        }
        window.resize(800, 200);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        settle();
        ASSERT_EQ(toolbar->width(), 800);
    }

    static void settle()
    {
        for (int pass = 0; pass < 4; ++pass)
            QApplication::processEvents();
    }

    // Widens the leading block until the space starts at `x`.
    void placeSpaceAt(int x)
    {
        const int shift = x - item->view()->x();
        leading->setFixedWidth(leading->width() + shift);
        settle();
        ASSERT_EQ(item->view()->x(), x);
    }

    QMainWindow window;
    QToolBar* toolbar = nullptr;
    QWidget* leading = nullptr;
    ui::AdaptiveSpaceItem* item = nullptr;
    QWidget* next = nullptr;
};

TEST_F(AdaptiveSpaceItemTest, WidthLeavesTheNextItemCentredOrIsZeroWhenThePlaceIsPastTheMiddle)
{
    build(true);
    placeSpaceAt(150);
    EXPECT_DOUBLE_EQ(item->minSize().width(), 144.0); // (800 − 200) × 0.5 − 150 − 6
    EXPECT_EQ(item->view()->width(), 144);
    EXPECT_EQ(next->x() + next->width() / 2, 400);

    placeSpaceAt(400);
    EXPECT_DOUBLE_EQ(item->minSize().width(), 0.0);
}

TEST_F(AdaptiveSpaceItemTest, NextItemStaysCentredAsTheWindowIsResized)
{
    build(true);
    for (int width : {1200, 640, 1000}) {
        window.resize(width, 200);
        settle();
        ASSERT_EQ(toolbar->width(), width);
        EXPECT_NEAR(next->x() + next->width() / 2.0, width / 2.0, 1.0) << width;
    }
}

TEST_F(AdaptiveSpaceItemTest, AsTheLastItemTheWidthIsZero)
{
    build(false);
    ASSERT_GT(item->view()->x(), 0);
    EXPECT_DOUBLE_EQ(item->minSize().width(), 0.0);
}

TEST_F(AdaptiveSpaceItemTest, WithoutAPlaceToMeasureFromTheStoredMinimumHolds)
{
    build(true);
    item->setMinSize(QSizeF(7.0, 22.0));
    item->view()->move(0, item->view()->y()); // the first place in the row
    EXPECT_EQ(item->minSize(), QSizeF(7.0, 22.0));

    // Outside any toolbar, and in a toolbar that does not list it.
    ui::AdaptiveSpaceItem loose;
    loose.setMinSize(QSizeF(3.0, 4.0));
    EXPECT_EQ(loose.minSize(), QSizeF(3.0, 4.0));
    QToolBar other;
    loose.view()->setParent(&other);
    loose.view()->move(50, 0);
    EXPECT_EQ(loose.minSize(), QSizeF(3.0, 4.0));
    loose.view()->setParent(nullptr);
}

TEST_F(AdaptiveSpaceItemTest, TextsAreFixedAndTheMaximumKeepsOnlyItsHeight)
{
    build(true);
    placeSpaceAt(150);
    item->setLabel(QStringLiteral("x"));
    item->setPaletteLabel(QStringLiteral("y"));
    EXPECT_EQ(item->label(), QString());
    EXPECT_EQ(item->paletteLabel(), QStringLiteral("Adaptive Space Item"));
    item->setMaxSize(QSizeF(500.0, 30.0));
    EXPECT_EQ(item->maxSize(), QSizeF(144.0, 30.0));
    item->updateWidth();
    EXPECT_EQ(item->maxSize(), QSizeF(144.0, 30.0));
}

TEST_F(AdaptiveSpaceItemTest, TheViewWatchesOnlyTheWindowItIsInAndStopsWithItsEnd)
{
    build(true);
    ui::AdaptiveSpaceItemView* view = item->view();
    EXPECT_EQ(view->observedWindow(), &window);
    EXPECT_EQ(filtersOf(window, view), 1);

    // Moved into another window's toolbar: the first window is no longer watched.
    QMainWindow second;
    QToolBar* secondBar = second.addToolBar(QStringLiteral("Second"));
    toolbar->removeAction(item);
    secondBar->addWidget(fixedWidget(40));
    secondBar->addAction(item);
    second.resize(600, 100);
    second.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&second));
    settle();
    EXPECT_EQ(view->observedWindow(), &second);
    EXPECT_EQ(filtersOf(window, view), 0);
    EXPECT_EQ(filtersOf(second, view), 1);
    // Back again, and over once more: always one subscription, for the current window only.
    secondBar->removeAction(item);
    toolbar->addAction(item);
    settle();
    EXPECT_EQ(filtersOf(window, view), 1);
    EXPECT_EQ(filtersOf(second, view), 0);
    toolbar->removeAction(item);
    secondBar->addAction(item);
    settle();
    EXPECT_EQ(filtersOf(window, view), 0);
    EXPECT_EQ(filtersOf(second, view), 1);

    // Once the item and its view are gone, resizing the window reaches nothing of theirs.
    delete item;
    item = nullptr;
    settle();
    EXPECT_EQ(filtersOf(second, view), 0);
    second.resize(700, 100);
    settle();
}

} // namespace
