// The export vocabulary: format raw values and extensions, field raw strings, the order in which
// chosen fields are stored, and what survives a stored list with strays.
#include "export/export_format.h"

#include <gtest/gtest.h>

using namespace exports;

namespace {

TEST(ExportFormatTest, RawValuesAreTheMenuTagsAndOnlyOneToFourNameAFormat)
{
    for (ExportFormat format : {ExportFormat::text, ExportFormat::csv, ExportFormat::html, ExportFormat::pdf})
        EXPECT_EQ(exportFormatFromRawValue(rawValue(format)), format);
    EXPECT_EQ(rawValue(ExportFormat::text), 1);
    EXPECT_EQ(rawValue(ExportFormat::pdf), 4);
    EXPECT_EQ(exportFormatFromRawValue(0), std::nullopt);
    EXPECT_EQ(exportFormatFromRawValue(5), std::nullopt);
    EXPECT_EQ(exportFormatFromRawValue(-1), std::nullopt);
    EXPECT_EQ(fileExtension(ExportFormat::text), "txt");
    EXPECT_EQ(fileExtension(ExportFormat::csv), "csv");
    EXPECT_EQ(fileExtension(ExportFormat::html), "html");
    EXPECT_EQ(fileExtension(ExportFormat::pdf), "pdf");
}

TEST(ExportFieldTest, RawStringsRoundTripExactlyAndNothingElseNamesAField)
{
    for (ExportField field : allExportFields())
        EXPECT_EQ(exportFieldFromRawValue(rawValue(field)), field) << rawValue(field);
    EXPECT_EQ(rawValue(ExportField::timerStartEnd), "timer_start_end");
    EXPECT_EQ(rawValue(ExportField::projectClientName), "project_client_name");
    EXPECT_EQ(exportFieldFromRawValue("Timer_Notes"), std::nullopt);
    EXPECT_EQ(exportFieldFromRawValue("timer_notes "), std::nullopt);
    EXPECT_EQ(exportFieldFromRawValue(""), std::nullopt);
}

TEST(ExportFieldTest, ChosenFieldsAreStoredWithStartEndBeforeDuration)
{
    const auto& order = selectedFieldsOrder();
    std::vector<std::string> raws;
    for (ExportField field : order)
        raws.emplace_back(rawValue(field));
    EXPECT_EQ(raws, (std::vector<std::string>{"project_duration", "project_client_name", "project_hourly_rate",
                                              "project_notes", "timer_start_end", "timer_duration", "timer_pause",
                                              "timer_hourly_rate", "timer_cost", "timer_billed", "timer_notes"}));
}

TEST(ExportFieldTest, StrayStringsInAStoredListAreDroppedAndTheRestKept)
{
    const ExportFields fields = exportFieldsFromRawValues({"timer_notes", "bogus", "project_duration"});
    EXPECT_EQ(fields, (ExportFields{ExportField::timerNotes, ExportField::projectDuration}));
    EXPECT_EQ(rawValues(fields), (std::vector<std::string>{"timer_notes", "project_duration"}));

    const ExportFieldSet set(fields);
    EXPECT_TRUE(set.contains(ExportField::timerNotes));
    EXPECT_TRUE(set.contains(ExportField::projectDuration));
    EXPECT_FALSE(set.contains(ExportField::timerDuration));
    EXPECT_FALSE(ExportFieldSet().contains(ExportField::projectDuration));
}

} // namespace
