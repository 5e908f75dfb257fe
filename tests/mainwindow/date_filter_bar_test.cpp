// The date filter bar driven as the user does, in Berlin and en_US: its labels, the navigation with
// its usage events, the animated bar, the custom range's day controls, the date picker opened from a
// label, and a stored range that names none.
#include "mainwindow/date_filter_label.h"
#include "mainwindow/main_split_view_controller.h"
#include "mainwindow/main_window_controller.h"
#include "mainwindow/projects_view_controller.h"

#include "model/enums.h"
#include "model/preferences.h"

#include "foundation/calendar.h"
#include "inspectors/popover_date_picker_controller.h"
#include "kits/analytics/tally.h"
#include "support/scoped_environment.h"
#include "ui/popover.h"

#include "store_fixture.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QButtonGroup>
#include <QCalendarWidget>
#include <QDateEdit>
#include <QLabel>
#include <QStackedWidget>
#include <QTest>
#include <QVariantAnimation>

using namespace mainwindow;
using foundation::Date;
using model::DateFilterRange;

namespace {

class RecordingEventController : public kits::TLYEventController {
public:
    void logEvent(std::shared_ptr<const kits::TLYEvent> event) override
    {
        if (const auto* custom = dynamic_cast<const kits::TLYCustomEvent*>(event.get()))
            events.emplace_back(custom->customEventName().value_or(""),
                                custom->customAttributes().dictionaryRepresentation());
    }
    void logCrashEvent(std::shared_ptr<const kits::TLYCrashEvent>) override {}
    std::vector<std::pair<std::string, foundation::PropertyListDictionary>> events;
};

foundation::PropertyListDictionary direction(const char* value)
{
    return {{"direction", std::string(value)}};
}

class DateFilterBarTest : public testsupport::StoreFixture {
protected:
    DateFilterBarTest() { kits::Tally::setEventControllerForTesting(events_); }
    ~DateFilterBarTest() override { kits::Tally::setEventControllerForTesting(nullptr); }

    // Berlin wall time.
    static Date berlin(int year, int month, int day, int hour, int minute = 0, int second = 0)
    {
        foundation::DateComponents fields;
        fields.year = year;
        fields.month = month;
        fields.day = day;
        fields.hour = hour;
        fields.minute = minute;
        fields.second = second;
        return *foundation::Calendar("Europe/Berlin", "en_US").date(fields);
    }

    std::unique_ptr<ProjectsViewController> makeController(DateFilterRange range)
    {
        model::Preferences(*defaults_).setDateFilterRange(model::rawValue(range));
        context_->processPendingChanges();
        auto controller = std::make_unique<ProjectsViewController>(context_.get(), *defaults_);
        controller->resize(900, 600);
        finishBarAnimation(*controller);
        return controller;
    }
    void chooseRange(ProjectsViewController& controller, DateFilterRange range)
    {
        model::Preferences(*defaults_).setDateFilterRange(model::rawValue(range));
        controller.dateFilterRangeChanged();
    }
    static void showAround(ProjectsViewController& controller, Date reference)
    {
        controller.setDateFilterReferenceDate(reference);
        controller.updateDateFilter();
    }
    static void clickSegment(ProjectsViewController& controller, int segment)
    {
        QTest::mouseClick(controller.dateFilterNavigationSegments()->button(segment), Qt::LeftButton);
    }
    static void finishBarAnimation(ProjectsViewController& controller)
    {
        QVariantAnimation* animation = controller.dateFilterBarAnimation();
        if (animation->state() == QAbstractAnimation::Running)
            animation->setCurrentTime(animation->duration());
    }
    static bool barShown(ProjectsViewController& controller)
    {
        return !controller.dateFilterView()->isHidden()
               && controller.dateFilterBarHeightConstant() == ProjectsViewController::dateFilterBarHeight;
    }
    static bool barHidden(ProjectsViewController& controller)
    {
        return controller.dateFilterView()->isHidden() && controller.dateFilterBarHeightConstant() == 0;
    }

    testsupport::ScopedEnvironment environment_ = testsupport::zoneAndLocale("Europe/Berlin", "en_US.UTF-8");
    std::shared_ptr<RecordingEventController> events_ = std::make_shared<RecordingEventController>();
};

} // namespace

TEST_F(DateFilterBarTest, WeekLabelsAndAStepBackKeepTheTimeOfDay)
{
    auto controller = makeController(DateFilterRange::week);
    showAround(*controller, berlin(2024, 3, 12, 10));
    EXPECT_EQ(controller->dateFilterTabView()->currentIndex(), 2);
    EXPECT_EQ(controller->weekFilterFromTextField()->text(), "Mar 10, 2024");
    EXPECT_EQ(controller->weekFilterToTextField()->text(), "Mar 16, 2024");
    EXPECT_FALSE(controller->dateFilterNavigationSegmentedControl()->isHidden());

    clickSegment(*controller, 0);
    EXPECT_EQ(controller->dateFilterReferenceDate(), berlin(2024, 3, 5, 10));
    EXPECT_EQ(controller->dateFilterStartDate(), berlin(2024, 3, 3, 0));
    EXPECT_EQ(controller->dateFilterEndDate(), berlin(2024, 3, 9, 23, 59, 59));
    EXPECT_EQ(controller->weekFilterFromTextField()->text(), "Mar 3, 2024");
    ASSERT_EQ(events_->events.size(), 1u);
    EXPECT_EQ(events_->events[0].first, "Navigate Date Filter");
    EXPECT_EQ(events_->events[0].second, direction("left"));
}

TEST_F(DateFilterBarTest, MonthAndDayStepsFollowTheCalendar)
{
    auto controller = makeController(DateFilterRange::month);
    showAround(*controller, berlin(2024, 1, 31, 10));
    EXPECT_EQ(controller->monthFilterTextField()->text(), "January 2024");
    clickSegment(*controller, 2);
    EXPECT_EQ(controller->dateFilterReferenceDate(), berlin(2024, 2, 29, 10)) << "the last day of February";
    EXPECT_EQ(controller->dateFilterStartDate(), berlin(2024, 2, 1, 0));
    EXPECT_EQ(controller->dateFilterEndDate(), berlin(2024, 2, 29, 23, 59, 59));
    EXPECT_EQ(controller->monthFilterTextField()->text(), "February 2024");
    EXPECT_EQ(events_->events.back().second, direction("right"));

    chooseRange(*controller, DateFilterRange::day);
    showAround(*controller, berlin(2024, 3, 30, 12));
    EXPECT_EQ(controller->dayFilterTextField()->text(), "Saturday, March 30, 2024");
    clickSegment(*controller, 2);
    EXPECT_EQ(controller->dateFilterReferenceDate(), berlin(2024, 3, 31, 12)) << "12:00 across the clock change";
    EXPECT_EQ(controller->dayFilterTextField()->text(), "Sunday, March 31, 2024");

    chooseRange(*controller, DateFilterRange::year);
    EXPECT_EQ(controller->yearFilterTextField()->text(), "2024");
    clickSegment(*controller, 0);
    EXPECT_EQ(controller->dateFilterReferenceDate(), berlin(2023, 3, 31, 12));
    EXPECT_EQ(controller->yearFilterTextField()->text(), "2023");
}

TEST_F(DateFilterBarTest, TodayReturnsToTheCurrentDayAndAnUnknownSegmentDoesNotMove)
{
    auto controller = makeController(DateFilterRange::day);
    showAround(*controller, berlin(2023, 7, 14, 9));
    clickSegment(*controller, 1);
    // The pinned clock: 2024-03-06 10:17 UTC, 11:17 in Berlin.
    EXPECT_EQ(controller->dateFilterReferenceDate(), berlin(2024, 3, 6, 11, 17));
    EXPECT_EQ(controller->dateFilterStartDate(), berlin(2024, 3, 6, 0));
    EXPECT_EQ(controller->dateFilterEndDate(), berlin(2024, 3, 6, 23, 59, 59));
    EXPECT_EQ(events_->events.back().second, direction("today"));

    controller->dateFilterNavigationAction(3);
    EXPECT_EQ(controller->dateFilterReferenceDate(), berlin(2024, 3, 6, 11, 17));
    EXPECT_EQ(controller->dateFilterStartDate(), berlin(2024, 3, 6, 0));
    ASSERT_EQ(events_->events.size(), 2u);
    EXPECT_EQ(events_->events.back().second, direction("unknown"));
}

TEST_F(DateFilterBarTest, AllHidesTheBarWhenItsAnimationEnds)
{
    auto controller = makeController(DateFilterRange::day);
    EXPECT_TRUE(barShown(*controller));
    chooseRange(*controller, DateFilterRange::all);
    EXPECT_TRUE(controller->dateFilterTabView()->isHidden());
    EXPECT_TRUE(controller->dateFilterNavigationSegmentedControl()->isHidden());
    EXPECT_EQ(controller->dateFilterStartDate(), std::nullopt);
    EXPECT_EQ(controller->dateFilterEndDate(), std::nullopt);
    EXPECT_FALSE(controller->dateFilterView()->isHidden()) << "hidden only at the end";
    EXPECT_EQ(controller->dateFilterBarAnimation()->duration(), 200);
    finishBarAnimation(*controller);
    EXPECT_TRUE(barHidden(*controller));

    // Opening again: the space opens first, the view shows at the end.
    chooseRange(*controller, DateFilterRange::day);
    controller->dateFilterBarAnimation()->setCurrentTime(100);
    EXPECT_TRUE(controller->dateFilterView()->isHidden());
    EXPECT_GT(controller->dateFilterBarHeightConstant(), 0);
    EXPECT_LT(controller->dateFilterBarHeightConstant(), 40);
    finishBarAnimation(*controller);
    EXPECT_TRUE(barShown(*controller));
    EXPECT_FALSE(controller->dateFilterTabView()->isHidden());
    EXPECT_FALSE(controller->dateFilterNavigationSegmentedControl()->isHidden());
}

TEST_F(DateFilterBarTest, AQuickChangeBackReplacesTheRunningAnimation)
{
    auto controller = makeController(DateFilterRange::day);
    chooseRange(*controller, DateFilterRange::all);
    finishBarAnimation(*controller);
    // all -> day -> all within 0.2 s
    chooseRange(*controller, DateFilterRange::day);
    chooseRange(*controller, DateFilterRange::all);
    finishBarAnimation(*controller);
    EXPECT_TRUE(barHidden(*controller));

    // day -> all -> day within 0.2 s
    chooseRange(*controller, DateFilterRange::day);
    finishBarAnimation(*controller);
    ASSERT_TRUE(barShown(*controller));
    chooseRange(*controller, DateFilterRange::all);
    controller->dateFilterBarAnimation()->setCurrentTime(50);
    chooseRange(*controller, DateFilterRange::day);
    finishBarAnimation(*controller);
    EXPECT_TRUE(barShown(*controller));

    // Moving between shown ranges asks for nothing.
    chooseRange(*controller, DateFilterRange::week);
    EXPECT_NE(controller->dateFilterBarAnimation()->state(), QAbstractAnimation::Running);
}

TEST_F(DateFilterBarTest, CustomKeepsTheBoundsShownBeforeAndItsControlsSetWholeDays)
{
    model::Project* work = project("Work");
    periodTimer(work, berlin(2024, 3, 20, 23, 59), 1, "late");
    periodTimer(work, berlin(2024, 3, 21, 0, 0), 1, "next day");
    auto controller = makeController(DateFilterRange::week);
    showAround(*controller, berlin(2024, 3, 12, 10));
    chooseRange(*controller, DateFilterRange::custom);
    EXPECT_EQ(controller->dateFilterStartDate(), berlin(2024, 3, 10, 0));
    EXPECT_EQ(controller->dateFilterEndDate(), berlin(2024, 3, 16, 23, 59, 59));
    EXPECT_TRUE(controller->dateFilterNavigationSegmentedControl()->isHidden());
    EXPECT_FALSE(controller->dateFilterTabView()->isHidden());
    EXPECT_EQ(controller->dateFilterStartDateControl()->date(), QDate(2024, 3, 10));
    EXPECT_EQ(controller->dateFilterEndDateControl()->date(), QDate(2024, 3, 16));
    EXPECT_TRUE(controller->currentTimersForProject(*work).empty());

    controller->dateFilterEndDateControl()->setDate(QDate(2024, 3, 20));
    EXPECT_EQ(controller->dateFilterEndDate(), berlin(2024, 3, 20, 23, 59, 59));
    const auto listed = controller->currentTimersForProject(*work);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0]->notes(), "late");
    controller->dateFilterStartDateControl()->setDate(QDate(2024, 3, 18));
    EXPECT_EQ(controller->dateFilterStartDate(), berlin(2024, 3, 18, 0));

    // A start after the end lists nothing, and the bar says why until the days are in order again.
    EXPECT_TRUE(controller->dateFilterReversedLabel()->isHidden());
    controller->dateFilterStartDateControl()->setDate(QDate(2024, 3, 22));
    EXPECT_TRUE(controller->currentTimersForProject(*work).empty());
    EXPECT_FALSE(controller->dateFilterReversedLabel()->isHidden());
    controller->dateFilterEndDateControl()->setDate(QDate(2024, 3, 22));
    EXPECT_TRUE(controller->dateFilterReversedLabel()->isHidden());
    controller->dateFilterStartDateControl()->setDate(QDate(2024, 3, 18));

    // An empty bound shows no date; its calendar opens on the month of the reference date.
    controller->setDateFilterBounds(std::nullopt, controller->dateFilterEndDate());
    controller->updateDateFilter();
    EXPECT_EQ(controller->dateFilterStartDateControl()->text().trimmed(), "");
    EXPECT_EQ(controller->dateFilterStartDate(), std::nullopt);
    const QCalendarWidget* calendar = controller->dateFilterStartDateControl()->calendarWidget();
    EXPECT_EQ(calendar->yearShown(), 2024);
    EXPECT_EQ(calendar->monthShown(), 3);
}

TEST_F(DateFilterBarTest, PickerFromTheWeekLabelMovesTheFilterOnEveryPick)
{
    auto controller = makeController(DateFilterRange::week);
    controller->show();
    showAround(*controller, berlin(2024, 3, 12, 10));
    QTest::mouseClick(controller->weekFilterFromTextField(), Qt::LeftButton);
    inspectors::PopoverDatePickerController* picker = controller->dateFilterDatePicker();
    ASSERT_NE(picker, nullptr);
    ASSERT_NE(picker->popover(), nullptr);
    EXPECT_TRUE(picker->popover()->isShown());
    EXPECT_FALSE(picker->showsTimePicker());
    EXPECT_EQ(picker->date(), berlin(2024, 3, 12, 10));
    ASSERT_EQ(events_->events.size(), 1u);
    EXPECT_EQ(events_->events[0].first, "Show Date Filter Date Picker");
    EXPECT_TRUE(events_->events[0].second.empty());

    int calls = 0;
    picker->dateChangeHandler = [&calls, handler = picker->dateChangeHandler](Date date) {
        ++calls;
        handler(date);
    };
    picker->setDate(berlin(2024, 4, 1, 10));
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(controller->dateFilterReferenceDate(), berlin(2024, 3, 12, 10));

    // Click May 2nd in the calendar's May page.
    QCalendarWidget* calendar = picker->datePicker();
    calendar->setCurrentPage(2024, 5);
    auto* grid = calendar->findChild<QAbstractItemView*>();
    ASSERT_NE(grid, nullptr);
    QModelIndex second;
    for (int row = 1; row <= 2 && !second.isValid(); ++row)
        for (int column = 0; column < grid->model()->columnCount(); ++column) {
            const QModelIndex cell = grid->model()->index(row, column);
            if (cell.data().toString() == "2")
                second = cell;
        }
    ASSERT_TRUE(second.isValid());
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(second).center());
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(controller->dateFilterReferenceDate(), berlin(2024, 5, 2, 10));
    EXPECT_EQ(controller->weekFilterFromTextField()->text(), "Apr 28, 2024");
    EXPECT_EQ(controller->weekFilterToTextField()->text(), "May 4, 2024");
    EXPECT_TRUE(picker->popover()->isShown()) << "the popover stays open";
}

TEST_F(DateFilterBarTest, AStoredRangeThatNamesNoneShowsTheDayAndIsKept)
{
    defaults_->set("dateFilterRange", std::int64_t{9});
    context_->processPendingChanges();
    MainWindowController window(context_.get(), *defaults_);
    ProjectsViewController& projects = *window.splitViewController()->projectsViewController();
    EXPECT_EQ(projects.dateFilterTabView()->currentIndex(), 1);
    EXPECT_EQ(projects.currentDateFilterRange(), DateFilterRange::day);
    ASSERT_NE(window.dateFilterRangeSegments()->checkedButton(), nullptr);
    EXPECT_EQ(window.dateFilterRangeSegments()->checkedId(), 1);
    EXPECT_EQ(window.dateFilterRangeSegments()->checkedButton()->text(), "Day");
    EXPECT_EQ(model::Preferences(*defaults_).dateFilterRange(), 9);
    EXPECT_EQ(projects.dateFilterStartDate(), berlin(2024, 3, 6, 0));
}
