// PDF export of the fixture store read back by poppler-utils: page count and paper by locale, the
// text of the chosen fields only, every word inside the margins, the Notes column's width, line
// breaks and the embedded fallback font, long documents on several pages with each line written once;
// a file that cannot be made and a cancelled progress dialog leave nothing.
#include "export/exporter.h"

#include "export_fixture.h"

#include "support/scoped_environment.h"
#include "support/temp_folder.h"

#include <QApplication>
#include <QProgressDialog>
#include <QTimer>
#include <QWidget>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <regex>
#include <sstream>

using exports::Exporter;
using exports::ExportFields;
using testsupport::allTimers;
using testsupport::defaultFields;
using testsupport::january;
namespace fs = std::filesystem;

namespace {

std::string run(const std::string& command)
{
    std::string output;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return output;
    char buffer[65536];
    while (const std::size_t count = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, count);
    ::pclose(pipe);
    return output;
}

std::string pdfInfo(const fs::path& pdf)
{
    return run("pdfinfo '" + pdf.string() + "' 2>&1");
}

std::string pdfText(const fs::path& pdf)
{
    return run("pdftotext -enc UTF-8 '" + pdf.string() + "' - 2>&1");
}

int pageCount(const fs::path& pdf)
{
    std::smatch match;
    const std::string info = pdfInfo(pdf);
    if (!std::regex_search(info, match, std::regex("Pages:\\s+(\\d+)")))
        return -1;
    return std::stoi(match[1]);
}

std::vector<std::string> words(const std::string& text)
{
    std::istringstream stream(text);
    std::vector<std::string> all;
    for (std::string word; stream >> word;)
        all.push_back(word);
    return all;
}

struct WordBox {
    std::string text;
    double xMin, yMin, xMax, yMax, pageWidth, pageHeight;
};

// Every word of the PDF with its box and its page's size, from pdftotext -bbox.
std::vector<WordBox> wordBoxes(const fs::path& pdf)
{
    const std::string xhtml = run("pdftotext -bbox -enc UTF-8 '" + pdf.string() + "' - 2>/dev/null");
    std::vector<WordBox> boxes;
    const std::regex page("<page width=\"([0-9.]+)\" height=\"([0-9.]+)\">");
    const std::regex word(
        "<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"([0-9.]+)\" yMax=\"([0-9.]+)\">([^<]*)</word>");
    double width = 0, height = 0;
    std::istringstream lines(xhtml);
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (std::regex_search(line, match, page)) {
            width = std::stod(match[1]);
            height = std::stod(match[2]);
        } else if (std::regex_search(line, match, word)) {
            boxes.push_back({match[5], std::stod(match[1]), std::stod(match[2]), std::stod(match[3]),
                             std::stod(match[4]), width, height});
        }
    }
    return boxes;
}

std::vector<std::string> entries(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class PdfExportTest : public testsupport::ExportFixture {
protected:
    std::vector<model::Project*> projects_ = buildGoldenStore();
    testsupport::TempFolder folder_{"horavine-pdf"};
    fs::path pdf_ = folder_.path() / "projects.pdf";
};

TEST_F(PdfExportTest, OnePageOnTheLocalesPaperWithTheChosenTextInsideTheMargins)
{
    testsupport::ScopedEnvironment paper{{"LC_ALL", std::nullopt}, {"LC_PAPER", std::nullopt}};
    ::umask(022);
    ASSERT_TRUE(Exporter::printDocument(projects_, allTimers(), pdf_, defaultFields()).isOk());
    EXPECT_EQ(entries(folder_.path()), std::vector<std::string>{"projects.pdf"});
    struct stat status {};
    ASSERT_EQ(::stat(pdf_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0644u);

    const std::string info = pdfInfo(pdf_);
    EXPECT_EQ(pageCount(pdf_), 1) << info;
    EXPECT_NE(info.find("612 x 792 pts (letter)"), std::string::npos) << info;
    const std::string text = pdfText(pdf_);
    for (const char* shown : {"Website", "Kickoff", "Redesign", "ACME", "$340.00", "SUM"})
        EXPECT_NE(text.find(shown), std::string::npos) << shown << "\n" << text;
    // The notes hold markup and a placeholder; the PDF shows them as they are.
    EXPECT_NE(text.find("<b>bold</b> & %cost_sum%"), std::string::npos) << text;

    const std::vector<WordBox> boxes = wordBoxes(pdf_);
    ASSERT_GT(boxes.size(), 20u);
    for (const WordBox& box : boxes) {
        SCOPED_TRACE(box.text);
        EXPECT_GE(box.xMin, 35 - 1.0);
        EXPECT_LE(box.xMax, box.pageWidth - 35 + 1.0);
        EXPECT_GE(box.yMin, 45 - 1.0);
        EXPECT_LE(box.yMax, box.pageHeight - 35 + 1.0);
    }

    testsupport::ScopedEnvironment german{{"LC_PAPER", "de_DE.UTF-8"}};
    ASSERT_TRUE(Exporter::printDocument(projects_, allTimers(), pdf_, defaultFields()).isOk());
    EXPECT_NE(pdfInfo(pdf_).find("(A4)"), std::string::npos) << pdfInfo(pdf_);
    EXPECT_EQ(entries(folder_.path()), std::vector<std::string>{"projects.pdf"});
}

TEST_F(PdfExportTest, WithoutFieldsTheHiddenValuesAreNotInTheText)
{
    ASSERT_TRUE(Exporter::printDocument(projects_, allTimers(), pdf_, {}).isOk());
    const std::string text = pdfText(pdf_);
    EXPECT_NE(text.find("Website"), std::string::npos) << text;
    for (const char* hidden : {"Kickoff", "Redesign", "ACME", "$100.00", "$125.00"})
        EXPECT_EQ(text.find(hidden), std::string::npos) << hidden << "\n" << text;
}

TEST_F(PdfExportTest, ALongDocumentRunsOverSeveralPagesWritingEachLineOnce)
{
    model::Project* big = project("Big");
    for (int index = 1; index <= 2000; ++index)
        periodTimer(big, january(1, 0) + std::chrono::minutes(index), january(1, 0) + std::chrono::minutes(index + 1),
                    "T#" + std::to_string(index));
    // A note of more lines than a page holds runs on over the next pages between its lines.
    std::string tall;
    for (int line = 1; line <= 150; ++line)
        tall += "L#" + std::to_string(line) + "\n";
    periodTimer(big, january(3, 9), january(3, 10), tall);
    ASSERT_TRUE(Exporter::printDocument({big}, allTimers(), pdf_, defaultFields()).isOk());
    EXPECT_GT(pageCount(pdf_), 10);
    std::map<std::string, int> found;
    for (const std::string& word : words(pdfText(pdf_)))
        if (word.starts_with("T#") || word.starts_with("L#"))
            ++found[word];
    EXPECT_EQ(found.size(), 2150u);
    for (int index = 1; index <= 2000; ++index)
        EXPECT_EQ(found["T#" + std::to_string(index)], 1) << index;
    for (int line = 1; line <= 150; ++line)
        EXPECT_EQ(found["L#" + std::to_string(line)], 1) << line;
    for (const WordBox& box : wordBoxes(pdf_)) {
        ASSERT_GE(box.yMin, 45 - 1.0) << box.text;
        ASSERT_LE(box.yMax, box.pageHeight - 35 + 1.0) << box.text;
    }
}

TEST_F(PdfExportTest, NotesKeepTheirShareOfTheWidthBesideLargeAmountsAndLongDates)
{
    model::Project* big = project("Big");
    auto* client = model::initInContext<model::Client>(*context_);
    client->setName("Client");
    client->setCurrency(std::string("CHF"));
    big->setClient(client);
    big->setCustomHourlyRate(foundation::Decimal(999999));
    const std::string note = "Workshop with the whole team about the next release and its open questions";
    for (int day = 1; day <= 3; ++day) {
        model::Timer* period = periodTimer(big, january(day, 9), january(day + 20, 17, 45), note);
        pause(period, january(day, 10), january(day, 11, 30));
        period->setBilled(day == 2);
    }
    ASSERT_TRUE(Exporter::printDocument({big}, allTimers(), pdf_, testsupport::allFields()).isOk());

    const std::vector<WordBox> boxes = wordBoxes(pdf_);
    const auto header =
        std::find_if(boxes.begin(), boxes.end(), [](const WordBox& box) { return box.text == "Notes"; });
    ASSERT_NE(header, boxes.end());
    const double tableWidth = header->pageWidth - 2 * 35;
    // The Notes column begins where at least 35 % of the table's width is left, less its cell padding.
    EXPECT_LE(header->xMin, header->pageWidth - 35 - 0.35 * tableWidth + 4) << header->xMin;
    // Its words stay inside it and wrap there: the note's first word is in line with the header.
    for (const WordBox& box : boxes) {
        if (box.text == "Workshop") {
            EXPECT_NEAR(box.xMin, header->xMin, 1.0);
        }
    }
}

TEST_F(PdfExportTest, LineBreaksOfEveryKindAreOneBreakAndMissingGlyphsComeFromAnEmbeddedFont)
{
    // A unicorn (U+1F984): DejaVu has no glyph for it.
    model::Project* notes = project("Notes \U0001F984 \u2714");
    periodTimer(notes, january(2, 9), january(2, 10), "crlf one\r\ncrlf two\rcrlf three\ncrlf four");
    ASSERT_TRUE(Exporter::printDocument({notes}, allTimers(), pdf_, defaultFields()).isOk());

    std::vector<double> tops;
    for (const WordBox& box : wordBoxes(pdf_))
        if (box.text == "crlf")
            tops.push_back(box.yMin);
    ASSERT_EQ(tops.size(), 4u);
    // One line apart each, the same distance for CR LF, CR and LF.
    for (std::size_t index = 1; index < tops.size(); ++index)
        EXPECT_NEAR(tops[index] - tops[index - 1], tops[1] - tops[0], 0.5) << index;
    EXPECT_LT(tops[1] - tops[0], 20.0);

    // The emoji DejaVu lacks is drawn from the fallback font, which is embedded like DejaVu.
    const std::string fonts = run("pdffonts '" + pdf_.string() + "' 2>&1");
    EXPECT_NE(fonts.find("Symbola"), std::string::npos) << fonts;
    std::istringstream lines(fonts);
    int listed = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.find("DejaVu") != std::string::npos || line.find("Symbola") != std::string::npos) {
            ++listed;
            EXPECT_TRUE(std::regex_search(line, std::regex(" yes +(yes|no) +yes "))) << line; // embedded, mapped
        }
    }
    EXPECT_GE(listed, 2) << fonts;
    EXPECT_NE(pdfText(pdf_).find("Notes"), std::string::npos) << pdfText(pdf_);
}

TEST_F(PdfExportTest, AFolderThatDoesNotExistGivesTheReasonAndNoFile)
{
    testing::internal::CaptureStderr();
    const foundation::Status status =
        Exporter::printDocument(projects_, allTimers(), folder_.path() / "missing" / "out.pdf", defaultFields());
    const std::string console = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(status.isOk());
    EXPECT_EQ(status.code(), foundation::StatusCode::ioError);
    EXPECT_FALSE(status.message().empty());
    EXPECT_NE(console.find("ERROR: could not export"), std::string::npos) << console;
    EXPECT_TRUE(entries(folder_.path()).empty());
}

TEST_F(PdfExportTest, CancelInTheProgressDialogLeavesNoFileAndTheOldOneAsItWas)
{
    model::Project* big = project("Big");
    for (int index = 1; index <= 300; ++index)
        periodTimer(big, january(1, 0) + std::chrono::minutes(index), january(1, 0) + std::chrono::minutes(index + 1),
                    "T#" + std::to_string(index));
    std::FILE* old = std::fopen(pdf_.c_str(), "w");
    std::fputs("last week's PDF", old);
    std::fclose(old);
    QWidget window;
    window.show();
    bool cancelled = false;
    // The progress dialog lets events through between pages: the user presses Cancel then.
    QTimer::singleShot(0, [&] {
        if (auto* progress = window.findChild<QProgressDialog*>(QStringLiteral("exportProgress"))) {
            EXPECT_EQ(progress->windowModality(), Qt::WindowModal);
            progress->cancel();
            cancelled = true;
        }
    });
    EXPECT_TRUE(Exporter::printDocument({big}, allTimers(), pdf_, defaultFields(), &window).isOk());
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(entries(folder_.path()), std::vector<std::string>{"projects.pdf"});
    EXPECT_EQ(pdfText(pdf_).find("T#1"), std::string::npos);
    EXPECT_TRUE(run("cat '" + pdf_.string() + "'") == "last week's PDF");
}

} // namespace
