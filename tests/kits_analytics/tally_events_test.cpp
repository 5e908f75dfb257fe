// The named usage events as the analytics kit records them: exact event names, attribute keys and
// value kinds (Booleans stay Booleans), navigation contexts, and absent texts sent as empty ones.
#include "kits/analytics/tally_events.h"

#include "recording_controller.h"

#include <gtest/gtest.h>

#include <functional>

using kits::Attributes;
using kits::TallyEvents;
using kits::TLYCustomEvent;
using kits::TLYPredefinedEvent;

namespace {

Attributes texts(std::initializer_list<std::pair<const char*, const char*>> entries)
{
    Attributes attributes;
    for (const auto& [key, value] : entries)
        attributes.emplace(key, std::string(value));
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
    auto events = recorder->events();
    ASSERT_EQ(events.size(), cases.size());
    for (std::size_t index = 0; index < cases.size(); ++index)
        EXPECT_EQ(std::get<TLYCustomEvent>(events[index]), (TLYCustomEvent{cases[index].second, {}}));
}

TEST_F(TallyTest, ContentViewsHaveOnlyAName)
{
    TallyEvents::trackViewAboutWindow();
    TallyEvents::trackViewPauseEditor();
    TallyEvents::trackViewExport();
    auto events = recorder->events();
    ASSERT_EQ(events.size(), 3u);
    const char* names[] = {"About Window", "Pause Editor", "Export"};
    for (std::size_t index = 0; index < 3; ++index)
        EXPECT_EQ(std::get<TLYPredefinedEvent>(events[index]),
                  (TLYPredefinedEvent{"content_view", {}, texts({{"content_name", names[index]}})}));
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

    auto events = recorder->events();
    const std::vector<TLYCustomEvent> expected = {
        {"Stop Timer", texts({{"navigationContext", "inspector"}})},
        {"Stop Timer", texts({{"navigationContext", "miniWindow"}})},
        {"Stop Timer", texts({{"navigationContext", "projectList"}})},
        {"Stop Timer", texts({{"navigationContext", "contextMenu"}})},
        {"Toggle Pause", texts({{"navigationContext", "inspector"}})},
        {"Resume from stopped", texts({{"navigationContext", "contextMenu"}})},
        {"Mark all Timers in Project billed", texts({{"navigationContext", "contextMenu"}})},
        {"Toggle billed", texts({{"navigationContext", "inspector"}})},
    };
    ASSERT_EQ(events.size(), expected.size());
    for (std::size_t index = 0; index < expected.size(); ++index)
        EXPECT_EQ(std::get<TLYCustomEvent>(events[index]), expected[index]);
}

TEST_F(TallyTest, StartTimerFromOutlineHasOnlyItsTypeAndFromMiniWindowAlsoItsContext)
{
    TallyEvents::trackStartTimer("Duration");
    TallyEvents::trackStartTimerFromMiniWindow();
    auto events = recorder->events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(std::get<TLYCustomEvent>(events[0]),
              (TLYCustomEvent{"Start Timer", texts({{"timer type", "Duration"}})}));
    EXPECT_EQ(std::get<TLYCustomEvent>(events[1]),
              (TLYCustomEvent{"Start Timer", texts({{"timer type", "Period"}, {"navigationContext", "miniWindow"}})}));
}

TEST_F(TallyTest, TextArgumentsPassUnchangedAndAbsentTextBecomesEmpty)
{
    TallyEvents::trackTimerTypeChangedFromInspector(std::nullopt);
    TallyEvents::trackNavigateDateFilter("left");
    TallyEvents::trackProjectHourlyRateTypeChanged("client");
    TallyEvents::trackTimerHourlyRateTypeChangedFromInspector("project");
    auto events = recorder->events();
    const std::vector<TLYCustomEvent> expected = {
        {"Timer type changed", texts({{"timer type", ""}})},
        {"Navigate Date Filter", texts({{"direction", "left"}})},
        {"Changed Hourly Rate Type", texts({{"hourly rate type", "client"}})},
        {"Timer Hourly Rate type changed", texts({{"hourly rate type", "project"}})},
    };
    ASSERT_EQ(events.size(), expected.size());
    for (std::size_t index = 0; index < expected.size(); ++index)
        EXPECT_EQ(std::get<TLYCustomEvent>(events[index]), expected[index]);
}

TEST_F(TallyTest, ShowOnlyBilledTimersSendsABoolean)
{
    TallyEvents::trackToggleShowOnlyBilledTimers(false);
    auto event = onlyCustomEvent();
    EXPECT_EQ(event.customEventName, "Toggle show only billed timers");
    ASSERT_EQ(event.customAttributes.size(), 1u);
    const auto* value = std::get_if<bool>(&event.customAttributes.at("value"));
    ASSERT_NE(value, nullptr) << "sent as something other than a Boolean";
    EXPECT_FALSE(*value);
}

TEST_F(TallyTest, StartExportNamesTheFormat)
{
    using Format = TallyEvents::ExportFormat;
    for (auto format : {Format::text, Format::csv, Format::html, Format::pdf})
        TallyEvents::trackStartExport(format);
    auto events = recorder->events();
    const char* formats[] = {"txt", "csv", "html", "pdf"};
    ASSERT_EQ(events.size(), 4u);
    for (std::size_t index = 0; index < 4; ++index)
        EXPECT_EQ(std::get<TLYCustomEvent>(events[index]),
                  (TLYCustomEvent{"Start export", texts({{"format", formats[index]}})}));
}
