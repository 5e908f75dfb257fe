// Durations, costs, pauses and state changes of timers, with the clock and zone pinned.
#include "model/client.h"
#include "model/data_model.h"
#include "model/dates.h"
#include "model/enums.h"
#include "model/pause_entry.h"
#include "model/project.h"
#include "model/timer.h"

#include "support/dates.h"
#include "support/scoped_environment.h"

#include <gtest/gtest.h>

using namespace model;
using foundation::Date;
using foundation::Decimal;

namespace {

// 2024-05-06 at the given time, UTC.
Date at(int hour, int minute, int second = 0)
{
    return testsupport::utc(2024, 5, 6, hour, minute, second);
}

Decimal dec(const char* text)
{
    return *Decimal::parse(text);
}

class TimerTest : public ::testing::Test {
protected:
    TimerTest() : env_{{"TZ", std::string("UTC")}, {"LANG", std::string("en_US.UTF-8")}, {"LC_ALL", std::nullopt}}
    {
        context_ = std::make_unique<data::ObjectContext>(managedObjectModel(), center_);
    }
    void setNow(Date date) { clock_->set(date); }
    Timer* periodTimer(Date start)
    {
        auto* timer = initInContext<Timer>(*context_);
        timer->setStart(start);
        return timer;
    }
    PauseEntry* pause(Timer* timer, Date start, std::optional<Date> end)
    {
        auto* entry = initInContext<PauseEntry>(*context_);
        entry->setTimer(timer);
        entry->setStart(start);
        entry->setEnd(end);
        return entry;
    }

    testsupport::ScopedEnvironment env_;
    std::shared_ptr<foundation::FixedClock> clock_ = std::make_shared<foundation::FixedClock>(at(12, 0));
    foundation::ScopedClock scopedClock_{clock_};
    foundation::NotificationCenter center_;
    std::unique_ptr<data::ObjectContext> context_;
};

} // namespace

TEST_F(TimerTest, RunningAndClosedPeriodDurationsTruncateToMinutes)
{
    Timer* timer = periodTimer(at(10, 0));
    setNow(at(10, 59, 59));
    EXPECT_EQ(timer->duration(), 59);
    setNow(at(11, 0, 30));
    EXPECT_EQ(timer->duration(), 60);
    EXPECT_TRUE(timer->running());

    timer->setEnd(at(10, 0, 59));
    EXPECT_EQ(timer->duration(), 0);
    timer->setEnd(at(11, 0));
    pause(timer, at(10, 20), at(10, 35));
    EXPECT_EQ(timer->pauseDuration(), 15);
    EXPECT_EQ(timer->duration(), 45);
    // Not clamped: pauses longer than the period give a negative duration.
    pause(timer, at(9, 0), at(10, 50));
    EXPECT_LT(timer->duration(), 0);
}

TEST_F(TimerTest, TypesDecideDurationAndCosts)
{
    Project* project = initInContext<Project>(*context_);
    Client* client = initInContext<Client>(*context_);
    client->setHourlyRate(dec("40"));
    project->setClient(client);

    Timer* fixed = periodTimer(at(9, 0));
    fixed->setProject(project);
    fixed->setType(rawValue(TimerType::duration));
    fixed->setFixedDuration(90);
    EXPECT_EQ(fixed->duration(), 90);
    EXPECT_EQ(fixed->costs().toString(), "60");

    Timer* expense = periodTimer(at(9, 0));
    expense->setProject(project);
    expense->setType(rawValue(TimerType::expense));
    EXPECT_EQ(expense->duration(), 0);
    EXPECT_EQ(expense->costs().toString(), "0");
    expense->setFixedCost(dec("12.34"));
    EXPECT_EQ(expense->costs().toString(), "12.34");
    EXPECT_TRUE(expense->isExpenseTimer());

    // No type: a fixed duration for the duration, time-based for the costs.
    Timer* untyped = periodTimer(at(9, 0));
    untyped->setProject(project);
    untyped->setType(std::nullopt);
    untyped->setFixedDuration(30);
    EXPECT_TRUE(untyped->isFixedDurationTimer());
    EXPECT_FALSE(untyped->isExpenseTimer());
    EXPECT_EQ(untyped->costs().toString(), "20");

    // Rates: timer's own beats the project's, which beats the client's.
    Timer* period = periodTimer(at(10, 0));
    period->setProject(project);
    period->setEnd(at(10, 20));
    EXPECT_EQ(period->costs().toString(), "13.333333333333332");
    project->setCustomHourlyRate(dec("60"));
    EXPECT_EQ(period->costs().toString(), "20");
    period->setCustomHourlyRate(dec("0"));
    EXPECT_EQ(period->costs().toString(), "0");
    Timer* orphan = periodTimer(at(10, 0));
    EXPECT_EQ(orphan->hourlyRate().toString(), "0");
}

TEST_F(TimerTest, SettledDurationIsTheDurationOnceItNoLongerGrows)
{
    // What the outline's sums rely on: the duration of an ended timer without an open pause, nothing
    // otherwise, exactly as duration() and activePauseEntry() say.
    const auto expected = [](const Timer& timer) -> std::optional<std::int64_t> {
        if (timer.end() && !timer.activePauseEntry())
            return timer.duration();
        return std::nullopt;
    };
    std::vector<Timer*> timers;
    Timer* running = periodTimer(at(9, 0));
    pause(running, at(9, 10), at(9, 20));
    timers.push_back(running);
    Timer* closed = periodTimer(at(8, 0));
    closed->setEnd(at(9, 30, 45));
    pause(closed, at(8, 10), at(8, 25));
    pause(closed, at(8, 40), at(8, 41));
    timers.push_back(closed);
    Timer* openPause = periodTimer(at(7, 0));
    openPause->setEnd(at(8, 0));
    pause(openPause, at(7, 30), std::nullopt);
    timers.push_back(openPause);
    Timer* withoutStart = periodTimer(at(6, 0));
    withoutStart->setStart(std::nullopt);
    withoutStart->setEnd(at(7, 0));
    pause(withoutStart, at(6, 10), at(6, 20));
    timers.push_back(withoutStart);
    Timer* fixed = periodTimer(at(5, 0));
    fixed->setEnd(at(5, 0));
    fixed->setType(rawValue(TimerType::duration));
    fixed->setFixedDuration(45);
    pause(fixed, at(5, 0), at(5, 10)); // a fixed duration ignores pauses
    timers.push_back(fixed);
    Timer* expense = periodTimer(at(4, 0));
    expense->setEnd(at(4, 0));
    expense->setType(rawValue(TimerType::expense));
    timers.push_back(expense);
    Timer* untyped = periodTimer(at(3, 0));
    untyped->setEnd(at(3, 30));
    untyped->setType(std::nullopt);
    untyped->setFixedDuration(12);
    timers.push_back(untyped);
    Timer* otherType = periodTimer(at(2, 0));
    otherType->setEnd(at(2, 50));
    otherType->setType(7); // counts as a period
    pause(otherType, at(2, 5), at(2, 15));
    timers.push_back(otherType);

    for (const Timer* timer : timers)
        EXPECT_EQ(timer->settledDuration(), expected(*timer)) << timer->start().has_value();
    EXPECT_EQ(closed->settledDuration(), 90 - 15 - 1);
    EXPECT_EQ(running->settledDuration(), std::nullopt);
    EXPECT_EQ(openPause->settledDuration(), std::nullopt);
    EXPECT_EQ(fixed->settledDuration(), 45);

    // Outside any context a pause without an end does not count as open (activePauseEntry's rule).
    context_->deleteObject(openPause);
    EXPECT_EQ(openPause->settledDuration(), expected(*openPause));
}

TEST_F(TimerTest, StopPauseResumeFollowTheMinuteClock)
{
    setNow(at(10, 0, 10));
    Timer* timer = initInContext<Project>(*context_)->startNewTimer();
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(*timer->start(), at(10, 0));

    setNow(at(10, 30, 20));
    PauseEntry* entry = timer->pause();
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(*entry->start(), at(10, 30));
    EXPECT_TRUE(timer->paused());
    EXPECT_EQ(timer->pause(), nullptr); // already paused: nothing new
    EXPECT_EQ(timer->pauseEntries().size(), 1u);

    setNow(at(10, 42, 37));
    timer->resume();
    EXPECT_EQ(*entry->end(), at(10, 42));
    EXPECT_FALSE(timer->paused());

    setNow(at(11, 0, 59));
    timer->stop();
    EXPECT_EQ(*timer->end(), at(11, 0));
    EXPECT_EQ(timer->duration(), 48);

    setNow(at(11, 30));
    timer->stop(); // a second stop changes nothing
    EXPECT_EQ(*timer->end(), at(11, 0));
}

TEST_F(TimerTest, StoppingWhilePausedClosesThePauseAtTheTimersEnd)
{
    Timer* timer = periodTimer(at(10, 0));
    setNow(at(10, 10));
    PauseEntry* entry = timer->pause();
    setNow(at(10, 25, 40));
    timer->stop();
    EXPECT_EQ(*timer->end(), at(10, 25));
    EXPECT_EQ(*entry->end(), at(10, 25));
    EXPECT_EQ(timer->duration(), 10);
    EXPECT_EQ(timer->activePauseEntry(), nullptr);
}

TEST_F(TimerTest, TogglePauseLeavesEndedTimersAloneBilledOrNot)
{
    Timer* timer = periodTimer(at(10, 0));
    setNow(at(10, 5));
    timer->togglePause();
    EXPECT_TRUE(timer->paused());
    timer->setBilled(true); // billed but still running: toggling still resumes
    setNow(at(10, 9));
    timer->togglePause();
    EXPECT_FALSE(timer->paused());
    timer->togglePause();
    EXPECT_TRUE(timer->paused());
    timer->togglePause();

    timer->stop();
    const auto entries = timer->pauseEntries().size();
    timer->togglePause();
    EXPECT_EQ(timer->pauseEntries().size(), entries);
    EXPECT_FALSE(timer->paused());
    setNow(at(12, 0));
    EXPECT_EQ(timer->duration(), 9 - 4); // no pause keeps growing on an ended, billed timer
}

TEST_F(TimerTest, BillingFreezesTheRateAndResumingFromStoppedReleasesIt)
{
    Project* project = initInContext<Project>(*context_);
    Client* client = initInContext<Client>(*context_);
    client->setHourlyRate(dec("80"));
    project->setClient(client);
    Timer* timer = periodTimer(at(10, 0));
    timer->setProject(project);
    timer->setEnd(at(11, 0));

    timer->setBilled(true);
    client->setHourlyRate(dec("100"));
    EXPECT_EQ(timer->hourlyRate().toString(), "80");
    EXPECT_EQ(timer->costs().toString(), "80");
    timer->setBilled(false);
    EXPECT_EQ(timer->hourlyRate().toString(), "100");

    timer->setBilled(true);
    setNow(at(11, 30, 45));
    timer->resumeFromStopped();
    EXPECT_TRUE(timer->running());
    EXPECT_FALSE(timer->billed());
    EXPECT_FALSE(timer->billedHourlyRate().has_value());
    ASSERT_EQ(timer->pauseEntries().size(), 1u);
    EXPECT_EQ(*timer->pauseEntries()[0]->start(), at(11, 0));
    EXPECT_EQ(*timer->pauseEntries()[0]->end(), at(11, 30));
    EXPECT_EQ(timer->duration(), 60); // 10:00..11:30 less the 30-minute gap
}

TEST_F(TimerTest, ValidationIsForPeriodTimersOnly)
{
    Timer* timer = periodTimer(at(10, 0));
    timer->setEnd(at(11, 0));
    EXPECT_FALSE(timer->validateStart(at(11, 0)));
    auto error = timer->validateStart(at(11, 1));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, 1);
    EXPECT_EQ(error->localizedDescription, "Start date must be earlier than end date");
    EXPECT_EQ(timer->validateEnd(at(9, 59))->localizedDescription, "End date must be later than start date");
    EXPECT_FALSE(timer->validateEnd(at(10, 0)));
    EXPECT_FALSE(timer->validateEnd(std::nullopt));
    // Now is 12:00: an end may reach it, not pass it.
    EXPECT_FALSE(timer->validateEnd(at(12, 0)));
    EXPECT_EQ(timer->validateEnd(at(12, 1))->localizedDescription, "End date must not lie in the future");
    timer->setType(rawValue(TimerType::expense));
    EXPECT_FALSE(timer->validateEnd(at(9, 0)));
}

TEST_F(TimerTest, PauseOverlapRangeAndLabels)
{
    Timer* timer = periodTimer(at(10, 0));
    PauseEntry* first = pause(timer, at(10, 0), at(10, 10));
    PauseEntry* touching = pause(timer, at(10, 10), at(10, 20));
    EXPECT_EQ(first->overlappingOtherPauseEntries(), std::vector<PauseEntry*>{touching});
    EXPECT_EQ(touching->overlappingOtherPauseEntries(), std::vector<PauseEntry*>{first});

    Timer* other = periodTimer(at(10, 0));
    PauseEntry* outer = pause(other, at(10, 0), at(10, 30));
    PauseEntry* inner = pause(other, at(10, 10), at(10, 20));
    EXPECT_EQ(inner->overlappingOtherPauseEntries(), std::vector<PauseEntry*>{outer});
    EXPECT_TRUE(outer->overlappingOtherPauseEntries().empty());
    PauseEntry* running = pause(other, at(10, 25), std::nullopt);
    EXPECT_EQ(running->overlappingOtherPauseEntries(), std::vector<PauseEntry*>{outer}); // holds its start
    EXPECT_EQ(outer->overlappingOtherPauseEntries().size(), 0u); // a running pause is never reported
    EXPECT_EQ(other->pauseEntriesLabelText(), "3 entries");
    EXPECT_EQ(periodTimer(at(9, 0))->pauseEntriesLabelText(), "0 entries");

    // Range: not before the timer's start, not after its end; a running timer ends now (12:00), and
    // its pauses cannot be edited past it.
    EXPECT_TRUE(running->inTimerRange());
    EXPECT_FALSE(pause(other, at(9, 59), at(10, 5))->inTimerRange());
    PauseEntry* late = pause(other, at(11, 50), at(12, 1));
    EXPECT_FALSE(late->inTimerRange());
    EXPECT_EQ(late->validateEnd(at(12, 1))->localizedDescription, "A pause of a running timer cannot end after now");
    EXPECT_FALSE(late->validateEnd(at(12, 0)));
    EXPECT_EQ(late->validateStart(at(12, 1))->localizedDescription,
              "A pause of a running timer cannot start after now");
    late->setEnd(at(12, 0));
    other->setEnd(at(10, 40));
    EXPECT_FALSE(pause(other, at(10, 35), at(10, 41))->inTimerRange());
    EXPECT_TRUE(pause(other, at(10, 35), at(10, 40))->inTimerRange());
    EXPECT_FALSE(late->validateEnd(at(12, 30))); // a stopped timer's pauses are flagged, not refused
}

TEST_F(TimerTest, PauseDurationsAndTexts)
{
    Timer* timer = periodTimer(at(10, 0));
    PauseEntry* runningPause = pause(timer, at(10, 0), std::nullopt);
    setNow(at(10, 0, 59));
    EXPECT_EQ(runningPause->duration(), 0);
    setNow(at(10, 1, 0));
    EXPECT_EQ(runningPause->duration(), 1);
    PauseEntry* closed = pause(timer, at(10, 0), at(10, 14, 59));
    EXPECT_EQ(closed->duration(), 14);
    PauseEntry* backwards = pause(timer, at(10, 1, 30), at(10, 0));
    EXPECT_EQ(backwards->duration(), -1);
    PauseEntry* empty = pause(timer, at(10, 0), std::nullopt);
    empty->setStart(std::nullopt);
    EXPECT_EQ(empty->duration(), 0);
    EXPECT_EQ(empty->formattedDuration(), "");
    EXPECT_NE(closed->formattedDuration().find("10:00"), std::string::npos) << closed->formattedDuration();
}

TEST_F(TimerTest, RunningAndPausedFetchesAndChangeNotices)
{
    Timer* running = periodTimer(at(10, 0));
    Timer* paused = periodTimer(at(10, 0));
    paused->pause();
    Timer* billedPaused = periodTimer(at(10, 0));
    billedPaused->pause();
    billedPaused->setBilled(true);
    Timer* closed = periodTimer(at(9, 0));
    closed->setEnd(at(9, 30));
    auto runningTimers = Timer::runningTimers(*context_);
    EXPECT_EQ(runningTimers.size(), 3u);
    EXPECT_EQ(std::count(runningTimers.begin(), runningTimers.end(), closed), 0);
    EXPECT_EQ(Timer::pausedTimers(*context_), std::vector<Timer*>{paused});
    (void)running;

    // A pause's date change puts its timer among the updated objects under "pauseEntries".
    context_->processPendingChanges();
    std::shared_ptr<const data::ChangeSet> seen;
    auto token =
        center_.addObserver(data::ObjectsDidChangeNotification, nullptr, [&](const foundation::Notification& n) {
            seen = *n.info<std::shared_ptr<const data::ChangeSet>>("changes");
        });
    setNow(at(10, 30));
    paused->resume();
    context_->processPendingChanges();
    ASSERT_TRUE(seen);
    EXPECT_TRUE(seen->changed(paused, "pauseEntries"));
}
