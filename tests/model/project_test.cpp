// Project totals, rate and currency chains, timer creation, archiving and the timer filter.
#include "model/client.h"
#include "model/data_model.h"
#include "model/dates.h"
#include "model/enums.h"
#include "model/money_bounds.h"
#include "model/pause_entry.h"
#include "model/project.h"

#include "support/dates.h"
#include "support/scoped_environment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

using namespace model;
using foundation::Date;
using foundation::Decimal;

namespace {

Date at(unsigned day, int hour, int minute = 0, int second = 0)
{
    return testsupport::utc(2024, 3, day, hour, minute, second);
}

class ProjectTest : public ::testing::Test {
protected:
    ProjectTest()
        : env_{{"TZ", std::string("UTC")},
               {"LANG", std::string("en_US.UTF-8")},
               {"LC_ALL", std::nullopt},
               {"LC_MONETARY", std::nullopt}},
          context_(managedObjectModel(), center_)
    {
        project_ = initInContext<Project>(context_);
    }
    Timer* timer(Date start, std::optional<std::string> notes = std::nullopt, bool billed = false)
    {
        Timer* t = initInContext<Timer>(context_);
        t->setProject(project_);
        t->setStart(start);
        t->setEnd(start + std::chrono::minutes(30));
        t->setNotes(std::move(notes));
        if (billed)
            t->setBilled(true);
        return t;
    }

    testsupport::ScopedEnvironment env_;
    std::shared_ptr<foundation::FixedClock> clock_ = std::make_shared<foundation::FixedClock>(at(6, 10, 17, 45));
    foundation::ScopedClock scopedClock_{clock_};
    foundation::NotificationCenter center_;
    data::ObjectContext context_;
    Project* project_ = nullptr;
};

const Filter byStart{std::nullopt, std::nullopt, std::vector<data::SortDescriptor>{{"start", true}}, std::nullopt,
                     true};

} // namespace

TEST_F(ProjectTest, CurrencyAndRateFallBackThroughClientAndLocale)
{
    EXPECT_EQ(project_->hourlyRate().toString(), "0");
    EXPECT_EQ(project_->currency(), "$");
    {
        testsupport::ScopedEnvironment german{{"LANG", std::string("de_DE.UTF-8")}};
        EXPECT_EQ(project_->currency(), "€");
    }
    Client* client = initInContext<Client>(context_);
    client->setCurrency(std::string("£"));
    client->setHourlyRate(*Decimal::parse("55.5"));
    project_->setClient(client);
    EXPECT_EQ(project_->currency(), "£");
    EXPECT_EQ(project_->hourlyRate().toString(), "55.5");
    project_->setCustomCurrency(std::string(""));
    EXPECT_EQ(project_->currency(), ""); // an empty string is a value
    project_->setCustomHourlyRate(Decimal(70));
    EXPECT_EQ(project_->hourlyRate().toString(), "70");
}

TEST_F(ProjectTest, TotalsSumEveryTimer)
{
    project_->setCustomHourlyRate(Decimal(60));
    timer(at(4, 9)); // 30 minutes: 30
    Timer* expense = project_->addExpenseTimer();
    expense->setFixedCost(*Decimal::parse("0.1"));
    Timer* fixed = project_->addFixedDurationTimer();
    fixed->setFixedDuration(15); // 15
    Timer* second = timer(at(5, 9));
    second->setFixedCost(*Decimal::parse("0.2")); // ignored: not an expense
    EXPECT_EQ(project_->duration(), 75);
    EXPECT_EQ(project_->costs().toString(), "75.1");
}

TEST_F(ProjectTest, NewTimersStartAtTheMinuteAndFixedOnesAreClosed)
{
    Timer* running = project_->startNewTimer();
    EXPECT_EQ(*running->start(), at(6, 10, 17));
    EXPECT_TRUE(running->running());
    EXPECT_EQ(running->type(), rawValue(TimerType::period));
    Timer* fixed = project_->addFixedDurationTimer();
    EXPECT_EQ(fixed->start(), fixed->end());
    EXPECT_EQ(fixed->type(), rawValue(TimerType::duration));
    EXPECT_FALSE(fixed->running());
    EXPECT_EQ(project_->addExpenseTimer()->type(), rawValue(TimerType::expense));
    EXPECT_EQ(project_->runningTimers(), std::vector<Timer*>{running});

    context_.deleteObject(project_);
    EXPECT_EQ(project_->startNewTimer(), nullptr); // outside any context
    EXPECT_TRUE(project_->runningTimers().empty());
}

TEST_F(ProjectTest, ArchivingStopsRunningAndPausedTimers)
{
    Timer* running = project_->startNewTimer();
    Timer* paused = project_->startNewTimer();
    paused->pause();
    clock_->advance(std::chrono::minutes(20));
    project_->toggleArchived();
    EXPECT_TRUE(project_->archived());
    EXPECT_TRUE(running->end().has_value());
    EXPECT_TRUE(paused->end().has_value());
    EXPECT_FALSE(paused->paused());
    project_->toggleArchived();
    EXPECT_FALSE(project_->archived());
    EXPECT_TRUE(running->end().has_value());
}

TEST_F(ProjectTest, FilterBoundsAreInclusiveAndSortedByStart)
{
    Timer* late = timer(at(7, 23, 59, 59));
    Timer* early = timer(at(1, 0));
    Timer* middle = timer(at(4, 12));
    Timer* before = timer(at(1, 0) - std::chrono::seconds(1));
    Timer* noStart = timer(at(3, 0));
    noStart->setStart(std::nullopt);

    Filter week = byStart;
    week.fromDate = at(1, 0);
    week.toDate = at(7, 23, 59, 59);
    EXPECT_EQ(project_->timers(week), (std::vector<Timer*>{early, middle, late}));
    week.fromDate.reset();
    EXPECT_EQ(project_->timers(week), (std::vector<Timer*>{before, early, middle, late}));
    EXPECT_EQ(project_->timers(byStart).size(), 5u);       // no bounds: a timer without start stays
    EXPECT_EQ(project_->timers(byStart).front(), noStart); // absent sorts first

    Filter inverted = byStart;
    inverted.fromDate = at(7, 0);
    inverted.toDate = at(1, 0);
    EXPECT_TRUE(project_->timers(inverted).empty());
    EXPECT_EQ(project_->duration(week), 4 * 30);
}

TEST_F(ProjectTest, FilterSearchesNotesWithCaseFoldingAndDropsBilled)
{
    Timer* angry = timer(at(2, 9), std::string("Viel ÄRGER heute"));
    Timer* billed = timer(at(2, 10), std::string("ärger, billed"), true);
    timer(at(2, 11), std::string("calm"));
    timer(at(2, 12));

    Filter search = byStart;
    search.searchTerm = "ärger";
    search.includeBilledTimers = false;
    EXPECT_EQ(project_->timers(search), std::vector<Timer*>{angry});
    search.includeBilledTimers = true;
    EXPECT_EQ(project_->timers(search), (std::vector<Timer*>{angry, billed}));
    search.searchTerm = "";
    EXPECT_EQ(project_->timers(search).size(), 4u);
}

TEST_F(ProjectTest, UndoingAStartChangeMovesTheTimerBack)
{
    Timer* first = timer(at(1, 9));
    Timer* second = timer(at(2, 9));
    Timer* third = timer(at(3, 9));
    context_.processPendingChanges();
    second->setStart(at(5, 9));
    context_.processPendingChanges();
    EXPECT_EQ(project_->timers(byStart), (std::vector<Timer*>{first, third, second}));
    context_.undoManager().undo();
    EXPECT_EQ(project_->timers(byStart), (std::vector<Timer*>{first, second, third}));
    context_.undoManager().redo();
    EXPECT_EQ(project_->timers(byStart).back(), second);
}

TEST_F(ProjectTest, CostsOfTheMostTimersAtTheHighestRateOverTheLongestDurationsStayExact)
{
    project_->setCustomHourlyRate(Decimal(maximumHourlyRate));
    constexpr std::int64_t timerCount = 200'000;
    for (std::int64_t index = 0; index < timerCount; ++index)
        project_->addFixedDurationTimer()->setFixedDuration(std::numeric_limits<std::int64_t>::max());
    const Decimal perTimer = project_->timers().front()->costs();
    ASSERT_GT(perTimer, Decimal(0));

    const auto expected = perTimer.multiplying(Decimal(timerCount));
    ASSERT_TRUE(expected);
    EXPECT_EQ(project_->costs(), *expected);
}

TEST_F(ProjectTest, CostsBeyondADecimalAreReportedOnceInsteadOfThrown)
{
    const Decimal huge = *Decimal::parse("99999999999999999999999999999999999999"); // never accepted as input
    for (int index = 0; index < 2; ++index)
        project_->addExpenseTimer()->setFixedCost(huge);

    testing::internal::CaptureStderr();
    EXPECT_EQ(project_->costs(), Decimal(0));
    EXPECT_EQ(project_->costs(), Decimal(0));
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
    EXPECT_NE(printed.find("out of range"), std::string::npos) << printed;
}
