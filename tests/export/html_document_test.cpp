// The HTML page of the fixture store: golden files for the field sets and filters of the other
// documents, each read back by Python's html.parser (tags balance, no placeholder left); escaping of
// inserted values, the cells an unchosen field hides, and what Qt's rich text reads from the page.
#include "export/exporter.h"
#include "export/html_templates.h"

#include "export_fixture.h"

#include <nlohmann/json.hpp>

#include <QString>
#include <QTextDocument>

#include <cstdio>

using exports::Exporter;
using exports::ExportField;
using exports::ExportFields;
using testsupport::allFields;
using testsupport::allTimers;
using testsupport::defaultFields;
using testsupport::january;

namespace {

bool contains(const std::string& text, const std::string& piece)
{
    return text.find(piece) != std::string::npos;
}

std::size_t occurrences(const std::string& text, const std::string& piece)
{
    std::size_t count = 0;
    for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size()))
        ++count;
    return count;
}

// The page as html.parser reads it: {"errors", "placeholders", "elements": [{"tag", "classes", "text"}]}.
nlohmann::json readBack(const std::string& page)
{
    char name[] = "/tmp/horavine-html-XXXXXX";
    const int descriptor = ::mkstemp(name);
    if (descriptor < 0)
        return nullptr;
    std::FILE* file = ::fdopen(descriptor, "wb");
    std::fwrite(page.data(), 1, page.size(), file);
    std::fclose(file);
    const std::string script = std::string(HORAVINE_EXPORT_GOLDEN_DIR) + "/../html_readback.py";
    std::FILE* pipe = ::popen(("python3 '" + script + "' '" + name + "'").c_str(), "r");
    std::string output;
    if (pipe) {
        char buffer[65536];
        while (const std::size_t count = std::fread(buffer, 1, sizeof buffer, pipe))
            output.append(buffer, count);
        if (::pclose(pipe) != 0)
            output.clear();
    }
    std::remove(name);
    return nlohmann::json::parse(output, nullptr, false);
}

bool hasClass(const nlohmann::json& element, const std::string& word)
{
    for (const auto& value : element["classes"])
        if (value == word)
            return true;
    return false;
}

// The cells of the table row whose date or notes cell reads `text` (the row's <td> elements in order).
std::vector<nlohmann::json> rowCells(const nlohmann::json& elements, const std::string& text)
{
    std::vector<nlohmann::json> cells;
    for (const auto& element : elements) {
        if (element["tag"] == "tr") {
            if (cells.size() == 7
                && std::any_of(cells.begin(), cells.end(), [&](const auto& cell) { return cell["text"] == text; }))
                return cells;
            cells.clear();
        } else if (element["tag"] == "td") {
            cells.push_back(element);
        }
    }
    if (std::any_of(cells.begin(), cells.end(), [&](const auto& cell) { return cell["text"] == text; }))
        return cells;
    return {};
}

class HtmlDocumentTest : public testsupport::ExportFixture {
protected:
    std::vector<model::Project*> projects_ = buildGoldenStore();

    // The page is sound HTML without a placeholder of the templates left.
    static nlohmann::json expectWellFormed(const std::string& page)
    {
        const nlohmann::json read = readBack(page);
        EXPECT_TRUE(read.is_object()) << "python3 could not read the page";
        if (!read.is_object())
            return nlohmann::json::object({{"elements", nlohmann::json::array()}});
        EXPECT_TRUE(read["errors"].empty()) << read["errors"].dump();
        EXPECT_TRUE(read["placeholders"].empty()) << read["placeholders"].dump();
        return read;
    }
};

TEST_F(HtmlDocumentTest, PagesMatchTheirGoldenFilesAndReadBackBalanced)
{
    model::Filter fromSixth = allTimers();
    fromSixth.fromDate = january(6, 0);
    fromSixth.toDate = january(31, 23, 59) + std::chrono::seconds(59);
    model::Filter withoutBilled = allTimers();
    withoutBilled.includeBilledTimers = false;
    const std::vector<std::pair<std::string, std::string>> pages = {
        {"html_default.html", Exporter::htmlDocument(projects_, allTimers(), defaultFields())},
        {"html_all_fields.html", Exporter::htmlDocument(projects_, allTimers(), allFields())},
        {"html_no_fields.html", Exporter::htmlDocument(projects_, allTimers(), {})},
        {"html_from_january_6.html", Exporter::htmlDocument(projects_, fromSixth, defaultFields())},
        {"html_without_billed.html", Exporter::htmlDocument(projects_, withoutBilled, defaultFields())},
    };
    for (const auto& [name, page] : pages) {
        SCOPED_TRACE(name);
        expectGolden(name, page);
        const nlohmann::json read = expectWellFormed(page);
        EXPECT_TRUE(contains(page, "<meta charset=\"utf-8\">"));
        // Each of the three projects has its sum row.
        std::size_t sums = 0;
        for (const auto& element : read["elements"])
            sums += element["tag"] == "td" && element["text"] == "SUM";
        EXPECT_EQ(sums, 3u);
    }
    const std::string& defaults = pages[0].second;
    EXPECT_TRUE(contains(defaults, ">Website</h2>"));
    EXPECT_TRUE(contains(defaults, ">Client: ACME</p>"));
    EXPECT_TRUE(contains(defaults, ">Hourly Rate: $100.00</p>"));
    EXPECT_TRUE(contains(defaults, "<td class=\"duration \">03h 00m</td>"));
    EXPECT_TRUE(contains(defaults, "<td class=\"amount \">$340.00</td>"));
    // The euro project's amounts carry its own currency.
    EXPECT_TRUE(contains(defaults, ">Hourly Rate: \u20AC0.00</p>"));
    // Filtered: Kickoff (January 5) is gone, the sums cover what is left.
    EXPECT_FALSE(contains(pages[3].second, "Kickoff"));
    EXPECT_TRUE(contains(pages[3].second, "<td class=\"duration \">01h 45m</td>"));
    EXPECT_FALSE(contains(pages[4].second, "Review"));
}

TEST_F(HtmlDocumentTest, InsertedNotesAreEscapedSoTheyStayTextAndFillNoPlaceholder)
{
    const std::string page = Exporter::htmlDocument(projects_, allTimers(), allFields());
    EXPECT_TRUE(contains(page, "&lt;b&gt;bold&lt;/b&gt; &amp; &#37;cost_sum&#37;"));
    EXPECT_FALSE(contains(page, "<b>bold"));
    EXPECT_TRUE(contains(page, "Review; round 2 &quot;final&quot;"));
    expectWellFormed(page);

    // Qt's rich text reads them back exactly as stored.
    QTextDocument document;
    document.setHtml(QString::fromStdString(page));
    const std::string plain = document.toPlainText().toStdString();
    EXPECT_TRUE(contains(plain, "<b>bold</b> & %cost_sum%"));
    EXPECT_TRUE(contains(plain, "Review; round 2 \"final\""));
    EXPECT_TRUE(contains(plain, "Caf\u00E9 \u2615") || contains(plain, "Cafe\u0301 \u2615"));
    EXPECT_EQ(occurrences(plain, "SUM"), 3u);
}

TEST_F(HtmlDocumentTest, AnUnchosenFieldHidesItsCellsAndNoneAreHiddenWithAllFields)
{
    const nlohmann::json onlyNotes =
        expectWellFormed(Exporter::htmlDocument(projects_, allTimers(), {ExportField::timerNotes}));
    const std::vector<nlohmann::json> kickoff = rowCells(onlyNotes["elements"], "Kickoff");
    ASSERT_EQ(kickoff.size(), 7u);
    EXPECT_FALSE(hasClass(kickoff[0], "hidden")); // date
    EXPECT_TRUE(hasClass(kickoff[1], "hidden"));  // duration: neither duration field
    EXPECT_TRUE(hasClass(kickoff[4], "hidden"));  // cost
    EXPECT_EQ(kickoff[4]["text"], "$125.00");     // still filled, hidden by the style sheet only
    EXPECT_FALSE(hasClass(kickoff[6], "hidden")); // notes
    EXPECT_EQ(kickoff[6]["text"], "Kickoff");

    const nlohmann::json all = expectWellFormed(Exporter::htmlDocument(projects_, allTimers(), allFields()));
    std::size_t hiddenElements = 0;
    for (const auto& element : all["elements"])
        hiddenElements += hasClass(element, "hidden");
    EXPECT_EQ(hiddenElements, 0u);
    const std::vector<nlohmann::json> review = rowCells(all["elements"], "Review; round 2 \"final\"");
    ASSERT_EQ(review.size(), 7u);
    EXPECT_EQ(review[1]["text"], "01h 45m");
    EXPECT_EQ(review[2]["text"], "00h 15m");
    EXPECT_EQ(review[3]["text"], "$100.00");
    EXPECT_EQ(review[4]["text"], "$175.00");
    EXPECT_EQ(review[5]["text"], "\u2714\uFE0E");
}

TEST_F(HtmlDocumentTest, NoProjectsGiveTheTemplateWithTheStyleSheetAndNothingForTheProjects)
{
    const exports::HtmlTemplates& templates = exports::HtmlTemplates::shared();
    ASSERT_FALSE(templates.css.empty());
    const std::string page = Exporter::htmlDocument({}, allTimers(), allFields());
    std::string expected = templates.page;
    expected.replace(expected.find("%css%"), 5, templates.css);
    expected.replace(expected.find("%projects%"), 10, "");
    EXPECT_EQ(page, expected);
    expectWellFormed(page);
}

TEST_F(HtmlDocumentTest, TheTemplatesHoldWhatTheContractAsksOfThem)
{
    const exports::HtmlTemplates& templates = exports::HtmlTemplates::shared();
    EXPECT_TRUE(contains(templates.page, "<meta charset=\"utf-8\">"));
    EXPECT_TRUE(contains(templates.page, "<style>\n%css%\n</style>"));
    EXPECT_LT(templates.page.find("%css%"), templates.page.find("</head>"));
    EXPECT_GT(templates.page.find("%projects%"), templates.page.find("<body>"));
    for (const char* cell : {"%duration_hidden%", "%timer_pause_hidden%", "%timer_hourly_rate_hidden%",
                             "%timer_cost_hidden%", "%timer_billed_hidden%", "%timer_notes_hidden%"}) {
        // Header, sum row and every timer row.
        EXPECT_EQ(occurrences(templates.project, cell), 2u) << cell;
        EXPECT_EQ(occurrences(templates.timer, cell), 1u) << cell;
    }
    for (const char* timerPlaceholder :
         {"%date%", "%notes%", "%duration%", "%pause%", "%cost%", "%hourly_rate%", "%billed%"})
        EXPECT_EQ(occurrences(templates.timer, timerPlaceholder), 1u) << timerPlaceholder;
    EXPECT_TRUE(contains(templates.css, ".hidden { display: none; }"));
    EXPECT_TRUE(contains(templates.css, "white-space: pre-wrap"));
    EXPECT_TRUE(contains(templates.css, "white-space: nowrap"));
}

TEST_F(HtmlDocumentTest, ProjectBlocksAndRowsFollowTheirValueRules)
{
    // No fields: the duration sum is empty, the cost sum, rate, notes and pauses are still there.
    const std::string none = Exporter::htmlProjectFragment(*website_, allTimers(), {});
    EXPECT_TRUE(contains(none, "<td class=\"duration hidden\"></td>\n<td class=\"pause hidden\"></td>"));
    EXPECT_TRUE(contains(none, "<td class=\"amount hidden\">$340.00</td>"));
    EXPECT_TRUE(contains(none, "<p class=\"notes hidden\">Redesign</p>"));
    EXPECT_TRUE(contains(none, "<td class=\"pause hidden\">00h 15m</td>"));

    // Only the timers' duration: the column stays, the sum stays empty.
    const std::string timerDuration =
        Exporter::htmlProjectFragment(*website_, allTimers(), {ExportField::timerDuration});
    EXPECT_TRUE(contains(timerDuration, "<td class=\"duration \">01h 15m</td>"));
    EXPECT_TRUE(contains(timerDuration, "<td class=\"date\">SUM</td>\n<td class=\"duration \"></td>"));

    // An expense: its date only, no duration, pause or rate, its amount.
    const std::string expense = Exporter::htmlTimerFragment(*expense_, allFields());
    EXPECT_TRUE(contains(expense, "<td class=\"date\">Jan 6, 2024</td>"));
    EXPECT_TRUE(contains(expense, "<td class=\"duration %duration_hidden%\"></td>"));
    EXPECT_TRUE(contains(expense, "<td class=\"pause %timer_pause_hidden%\"></td>"));
    EXPECT_TRUE(contains(expense, "<td class=\"amount %timer_hourly_rate_hidden%\"></td>"));
    EXPECT_TRUE(contains(expense, "<td class=\"amount %timer_cost_hidden%\">$40.00</td>"));
    // A cost of zero shows nothing.
    const std::string fixed = Exporter::htmlTimerFragment(*fixed_, allFields());
    EXPECT_TRUE(contains(fixed, "<td class=\"amount %timer_cost_hidden%\"></td>"));

    // A project without timers in the filter: "00h 00m" and the money text of zero.
    model::Filter later = allTimers();
    later.fromDate = january(20, 0);
    const std::string emptyBlock = Exporter::htmlProjectFragment(*website_, later, defaultFields());
    EXPECT_TRUE(contains(emptyBlock, "<tbody>\n\n<tr class=\"sum\">"));
    EXPECT_TRUE(contains(emptyBlock, ">00h 00m</td>"));
    EXPECT_TRUE(contains(emptyBlock, "<td class=\"amount \">$0.00</td>"));
}

TEST_F(HtmlDocumentTest, ARunningTimerEndsAtTheCurrentMinute)
{
    model::Project* live = project("Live");
    model::Timer* running = periodTimer(live, january(10, 11), january(10, 11), "");
    running->setEnd(std::nullopt);
    clock_->set(january(10, 12) + std::chrono::seconds(42));
    const std::string page = Exporter::htmlDocument({live}, allTimers(), defaultFields());
    expectGolden("html_running.html", page);
    EXPECT_TRUE(contains(page, "<td class=\"date\">1/10/24, 11:00\u202FAM\u2009\u2013\u200912:00\u202FPM</td>"));
    expectWellFormed(page);
}

} // namespace
