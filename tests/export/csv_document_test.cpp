// The CSV document's rows in the cases the golden files do not show: an empty list, the Notes cell a
// row leaves out, Duration cells of one side only, fixed durations, and the cells that get quoted.
#include "export/exporter.h"

#include "export_fixture.h"

using exports::Exporter;
using exports::ExportField;
using exports::ExportFields;
using testsupport::allFields;
using testsupport::allTimers;
using testsupport::january;

namespace {

class CsvDocumentTest : public testsupport::ExportFixture {};

TEST_F(CsvDocumentTest, NoProjectsGiveTheHeaderRowAlone)
{
    EXPECT_EQ(Exporter::csvDocument({}, allTimers(), {}), "Name;Date\n");
    EXPECT_EQ(Exporter::csvDocument({}, allTimers(), allFields()),
              "Name;Start;End;Pause;Duration;Hourly Rate;Costs;Billed;Notes\n");
}

TEST_F(CsvDocumentTest, ARowWhoseOwnNotesFieldIsOffHasNoNotesCell)
{
    model::Project* site = project("Site");
    site->setNotes("project notes");
    periodTimer(site, january(5, 9), january(5, 10), "timer notes");

    EXPECT_EQ(Exporter::csvProjectRows(*site, allTimers(), {ExportField::timerNotes}),
              "Site;\n;Jan 5, 2024, 9:00\u202FAM;timer notes\n");
    EXPECT_EQ(Exporter::csvProjectRows(*site, allTimers(), {ExportField::projectNotes}),
              "Site;;project notes\n;Jan 5, 2024, 9:00\u202FAM\n");
}

TEST_F(CsvDocumentTest, DurationCellsAreFilledOnlyForTheSideWhoseFieldIsOn)
{
    model::Project* site = project("Site");
    periodTimer(site, january(5, 9), january(5, 11, 5), "");
    EXPECT_EQ(Exporter::csvProjectRows(*site, allTimers(), {ExportField::timerDuration}),
              "Site;;\n;Jan 5, 2024, 9:00\u202FAM;02:05\n");
    EXPECT_EQ(Exporter::csvProjectRows(*site, allTimers(), {ExportField::projectDuration}),
              "Site;;02:05\n;Jan 5, 2024, 9:00\u202FAM;\n");
}

TEST_F(CsvDocumentTest, FixedDurationsHaveNoEndAndShowTheirDuration)
{
    model::Project* site = project("Site");
    model::Timer* fixed = timer(site, model::TimerType::duration, january(7, 9), "");
    fixed->setFixedDuration(605);
    EXPECT_EQ(Exporter::csvTimerRow(*fixed, {ExportField::timerStartEnd, ExportField::timerDuration}),
              ";Jan 7, 2024, 9:00\u202FAM;;10:05");
    fixed->setStart(std::nullopt);
    EXPECT_EQ(Exporter::csvTimerRow(*fixed, {ExportField::timerBilled}), ";;0");
}

TEST_F(CsvDocumentTest, CellsThatWouldSplitTheRowAreQuotedAndTheRestStayBare)
{
    model::Project* site = project("A;B");
    auto* client = model::initInContext<model::Client>(*context_);
    client->setName("Quote \"Co\"");
    site->setClient(client);
    model::Timer* period = periodTimer(site, january(5, 9), january(5, 10), "one\ntwo");
    const ExportFields notes = {ExportField::timerNotes, ExportField::projectClientName};

    EXPECT_EQ(Exporter::csvProjectRows(*site, allTimers(), notes),
              "\"A;B (Quote \"\"Co\"\")\";\n;Jan 5, 2024, 9:00\u202FAM;\"one\ntwo\"\n");
    period->setNotes("carriage\rreturn");
    EXPECT_EQ(Exporter::csvTimerRow(*period, notes), ";Jan 5, 2024, 9:00\u202FAM;\"carriage\rreturn\"");
    period->setNotes("ends with;");
    EXPECT_EQ(Exporter::csvTimerRow(*period, notes), ";Jan 5, 2024, 9:00\u202FAM;\"ends with;\"");
    period->setNotes("plain, with 'commas' & <tags>");
    EXPECT_EQ(Exporter::csvTimerRow(*period, notes), ";Jan 5, 2024, 9:00\u202FAM;plain, with 'commas' & <tags>");
}

TEST_F(CsvDocumentTest, ExpensesLeaveTheirTimeAndRateCellsEmpty)
{
    model::Project* site = project("Site");
    site->setCustomHourlyRate(foundation::Decimal(80));
    model::Timer* expense = timer(site, model::TimerType::expense, january(6, 14), "");
    expense->setFixedCost(foundation::Decimal::parse("19.9"));
    EXPECT_EQ(Exporter::csvTimerRow(*expense, allFields()), ";Jan 6, 2024, 2:00\u202FPM;;;;;$19.90;0;");
}

} // namespace
