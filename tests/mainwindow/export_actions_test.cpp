// Export from the main window: the File menu's items, the sheet and the save dialog answered by the
// modal test hook, the written file against the builder's document, and a write that fails part way.
#include "mainwindow/main_split_view_controller.h"
#include "mainwindow/main_window_controller.h"
#include "mainwindow/projects_view_controller.h"

#include "export/export_view_controller.h"
#include "export/exporter.h"

#include "model/preferences.h"

#include "kits/analytics/event_controller.h"
#include "kits/analytics/tally.h"
#include "support/scoped_environment.h"
#include "support/scoped_file_limits.h"
#include "ui/modal_test_hook.h"

#include "store_fixture.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPointer>
#include <QPrinter>
#include <QPushButton>
#include <QTest>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace mainwindow;
using exports::ExportFormat;
using testsupport::march;
namespace fs = std::filesystem;

namespace {

std::string contents(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::string> entries(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string pdfText(const fs::path& pdf)
{
    std::string output;
    std::FILE* pipe = ::popen(("pdftotext -enc UTF-8 '" + pdf.string() + "' - 2>/dev/null").c_str(), "r");
    if (!pipe)
        return output;
    char buffer[4096];
    while (const std::size_t count = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, count);
    ::pclose(pipe);
    return output;
}

// The "format" attribute of every "Start export" event recorded.
std::vector<std::string> startExportEvents(const kits::TLYRecordingEventController& events)
{
    std::vector<std::string> formats;
    for (const auto& event : events.events())
        if (const auto* custom = dynamic_cast<const kits::TLYCustomEvent*>(event.get()))
            if (custom->customEventName() == "Start export")
                formats.push_back(std::get<std::string>(*custom->customAttributes().find("format")));
    return formats;
}

std::size_t occurrences(const std::string& text, const std::string& piece)
{
    std::size_t count = 0;
    for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size()))
        ++count;
    return count;
}

class ExportActionsTest : public testsupport::StoreFixture {
protected:
    ExportActionsTest()
    {
        model::Preferences preferences(*defaults_);
        preferences.setDateFilterRange(model::rawValue(model::DateFilterRange::week));
        preferences.setExportFields(model::Preferences::defaultExportFields());
        website_->setCustomHourlyRate(foundation::Decimal(90));
        periodTimer(website_, march(4, 9), 95, "Kickoff; \"phase 1\"");
        expenseTimer(website_, march(5, 14), "12.5", "Train");
        periodTimer(project("Garden"), march(6, 8), 30, "Hedge");
        context_->processPendingChanges();
        hook_.answerSheet = [](const ui::PresentedSheet&) {
            return std::optional<ui::ModalResponse>(ui::modalResponseOK);
        };
        hook_.answerFileDialog = [this](const ui::PresentedFileDialog&) {
            return std::optional<QStringList>(QStringList{QString::fromStdString((folder() / "out").string())});
        };
    }

    fs::path folder() const { return fs::path(folder_.path().toStdString()) / "exports"; }
    fs::path documents() const { return fs::path(folder_.path().toStdString()) / "Documents"; }
    ProjectsViewController& projects() { return *window_.splitViewController()->projectsViewController(); }
    exports::ExportFields storedFields()
    {
        return exports::exportFieldsFromRawValues(model::Preferences(*defaults_).exportFields());
    }
    // Lets the hook answer the sheet, then the save dialog, each on its own later turn.
    static void answerEverything()
    {
        for (int turn = 0; turn < 5; ++turn)
            QApplication::processEvents();
    }

    model::Project* website_ = project("Website");
    testsupport::ScopedEnvironment documentsFolder_{{"XDG_DOCUMENTS_DIR", documents().string()}};
    ui::ModalTestHook hook_;
    MainWindowController window_{context_.get(), *defaults_};
    bool folderMade_ = fs::create_directory(folder());
};

TEST_F(ExportActionsTest, TheFileMenuOffersEveryFormatWithItsTagAndPrint)
{
    for (ExportFormat format : {ExportFormat::text, ExportFormat::csv, ExportFormat::html, ExportFormat::pdf}) {
        QAction* item = window_.exportAction(format);
        EXPECT_EQ(item->data().toLongLong(), exports::rawValue(format));
        EXPECT_TRUE(item->isEnabled());
    }
    EXPECT_TRUE(window_.printAction()->isEnabled());
    // Validation after a selection change leaves them as they are.
    window_.validateMenuItems();
    EXPECT_TRUE(window_.exportAction(ExportFormat::csv)->isEnabled());
}

TEST_F(ExportActionsTest, CsvItemWritesTheBuildersDocumentUnderTheNameWithItsExtension)
{
    testsupport::ScopedUmask mask(022);
    projects().dateFilterRangeChanged(); // the week stored by the fixture
    window_.exportAction(ExportFormat::csv)->trigger();
    answerEverything();

    ASSERT_EQ(hook_.sheets.size(), 1u);
    ASSERT_EQ(hook_.fileDialogs.size(), 1u);
    EXPECT_TRUE(hook_.fileDialogs[0].save);
    EXPECT_EQ(hook_.fileDialogs[0].allowedFileTypes, QStringList{"csv"});
    // The listed week (from Sunday 3 March) in Documents, whatever folder another picker used last.
    EXPECT_EQ(hook_.fileDialogs[0].nameFieldStringValue, "Week 2024-03-03.csv");
    EXPECT_EQ(hook_.fileDialogs[0].directory.toStdString(), documents().string());
    const fs::path written = folder() / "out.csv";
    EXPECT_EQ(entries(folder()), std::vector<std::string>{"out.csv"});
    const std::string expected =
        exports::Exporter::csvDocument(projects().projects(), projects().filter(), storedFields());
    EXPECT_EQ(contents(written), expected);
    // The week's listed timers, the quoted note among them.
    EXPECT_NE(expected.find("\"Kickoff; \"\"phase 1\"\"\""), std::string::npos) << expected;
    struct stat status {};
    ASSERT_EQ(::stat(written.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0644u);
    EXPECT_TRUE(hook_.alerts.empty());

    // The next export opens where this one went; with everything listed it proposes "All" and today.
    model::Preferences(*defaults_).setDateFilterRange(model::rawValue(model::DateFilterRange::all));
    projects().dateFilterRangeChanged();
    window_.exportAction(ExportFormat::pdf)->trigger();
    answerEverything();
    ASSERT_EQ(hook_.fileDialogs.size(), 2u);
    EXPECT_EQ(hook_.fileDialogs[1].nameFieldStringValue, "All 2024-03-06.pdf");
    EXPECT_EQ(hook_.fileDialogs[1].directory.toStdString(), folder().string());
}

TEST_F(ExportActionsTest, HtmlItemWritesThePageOfTheListedProjects)
{
    window_.exportAction(ExportFormat::html)->trigger();
    answerEverything();

    ASSERT_EQ(hook_.fileDialogs.size(), 1u);
    EXPECT_EQ(hook_.fileDialogs[0].allowedFileTypes, QStringList{"html"});
    const std::string page = contents(folder() / "out.html");
    EXPECT_EQ(page, exports::Exporter::htmlDocument(projects().projects(), projects().filter(), storedFields()));
    EXPECT_NE(page.find("Kickoff; &quot;phase 1&quot;"), std::string::npos) << page;
    EXPECT_TRUE(hook_.alerts.empty());
}

TEST_F(ExportActionsTest, PdfItemWritesThePagesOfTheListedProjects)
{
    window_.exportAction(ExportFormat::pdf)->trigger();
    answerEverything();

    ASSERT_EQ(hook_.fileDialogs.size(), 1u);
    EXPECT_EQ(hook_.fileDialogs[0].allowedFileTypes, QStringList{"pdf"});
    EXPECT_EQ(entries(folder()), std::vector<std::string>{"out.pdf"});
    const std::string text = pdfText(folder() / "out.pdf");
    EXPECT_NE(text.find("Kickoff; \"phase 1\""), std::string::npos) << text;
    EXPECT_NE(text.find("Website"), std::string::npos) << text;
    EXPECT_TRUE(hook_.alerts.empty());
}

TEST_F(ExportActionsTest, APdfIntoAMissingFolderIsOneAlertAndNoFile)
{
    hook_.answerFileDialog = [this](const ui::PresentedFileDialog&) {
        return std::optional<QStringList>(QStringList{QString::fromStdString((folder() / "gone" / "out").string())});
    };
    testing::internal::CaptureStderr();
    window_.exportAction(ExportFormat::pdf)->trigger();
    answerEverything();
    const std::string console = testing::internal::GetCapturedStderr();

    EXPECT_TRUE(fs::is_empty(folder()));
    EXPECT_EQ(occurrences(console, "horavine: ERROR: could not export\n"), 1u) << console;
    ASSERT_EQ(hook_.alerts.size(), 1u);
    EXPECT_EQ(hook_.alerts[0].alert.messageText, "The export could not be saved.");
    EXPECT_FALSE(hook_.alerts[0].alert.informativeText.isEmpty());
}

TEST_F(ExportActionsTest, PrintGoesThroughThePrintDialogToThePrinterItSetsUp)
{
    auto events = std::make_shared<kits::TLYRecordingEventController>();
    kits::Tally::setEventControllerForTesting(events);
    const fs::path printed = folder() / "printed.pdf";
    hook_.answerPrintPanel = [&printed](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(printed.string()));
        return true;
    };
    window_.printAction()->trigger();
    answerEverything();

    ASSERT_EQ(hook_.sheets.size(), 1u);
    auto* sheet = qobject_cast<exports::ExportViewController*>(hook_.sheets[0].sheet.data());
    EXPECT_TRUE(!sheet || sheet->isPrintDialog());
    EXPECT_EQ(hook_.printPanels.size(), 1u);
    EXPECT_TRUE(hook_.fileDialogs.empty());
    const std::string text = pdfText(printed);
    EXPECT_NE(text.find("Kickoff; \"phase 1\""), std::string::npos) << text;
    EXPECT_EQ(startExportEvents(*events), std::vector<std::string>{"pdf"});

    // Cancelled: nothing printed, nothing said, the sheet's event still counted.
    hook_.answerPrintPanel = [](QPrinter&) { return false; };
    fs::remove(printed);
    window_.printAction()->trigger();
    answerEverything();
    EXPECT_EQ(hook_.printPanels.size(), 2u);
    EXPECT_EQ(entries(folder()), std::vector<std::string>{});
    EXPECT_TRUE(hook_.alerts.empty());
    EXPECT_EQ(startExportEvents(*events), (std::vector<std::string>{"pdf", "pdf"}));
    kits::Tally::setEventControllerForTesting(nullptr);
}

TEST_F(ExportActionsTest, TheFormatChosenInTheSheetDecidesTheFileTypeAndTheDocument)
{
    hook_.answerSheet = [](const ui::PresentedSheet&) { return std::optional<ui::ModalResponse>(); };
    // A tag that names no format starts on text.
    projects().exportProjects(99);
    QApplication::processEvents();
    ASSERT_EQ(hook_.sheets.size(), 1u);
    auto* sheet = qobject_cast<exports::ExportViewController*>(hook_.sheets[0].sheet.data());
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->format(), ExportFormat::text);
    EXPECT_TRUE(sheet->isVisible());

    sheet->exportTypeSegment(ExportFormat::csv)->click();
    sheet->exportButton()->click();
    answerEverything();
    ASSERT_EQ(hook_.fileDialogs.size(), 1u);
    EXPECT_EQ(hook_.fileDialogs[0].allowedFileTypes, QStringList{"csv"});
    EXPECT_EQ(contents(folder() / "out.csv"),
              exports::Exporter::csvDocument(projects().projects(), projects().filter(), storedFields()));

    projects().exportProjects(exports::rawValue(ExportFormat::pdf));
    QApplication::processEvents();
    ASSERT_EQ(hook_.sheets.size(), 2u);
    EXPECT_EQ(qobject_cast<exports::ExportViewController*>(hook_.sheets[1].sheet.data())->format(), ExportFormat::pdf);
}

TEST_F(ExportActionsTest, CancellingTheSaveDialogOrTheSheetWritesNothing)
{
    hook_.answerFileDialog = [](const ui::PresentedFileDialog&) { return std::optional<QStringList>(); };
    window_.exportAction(ExportFormat::text)->trigger();
    answerEverything();
    EXPECT_EQ(hook_.fileDialogs.size(), 1u);

    hook_.answerSheet = [](const ui::PresentedSheet&) {
        return std::optional<ui::ModalResponse>(ui::modalResponseCancel);
    };
    window_.exportAction(ExportFormat::text)->trigger();
    answerEverything();
    EXPECT_EQ(hook_.fileDialogs.size(), 1u);
    EXPECT_TRUE(fs::is_empty(folder()));
    EXPECT_TRUE(hook_.alerts.empty());
}

TEST_F(ExportActionsTest, AWriteFailingPartWayKeepsTheOldFileAndTellsTheUserOnce)
{
    // Enough timers in this week for a document beyond the limit; the settings file stays below it.
    for (int i = 0; i < 200; ++i)
        periodTimer(website_, march(4, 10) + std::chrono::minutes(i), 1, "Entry " + std::to_string(i));
    context_->processPendingChanges();
    const fs::path existing = folder() / "out.txt";
    const std::string old = "last week's export\n";
    std::ofstream(existing, std::ios::binary) << old;

    testing::internal::CaptureStderr();
    {
        testsupport::ScopedFileSizeLimit limit(4096);
        window_.exportAction(ExportFormat::text)->trigger();
        answerEverything();
    }
    const std::string console = testing::internal::GetCapturedStderr();

    EXPECT_EQ(contents(existing), old);
    EXPECT_EQ(entries(folder()), std::vector<std::string>{"out.txt"});
    EXPECT_EQ(occurrences(console, "horavine: ERROR: could not export\n"), 1u) << console;
    ASSERT_EQ(hook_.alerts.size(), 1u);
    EXPECT_EQ(hook_.alerts[0].alert.messageText, "The export could not be saved.");
    EXPECT_EQ(hook_.alerts[0].alert.informativeText, "File too large");
    EXPECT_TRUE(hook_.alerts[0].windowModal);
}

// Export as a user does it: the real sheet and save dialog, answered with the keyboard, no test hook.
class ExportThroughTheDialogsTest : public testsupport::StoreFixture {
protected:
    ExportThroughTheDialogsTest()
    {
        model::Preferences(*defaults_).setExportFields(model::Preferences::defaultExportFields());
        model::Project* website = project("Website");
        // Enough rows for several pages, so the progress dialog lets events through between them.
        for (int i = 0; i < 150; ++i)
            periodTimer(website, march(4, 9) + std::chrono::minutes(i), 1, "Entry " + std::to_string(i));
        context_->processPendingChanges();
        model::Preferences(*defaults_).setDateFilterRange(model::rawValue(model::DateFilterRange::all));
        window_.splitViewController()->projectsViewController()->dateFilterRangeChanged();
        window_.show();
    }

    // The visible top-level widget of type T (a hidden one may still wait for its deletion).
    template <typename T>
    static T* shown()
    {
        T* found = nullptr;
        (void)QTest::qWaitFor([&found] {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* candidate = qobject_cast<T*>(widget); candidate && candidate->isVisible())
                    found = candidate;
            return found != nullptr;
        });
        return found;
    }
    static bool anyShown(const char* className)
    {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->inherits(className) && widget->isVisible())
                return true;
        return false;
    }

    fs::path documents() const { return fs::path(folder_.path().toStdString()) / "Documents"; }
    bool documentsMade_ = fs::create_directory(documents());
    testsupport::ScopedEnvironment documentsFolder_{{"XDG_DOCUMENTS_DIR", documents().string()}};
    MainWindowController window_{context_.get(), *defaults_};
};

TEST_F(ExportThroughTheDialogsTest, APdfSavedWithReturnInTheSaveDialogAgainAndAgain)
{
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        window_.exportAction(ExportFormat::pdf)->trigger();
        auto* sheet = shown<exports::ExportViewController>();
        ASSERT_NE(sheet, nullptr);
        QTest::keyClick(sheet, Qt::Key_Return);

        auto* dialog = shown<QFileDialog>();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->directory().absolutePath().toStdString(), documents().string());
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        const fs::path file = documents() / ("round " + std::to_string(round) + ".pdf");
        // Set rather than typed, so the name field's completer shows no list to take the Return.
        name->setText(QString::fromStdString(file.filename().string()));
        const QPointer<QFileDialog> alive(dialog);
        QTest::keyClick(name, Qt::Key_Return);
        // The dialog outlives the handling of its own Return (where a deletion under it would crash
        // inside Qt, out of a sanitizer's sight); it goes once the event loop has turned.
        EXPECT_FALSE(alive.isNull());
        EXPECT_TRUE(QTest::qWaitFor([&] { return alive.isNull(); }));

        ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(file) && !anyShown("QProgressDialog"); }, 20000));
        EXPECT_FALSE(anyShown("QFileDialog"));
        EXPECT_NE(pdfText(file).find("Entry 149"), std::string::npos);
    }
}

} // namespace
