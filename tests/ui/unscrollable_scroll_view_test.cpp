// A wheel turned over a list inside a scrolling pane scrolls the pane, not the list. The events come
// through the window system's entry point: Qt hands a wheel event on to the enclosing widgets only
// when it came from there.
#include "ui/unscrollable_scroll_view.h"

#include <QApplication>
#include <QScrollArea>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTest>
#include <QVBoxLayout>
#include <qpa/qwindowsysteminterface.h>

#include <gtest/gtest.h>

#include <memory>

namespace {

// A pane 300 px high scrolling a column of 1,000 px, with a 150 px list of 100 rows at its top.
template <class List>
class WheelInPane {
public:
    WheelInPane()
    {
        pane.resize(300, 300);
        auto* column = new QWidget;
        column->setFixedSize(280, 1000);
        auto* layout = new QVBoxLayout(column);
        list = new List(column);
        list->setFixedHeight(150);
        list->setModel(&rows);
        layout->addWidget(list);
        layout->addStretch();
        pane.setWidget(column);
        pane.show();
        pane.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&pane));
    }

    // One notch of the wheel towards the user, over `widget` at `point`.
    void turnWheelOver(QWidget* widget, QPoint point)
    {
        const QPoint inWindow = widget->mapTo(&pane, point);
        QWindowSystemInterface::handleWheelEvent(pane.windowHandle(), QPointF(inWindow),
                                                 QPointF(pane.mapToGlobal(inWindow)), QPoint(), QPoint(0, -120));
        QWindowSystemInterface::flushWindowSystemEvents();
        QApplication::processEvents();
    }

    QStandardItemModel rows{100, 1};
    QScrollArea pane;
    List* list = nullptr;
};

TEST(UnscrollableScrollView, WheelOverTheListScrollsTheEnclosingPaneAndLeavesTheListAlone)
{
    WheelInPane<ui::UnscrollableScrollView> setup;
    ASSERT_GT(setup.list->verticalScrollBar()->maximum(), 0);
    setup.turnWheelOver(setup.list->viewport(), QPoint(40, 40));
    EXPECT_EQ(setup.list->verticalScrollBar()->value(), 0);
    const int paneAfterList = setup.pane.verticalScrollBar()->value();
    EXPECT_GT(paneAfterList, 0);

    // Over the list's own scroll bar too.
    QScrollBar* bar = setup.list->verticalScrollBar();
    ASSERT_TRUE(bar->isVisible());
    setup.turnWheelOver(bar, QPoint(bar->width() / 2, bar->height() / 2));
    EXPECT_EQ(bar->value(), 0);
    EXPECT_GT(setup.pane.verticalScrollBar()->value(), paneAfterList);
}

TEST(UnscrollableScrollView, APlainTableInTheSamePaneKeepsTheWheelToItself)
{
    // The same events over an ordinary table: it scrolls and the pane does not, so the test above
    // sees the handing on and not an event that missed the list.
    WheelInPane<QTableView> setup;
    setup.turnWheelOver(setup.list->viewport(), QPoint(40, 40));
    EXPECT_GT(setup.list->verticalScrollBar()->value(), 0);
    EXPECT_EQ(setup.pane.verticalScrollBar()->value(), 0);
}

TEST(UnscrollableScrollView, KeysStillScrollTheList)
{
    WheelInPane<ui::UnscrollableScrollView> setup;
    setup.list->setFocus();
    setup.list->setCurrentIndex(setup.rows.index(0, 0));
    QTest::keyClick(setup.list, Qt::Key_PageDown);
    EXPECT_GT(setup.list->verticalScrollBar()->value(), 0);
}

} // namespace
