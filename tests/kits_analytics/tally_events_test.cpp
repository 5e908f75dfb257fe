// The named usage events as the analytics kit records them: exact event names, attribute keys and
// value kinds (Booleans stay Booleans), navigation contexts, and absent texts sent as empty ones.
#include "kits/analytics/tally_events.h"

#include "recording_controller.h"

#include <gtest/gtest.h>

#include <functional>

using foundation::PropertyListDictionary;
using kits::TallyEvents;

namespace {

PropertyListDictionary texts(std::initializer_list<std::pair<const char*, const char*>> entries)
{
    PropertyListDictionary attributes;
    for (const auto& [key, value] : entries)
        attributes.set(key, value);
    return attributes;
}

} // namespace

TEST_F(TallyTest, PlainEventsCarryNoAttributes)
{
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        {TallyEvents::trackOpenSupportMail, "Open Support Mail"},
        {TallyEvents::trackOpenPreferencesWindow, "Open Preferences Window"},
        {TallyEvents::trackShowMiniWindowActionMenu, "Show Mini Window Action Menu"},
        {TallyEvents::trackPauseAllRunningTimers, "Pause All Running Timers"},
        {TallyEvents::trackDragAndDropProject, "Drag & Drop Project"},
        {TallyEvents::trackDropProjectOnClient, "Drop project on client"},
        {TallyEvents::trackShowAttachmentInFinder, "Show Attachment in Finder"},
    };
    for (const auto& [track, name] : cases)
        track();
    auto events = recorded();
    ASSERT_EQ(events.size(), cases.size());
    for (std::size_t index = 0; index < cases.size(); ++index)
        EXPECT_EQ(events[index], customEvent(cases[index].second));
}

TEST_F(TallyTest, ContentViewsHaveOnlyAName)
{
    TallyEvents::trackViewAboutWindow();
    TallyEvents::trackViewPauseEditor();
    TallyEvents::trackViewExport();
    auto events = recorded();
    ASSERT_EQ(events.size(), 3u);
    const char* names[] = {"About Window", "Pause Editor", "Export"};
    for (std::size_t index = 0; index < 3; ++index)
        EXPECT_EQ(events[index], predefinedEvent("content_view", {}, texts({{"content_name", names[index]}})));
}

// One event name, told apart by where the action came from.
TEST_F(TallyTest, StopAndPauseCarryTheirNavigationContext)
{
    TallyEvents::trackTrackStopTimerFromInspector();
    TallyEvents::trackTrackStopTimerFromMiniWindow();
    TallyEvents::trackStopTimerInProjectList();
    TallyEvents::trackStopTimerFromContextMenu();
    TallyEvents::trackTogglePauseFromInspector();
    TallyEvents::trackResumeFromStoppedFromContextMenu();
    TallyEvents::trackMarkAllTimersInProjectBilled();
    TallyEvents::trackToggleBilledFromInspector();

    auto events = recorded();
    const std::vector<RecordedEvent> expected = {
        customEvent("Stop Timer", texts({{"navigationContext", "inspector"}})),
        customEvent("Stop Timer", texts({{"navigationContext", "miniWindow"}})),
        customEvent("Stop Timer", texts({{"navigationContext", "projectList"}})),
        customEvent("Stop Timer", texts({{"navigationContext", "contextMenu"}})),
        customEvent("Toggle Pause", texts({{"navigationContext", "inspector"}})),
        customEvent("Resume from stopped", texts({{"navigationContext", "contextMenu"}})),
        customEvent("Mark all Timers in Project billed", texts({{"navigationContext", "contextMenu"}})),
        customEvent("Toggle billed", texts({{"navigationContext", "inspector"}})),
    };
    ASSERT_EQ(events.size(), expected.size());
    for (std::size_t index = 0; index < expected.size(); ++index)
        EXPECT_EQ(events[index], expected[index]);
}

TEST_F(TallyTest, StartTimerFromOutlineHasOnlyItsTypeAndFromMiniWindowAlsoItsContext)
{
    TallyEvents::trackStartTimer("Duration");
    TallyEvents::trackStartTimerFromMiniWindow();
    auto events = recorded();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0], customEvent("Start Timer", texts({{"timer type", "Duration"}})));
    EXPECT_EQ(events[1],
              customEvent("Start Timer", texts({{"timer type", "Period"}, {"navigationContext", "miniWindow"}})));
}

TEST_F(TallyTest, TextArgumentsPassUnchangedAndAbsentTextBecomesEmpty)
{
    TallyEvents::trackTimerTypeChangedFromInspector(std::nullopt);
    TallyEvents::trackNavigateDateFilter("left");
    TallyEvents::trackProjectHourlyRateTypeChanged("client");
    TallyEvents::trackTimerHourlyRateTypeChangedFromInspector("project");
    auto events = recorded();
    const std::vector<RecordedEvent> expected = {
        customEvent("Timer type changed", texts({{"timer type", ""}})),
        customEvent("Navigate Date Filter", texts({{"direction", "left"}})),
        customEvent("Changed Hourly Rate Type", texts({{"hourly rate type", "client"}})),
        customEvent("Timer Hourly Rate type changed", texts({{"hourly rate type", "project"}})),
    };
    ASSERT_EQ(events.size(), expected.size());
    for (std::size_t index = 0; index < expected.size(); ++index)
        EXPECT_EQ(events[index], expected[index]);
}

TEST_F(TallyTest, ShowOnlyBilledTimersSendsABoolean)
{
    TallyEvents::trackToggleShowOnlyBilledTimers(false);
    // A Boolean, not the text "false" nor the number 0.
    EXPECT_EQ(onlyEvent(), customEvent("Toggle show only billed timers", {{"value", false}}));
}

TEST_F(TallyTest, StartExportNamesTheFormat)
{
    using Format = TallyEvents::ExportFormat;
    for (auto format : {Format::text, Format::csv, Format::html, Format::pdf})
        TallyEvents::trackStartExport(format);
    auto events = recorded();
    const char* formats[] = {"txt", "csv", "html", "pdf"};
    ASSERT_EQ(events.size(), 4u);
    for (std::size_t index = 0; index < 4; ++index)
        EXPECT_EQ(events[index], customEvent("Start export", texts({{"format", formats[index]}})));
}
