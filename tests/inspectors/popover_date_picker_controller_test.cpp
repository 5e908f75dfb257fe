// The date picker popover: the date and both pickers agree, only the user's changes reach the handler
// (a day keeps the time, a time keeps the day), the time picker's height, and a new popover per show.
#include "inspectors/popover_date_picker_controller.h"

#include "support/dates.h"
#include "support/scoped_environment.h"
#include "ui/popover.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCalendarWidget>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <QTimeEdit>

#include <gtest/gtest.h>

#include <vector>

using foundation::Date;
using inspectors::PopoverDatePickerController;

namespace {

// Tests run in Berlin (the time of day kept across a change of offset) and en_US.
class BerlinEnvironment : public ::testing::Test {
protected:
    testsupport::ScopedEnvironment environment_ = testsupport::zoneAndLocale("Europe/Berlin", "en_US.UTF-8");
};

// Berlin wall time in March 2024 (UTC+1 before the 31st, UTC+2 from 03:00 that day).
Date berlin(unsigned month, unsigned day, int hour, int minute, int offsetHours)
{
    return testsupport::utc(2024, month, day, hour - offsetHours, minute);
}

class PopoverDatePickerTest : public BerlinEnvironment {
protected:
    PopoverDatePickerTest()
    {
        picker.dateChangeHandler = [this](Date date) { picked.push_back(date); };
    }

    PopoverDatePickerController picker;
    std::vector<Date> picked;
};

} // namespace

TEST_F(PopoverDatePickerTest, StartsAtTheCurrentMinuteWithTheTimePickerHidden)
{
    PopoverDatePickerController fresh;
    const Date now = foundation::now();
    EXPECT_LE(fresh.date(), now);
    EXPECT_GT(fresh.date() + std::chrono::minutes(1), now);
    EXPECT_EQ(fresh.date().time_since_epoch() % std::chrono::minutes(1), std::chrono::microseconds(0));
    EXPECT_FALSE(fresh.showsTimePicker());
    EXPECT_TRUE(fresh.timePicker()->isHidden());
    EXPECT_EQ(fresh.popover(), nullptr);
}

TEST_F(PopoverDatePickerTest, SettingTheDateShowsItInBothPickersWithoutCallingTheHandler)
{
    picker.setDate(berlin(3, 12, 10, 30, 1));
    EXPECT_EQ(picker.datePicker()->selectedDate(), QDate(2024, 3, 12));
    EXPECT_EQ(picker.timePicker()->time(), QTime(10, 30));
    EXPECT_TRUE(picked.empty());
}

TEST_F(PopoverDatePickerTest, APickedDayKeepsTheTimeOfDayAndATypedTimeKeepsTheDay)
{
    picker.setDate(berlin(3, 12, 10, 30, 1));
    picker.datePicker()->setSelectedDate(QDate(2024, 5, 2)); // what a click on May 2nd does
    ASSERT_EQ(picked.size(), 1u);
    EXPECT_EQ(picked[0], berlin(5, 2, 10, 30, 2)) << "10:30 in summer time";
    EXPECT_EQ(picker.date(), picked[0]);
    EXPECT_EQ(picker.timePicker()->time(), QTime(10, 30));

    picker.timePicker()->setTime(QTime(17, 45));
    ASSERT_EQ(picked.size(), 2u);
    EXPECT_EQ(picked[1], berlin(5, 2, 17, 45, 2));
    EXPECT_EQ(picker.datePicker()->selectedDate(), QDate(2024, 5, 2));

    picker.datePickerValueChanged(nullptr);
    EXPECT_EQ(picked.size(), 2u) << "no sender, no change";
}

TEST_F(PopoverDatePickerTest, ClickingADayInTheCalendarCallsTheHandlerOnce)
{
    picker.setDate(berlin(3, 12, 10, 0, 1));
    picker.show();
    auto* grid = picker.datePicker()->findChild<QAbstractItemView*>();
    ASSERT_NE(grid, nullptr);
    // The 14th is in the same row as the 12th (Tuesday to Thursday): two columns to the right.
    const QModelIndex twelfth = grid->currentIndex();
    const QModelIndex fourteenth = twelfth.siblingAtColumn(twelfth.column() + 2);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(fourteenth).center());
    ASSERT_EQ(picked.size(), 1u);
    EXPECT_EQ(picked[0], berlin(3, 14, 10, 0, 1));
}

TEST_F(PopoverDatePickerTest, TimePickerGrowsThePopoverByItsHeightAndEveryShowMakesANewPopover)
{
    QWidget window;
    window.setGeometry(QApplication::primaryScreen()->availableGeometry());
    auto* anchor = new QLabel("Mar 10, 2024", &window);
    anchor->setGeometry(50, 50, 120, 20);
    window.show();

    picker.showFromView(*anchor);
    ui::Popover* first = picker.popover();
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(first->isShown());
    EXPECT_EQ(first->shownEdge(), ui::PopoverEdge::below);
    QWidget* popup = first->popupWindow();
    const int height = popup->height();
    EXPECT_EQ(picker.datePicker()->geometry().topLeft(), QPoint(8, 8));
    EXPECT_EQ(picker.height(), picker.datePicker()->height() + 2 * 8) << "8-pixel margins, no time picker";
    EXPECT_EQ(picker.width(), picker.datePicker()->width() + 2 * 8);

    picker.setShowsTimePicker(true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return popup->height() != height; }));
    EXPECT_EQ(popup->height(), height + picker.timePicker()->sizeHint().height());
    EXPECT_EQ(picker.timePicker()->geometry().top(), picker.datePicker()->geometry().bottom() + 1) << "no gap";
    picker.setShowsTimePicker(false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return popup->height() == height; }));

    first->close();
    EXPECT_EQ(picker.popover(), nullptr);
    EXPECT_EQ(picker.parentWidget(), nullptr);
    picker.showFromView(*anchor);
    ASSERT_NE(picker.popover(), nullptr);
    EXPECT_TRUE(picker.popover()->isShown());
    EXPECT_NE(picker.popover()->popupWindow(), popup);
    EXPECT_TRUE(picked.empty()) << "showing changes no date";
}

TEST_F(BerlinEnvironment, DestroyedWhileShownClosesItsPopup)
{
    QWidget anchor;
    anchor.show();
    QPointer<QWidget> popup;
    {
        PopoverDatePickerController picker;
        picker.showFromView(anchor);
        popup = picker.popover()->popupWindow();
        ASSERT_FALSE(popup.isNull());
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(popup.isNull());
}
