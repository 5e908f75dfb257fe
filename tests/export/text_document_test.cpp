// The plain-text document's pieces in the cases the golden files do not show: empty lists, rules of
// titles, left-out rates and lines, expenses, pauses, timers without a start, notes with line breaks.
#include "export/exporter.h"

#include "export_fixture.h"

using exports::Exporter;
using exports::ExportField;
using exports::ExportFields;
using testsupport::allFields;
using testsupport::allTimers;
using testsupport::january;

namespace {

class TextDocumentTest : public testsupport::ExportFixture {};

TEST_F(TextDocumentTest, NoProjectsGiveAnEmptyDocument)
{
    EXPECT_EQ(Exporter::textDocument({}, allTimers(), allFields()), "");
}

TEST_F(TextDocumentTest, RulesAreAsLongAsTheTitleInUserPerceivedCharactersPlusTwo)
{
    model::Project* ten = project("Ten chars!");
    EXPECT_EQ(Exporter::textProjectHeader(*ten, {}), "------------\n Ten chars! \n------------\n\n");
    model::Project* flag = project("Trip \U0001F1E9\U0001F1EA");
    EXPECT_EQ(Exporter::textProjectHeader(*flag, {}), "--------\n Trip \U0001F1E9\U0001F1EA \n--------\n\n");
    model::Project* nameless = project("");
    nameless->setName(std::nullopt);
    EXPECT_EQ(Exporter::textProjectHeader(*nameless, allFields()), "--\n  \n--\n\n");
}

TEST_F(TextDocumentTest, TheTitleLeavesOutARateOfZeroAndAClientWithoutName)
{
    model::Project* site = project("Site");
    auto* client = model::initInContext<model::Client>(*context_);
    client->setName(std::nullopt);
    site->setClient(client);
    const ExportFields fields = {ExportField::projectClientName, ExportField::projectHourlyRate};
    EXPECT_EQ(Exporter::textProjectHeader(*site, fields), "------\n Site \n------\n\n");
    // The client's rate stands in for a project without its own, in the project's currency.
    client->setName("Bay");
    client->setHourlyRate(foundation::Decimal::parse("12.5"));
    site->setCustomCurrency("\u00A3");
    EXPECT_EQ(Exporter::textProjectHeader(*site, fields),
              std::string(34, '-') + "\n Site | Bay | Hourly Rate: \u00A312.50 \n" + std::string(34, '-') + "\n\n");
    site->setCustomHourlyRate(foundation::Decimal(-5));
    EXPECT_EQ(Exporter::textProjectHeader(*site, fields), "------------\n Site | Bay \n------------\n\n");
}

TEST_F(TextDocumentTest, AProjectWithoutListedTimersEndsAfterItsTotals)
{
    model::Project* quiet = project("Quiet");
    quiet->setNotes("line one\nline two");
    periodTimer(quiet, january(3, 9), january(3, 10), "before the filter");
    model::Filter filter = allTimers();
    filter.fromDate = january(4, 0);
    EXPECT_EQ(Exporter::textProjectBlock(*quiet, filter, allFields()),
              "-------\n Quiet \n-------\n\nline one\nline two\n\nDuration: 00h 00m\nCost: $0.00\n\n");
    EXPECT_EQ(Exporter::textProjectBlock(*quiet, filter, {}), "-------\n Quiet \n-------\n\n\n");
}

TEST_F(TextDocumentTest, AnExpenseShowsItsDateAloneAndItsFixedCost)
{
    model::Project* site = project("Site");
    site->setCustomHourlyRate(foundation::Decimal(80));
    model::Timer* expense = timer(site, model::TimerType::expense, january(6, 14), "Train");
    expense->setFixedCost(foundation::Decimal::parse("19.9"));
    expense->setCustomHourlyRate(foundation::Decimal(50));
    EXPECT_EQ(Exporter::textTimerLine(*expense, allFields()), "- Jan 6, 2024\n  Train\n  Cost: $19.90\n\n");
}

TEST_F(TextDocumentTest, PauseAndOwnRateLinesAppearOnlyWhenThereIsSomethingToShow)
{
    model::Project* site = project("Site");
    site->setCustomHourlyRate(foundation::Decimal(80));
    model::Timer* plain = periodTimer(site, january(5, 9), january(5, 10), "");
    const ExportFields fields = {ExportField::timerPause, ExportField::timerHourlyRate};
    // No pauses and the project's rate only: neither line.
    EXPECT_EQ(Exporter::textTimerLine(*plain, fields), "- Jan 5, 2024, 9:00\u202FAM\n\n");

    pause(plain, january(5, 9, 10), january(5, 9, 30));
    plain->setCustomHourlyRate(foundation::Decimal(0));
    EXPECT_EQ(Exporter::textTimerLine(*plain, fields),
              "- Jan 5, 2024, 9:00\u202FAM\n  Pause: 00h 20m\n  Hourly Rate: $0.00\n\n");
}

TEST_F(TextDocumentTest, FixedDurationsShowTheirDateAndDurationAndTimersWithoutStartShowADashAlone)
{
    model::Project* site = project("Site");
    model::Timer* fixed = timer(site, model::TimerType::duration, january(7, 9), "");
    fixed->setFixedDuration(1500);
    const ExportFields fields = {ExportField::timerDuration, ExportField::timerStartEnd};
    EXPECT_EQ(Exporter::textTimerLine(*fixed, fields), "- Jan 7, 2024, 25h 00m\n\n");
    fixed->setStart(std::nullopt);
    EXPECT_EQ(Exporter::textTimerLine(*fixed, fields), "- , 25h 00m\n\n");
    // A type the model never stores is dated like a fixed-duration timer.
    fixed->setStart(january(7, 9));
    fixed->setType(7);
    EXPECT_EQ(Exporter::textTimerLine(*fixed, {}), "- Jan 7, 2024\n\n");
}

TEST_F(TextDocumentTest, NotesAreWrittenAsStoredWithTheirLineBreaks)
{
    model::Project* site = project("Site");
    model::Timer* period = periodTimer(site, january(5, 9), january(5, 10), "first\nsecond | %notes%");
    EXPECT_EQ(Exporter::textTimerLine(*period, {ExportField::timerNotes}),
              "- Jan 5, 2024, 9:00\u202FAM\n  first\nsecond | %notes%\n\n");
}

TEST_F(TextDocumentTest, TotalsCountEveryListedTimerWithExpensesAddingNoTime)
{
    model::Project* site = project("Site");
    site->setCustomHourlyRate(foundation::Decimal::parse("0.1"));
    // Three thirds of a cent-rate hour each: summed in double, the total is still 0.30.
    for (int day = 1; day <= 3; ++day)
        periodTimer(site, january(day, 9), january(day, 10), "");
    model::Timer* expense = timer(site, model::TimerType::expense, january(4, 9), "");
    expense->setFixedCost(foundation::Decimal(2));
    const std::string block =
        Exporter::textProjectBlock(*site, allTimers(), {ExportField::projectDuration, ExportField::timerCost});
    EXPECT_NE(block.find("Duration: 03h 00m\nCost: $2.30\n\n"), std::string::npos) << block;
}

} // namespace
