// The display rules of the outline's cells and status line: state order, images, buttons and texts.
#include "mainwindow/outline_cells.h"

#include "model/currency_formatter.h"

#include "store_fixture.h"

using namespace mainwindow;
using testsupport::march;

namespace {

class OutlineCellsTest : public testsupport::StoreFixture {
protected:
    model::Project* work_ = project("Website");
};

TEST_F(OutlineCellsTest, StateOrderIsBilledThenClosedThenPausedThenRunning)
{
    model::Timer* running = runningTimer(work_, march(6, 9));
    model::Timer* paused = pausedTimer(work_, march(6, 8), march(6, 9));
    model::Timer* closed = periodTimer(work_, march(6, 7), 30);
    model::Timer* billedRunning = runningTimer(work_, march(6, 6));
    billedRunning->setBilled(true);
    // A stopped timer whose pause was never ended counts as closed.
    model::Timer* stoppedWithOpenPause = pausedTimer(work_, march(6, 5), march(6, 5, 30));
    stoppedWithOpenPause->setEnd(march(6, 6));

    EXPECT_EQ(timerStatus(*running), model::TimerStatus::running);
    EXPECT_EQ(timerStatus(*paused), model::TimerStatus::paused);
    EXPECT_EQ(timerStatus(*closed), model::TimerStatus::closed);
    EXPECT_EQ(timerStatus(*billedRunning), model::TimerStatus::billed);
    EXPECT_EQ(timerStatus(*stoppedWithOpenPause), model::TimerStatus::closed);

    EXPECT_EQ(statusImage(*running), StatusImage::runningDot);
    EXPECT_EQ(statusImage(*paused), StatusImage::pausedDot);
    EXPECT_EQ(statusImage(*closed), StatusImage::none);
    EXPECT_EQ(statusImage(*billedRunning), StatusImage::checkMark);

    EXPECT_EQ(timerActionButton(*running), TimerActionButton::pause);
    EXPECT_EQ(timerActionButton(*paused), TimerActionButton::play);
    EXPECT_EQ(timerActionButton(*closed), TimerActionButton::hidden);
    EXPECT_EQ(timerActionButton(*billedRunning), TimerActionButton::hidden);
    EXPECT_EQ(timerActionButton(*stoppedWithOpenPause), TimerActionButton::hidden);
}

TEST_F(OutlineCellsTest, DurationTextIsTheClockTextAndEmptyForExpenses)
{
    EXPECT_EQ(durationCellText(*periodTimer(work_, march(6, 8), 90)), "01:30");
    EXPECT_EQ(durationCellText(*fixedTimer(work_, march(6, 8), 1500)), "25:00");
    // Hours are not capped at a day or at two digits.
    EXPECT_EQ(durationCellText(*fixedTimer(work_, march(6, 8), 100 * 60 + 5)), "100:05");
    // Running since 09:00 with the clock at 10:17.
    EXPECT_EQ(durationCellText(*runningTimer(work_, march(6, 9))), "01:17");
    EXPECT_EQ(durationCellText(*expenseTimer(work_, march(6, 8), "12.5")), "");
}

TEST_F(OutlineCellsTest, CostIsShownOnlyForExpensesThatHaveOne)
{
    const model::CurrencyFormatter formatter("en_US");
    EXPECT_EQ(costCellText(*expenseTimer(work_, march(6, 8), "12.5"), formatter), "$12.50");
    EXPECT_EQ(costCellText(*expenseTimer(work_, march(6, 8), std::nullopt), formatter), std::nullopt);
    model::Timer* periodWithCost = periodTimer(work_, march(6, 8), 30);
    periodWithCost->setFixedCost(foundation::Decimal(40));
    EXPECT_EQ(costCellText(*periodWithCost, formatter), std::nullopt);

    work_->setCustomCurrency("€");
    EXPECT_EQ(costCellText(*expenseTimer(work_, march(6, 8), "1234.5"), formatter), "€1,234.50");
}

TEST(StatusLineTextTest, CountsAndDurationTexts)
{
    EXPECT_EQ(countsStatusText(0, 0), "0 projects, 0 timers");
    EXPECT_EQ(countsStatusText(1, 1), "1 project, 1 timer");
    EXPECT_EQ(countsStatusText(3, 1), "3 projects, 1 timer");
    EXPECT_EQ(countsStatusText(1, 2), "1 project, 2 timers");
    EXPECT_EQ(durationStatusText(0), "Duration: 00:00");
    EXPECT_EQ(durationStatusText(750), "Duration: 12:30");
    EXPECT_EQ(durationStatusText(1500), "Duration: 25:00");
}

} // namespace
