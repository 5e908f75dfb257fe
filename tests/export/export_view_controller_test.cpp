// The options sheet offscreen: its export and print variants, the checkboxes loaded from and stored
// to "exportFields", cancel storing nothing, and "Start export" sent after the presenter's handler.
#include "export/export_view_controller.h"

#include "model/preferences.h"

#include "foundation/defaults_store.h"
#include "foundation/notification_center.h"
#include "kits/analytics/event_controller.h"
#include "kits/analytics/tally.h"
#include "support/temp_folder.h"
#include "ui/modal_test_hook.h"
#include "ui/sheets.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace exports;

namespace {

class ExportViewControllerTest : public ::testing::Test {
protected:
    ExportViewControllerTest() { kits::Tally::setEventControllerForTesting(events_); }
    ~ExportViewControllerTest() override { kits::Tally::setEventControllerForTesting(nullptr); }

    std::vector<std::string> storedFields() { return model::Preferences(defaults_).exportFields(); }
    void storeFields(const std::vector<std::string>& fields) { model::Preferences(defaults_).setExportFields(fields); }

    // The custom events so far as "name" or "name format=value".
    std::vector<std::string> customEvents() const
    {
        std::vector<std::string> names;
        for (const auto& event : events_->events()) {
            if (const auto* custom = dynamic_cast<const kits::TLYCustomEvent*>(event.get())) {
                std::string text = custom->customEventName().value_or("");
                for (const auto& [key, value] : custom->customAttributes().rawDictionary())
                    text += " " + key + "=" + std::get<std::string>(value);
                names.push_back(text);
            }
        }
        return names;
    }
    std::size_t contentViews() const
    {
        std::size_t count = 0;
        for (const auto& event : events_->events())
            count += dynamic_cast<const kits::TLYPredefinedEvent*>(event.get()) != nullptr;
        return count;
    }

    testsupport::TempFolder folder_;
    foundation::NotificationCenter center_;
    foundation::DefaultsStore defaults_{folder_.path() / "defaults.json", center_};
    std::shared_ptr<kits::TLYRecordingEventController> events_ = std::make_shared<kits::TLYRecordingEventController>();
    QWidget window_;
};

TEST_F(ExportViewControllerTest, ThePrintVariantNamesItselfSoAndHidesTheFormatControl)
{
    ExportViewController sheet(defaults_);
    sheet.setFormat(ExportFormat::pdf);
    sheet.setIsPrintDialog(true);
    sheet.show();
    EXPECT_EQ(sheet.titleLabel()->text(), "Print Projects");
    EXPECT_EQ(sheet.exportButton()->text(), "Print");
    EXPECT_TRUE(sheet.exportTypeSegmentedControl()->isHidden());
    EXPECT_TRUE(sheet.exportTypeSegment(ExportFormat::pdf)->isChecked());
    EXPECT_EQ(contentViews(), 1u);

    sheet.exportButton()->click();
    EXPECT_EQ(customEvents(), std::vector<std::string>{"Start export format=pdf"});
    EXPECT_FALSE(sheet.isVisible());
}

TEST_F(ExportViewControllerTest, TheExportVariantShowsItsFormatAndOffersEveryFormat)
{
    ExportViewController sheet(defaults_);
    sheet.setFormat(ExportFormat::csv);
    sheet.show();
    EXPECT_EQ(sheet.titleLabel()->text(), "Export Projects");
    EXPECT_EQ(sheet.exportButton()->text(), "Export");
    EXPECT_FALSE(sheet.exportTypeSegmentedControl()->isHidden());
    EXPECT_TRUE(sheet.exportTypeSegment(ExportFormat::csv)->isChecked());
    for (ExportFormat format : {ExportFormat::text, ExportFormat::csv, ExportFormat::html, ExportFormat::pdf})
        EXPECT_TRUE(sheet.exportTypeSegment(format)->isEnabled());

    std::optional<ExportFormat> chosen;
    sheet.setCompletionHandler([&](ExportFormat format) { chosen = format; });
    sheet.exportTypeSegment(ExportFormat::pdf)->click();
    sheet.exportPressed();
    EXPECT_EQ(chosen, ExportFormat::pdf);
}

TEST_F(ExportViewControllerTest, StoredFieldsCheckTheirBoxesAndConfirmingStoresThemInTheFixedOrder)
{
    storeFields({"timer_notes", "bogus", "project_duration"});
    ExportViewController sheet(defaults_);
    sheet.loadViewIfNeeded();
    for (ExportField field : allExportFields()) {
        const bool expected = field == ExportField::timerNotes || field == ExportField::projectDuration;
        EXPECT_EQ(sheet.checkbox(field)->isChecked(), expected) << rawValue(field);
    }
    sheet.exportPressed();
    EXPECT_EQ(storedFields(), (std::vector<std::string>{"project_duration", "timer_notes"}));

    ExportViewController again(defaults_);
    again.loadViewIfNeeded();
    again.checkbox(ExportField::timerDuration)->click();
    again.checkbox(ExportField::timerStartEnd)->click();
    again.exportPressed();
    EXPECT_EQ(storedFields(),
              (std::vector<std::string>{"project_duration", "timer_start_end", "timer_duration", "timer_notes"}));
}

TEST_F(ExportViewControllerTest, NoStoredFieldsLeaveEveryBoxOffAndConfirmingStoresAnEmptyList)
{
    storeFields({});
    ExportViewController sheet(defaults_);
    std::optional<ExportFields> selected;
    sheet.setCompletionHandler([&](ExportFormat) { selected = sheet.selectedFields(); });
    sheet.loadViewIfNeeded();
    sheet.exportPressed();
    EXPECT_EQ(selected, ExportFields{});
    EXPECT_TRUE(storedFields().empty());
}

TEST_F(ExportViewControllerTest, CancelStoresNothingCallsNoHandlerAndCountsNoExport)
{
    storeFields({"timer_notes"});
    ExportViewController sheet(defaults_);
    bool called = false;
    sheet.setCompletionHandler([&](ExportFormat) { called = true; });
    sheet.show();
    sheet.checkbox(ExportField::projectNotes)->click();
    sheet.checkbox(ExportField::timerNotes)->click();
    sheet.cancel();
    EXPECT_FALSE(called);
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(storedFields(), std::vector<std::string>{"timer_notes"});
    EXPECT_TRUE(customEvents().empty());
}

TEST_F(ExportViewControllerTest, StartExportIsCountedAfterTheHandlerReturnsAndTheFieldsAreStoredBefore)
{
    storeFields({"timer_cost"});
    ExportViewController sheet(defaults_);
    sheet.setFormat(ExportFormat::csv);
    std::vector<std::string> eventsInHandler;
    std::vector<std::string> storedInHandler;
    sheet.setCompletionHandler([&](ExportFormat format) {
        EXPECT_EQ(format, ExportFormat::csv);
        EXPECT_FALSE(sheet.isVisible()); // dismissed first
        eventsInHandler = customEvents();
        storedInHandler = storedFields();
    });
    sheet.show();
    sheet.checkbox(ExportField::timerBilled)->click();
    sheet.exportButton()->click();
    EXPECT_TRUE(eventsInHandler.empty());
    EXPECT_EQ(storedInHandler, (std::vector<std::string>{"timer_cost", "timer_billed"}));
    EXPECT_EQ(customEvents(), std::vector<std::string>{"Start export format=csv"});
}

TEST_F(ExportViewControllerTest, ASheetEndedWithOkByItsPresenterConfirmsLikeTheButton)
{
    storeFields({"project_notes"});
    ui::ModalTestHook hook;
    hook.answerSheet = [](const ui::PresentedSheet&) { return std::optional<ui::ModalResponse>(ui::modalResponseOK); };
    auto* sheet = new ExportViewController(defaults_, &window_);
    std::optional<ExportFormat> chosen;
    std::optional<ui::ModalResponse> ended;
    sheet->setCompletionHandler([&](ExportFormat format) { chosen = format; });
    sheet->loadViewIfNeeded();
    ui::beginSheet(window_, *sheet, [&](ui::ModalResponse response) { ended = response; });
    QApplication::processEvents();
    EXPECT_EQ(ended, ui::modalResponseOK);
    EXPECT_EQ(chosen, ExportFormat::text);
    EXPECT_EQ(storedFields(), std::vector<std::string>{"project_notes"});
    EXPECT_EQ(customEvents(), std::vector<std::string>{"Start export format=txt"});
}

} // namespace
