// The usage-event vocabulary: each method names its event and attributes and hands it to Tally on the
// caller's thread by one of four routes (plain, content view, with navigation context, with one key).

#include "kits/analytics/tally_events.h"

#include "kits/analytics/tally.h"

namespace kits {

namespace {

using ParameterKey = TallyEvents::ParameterKey;
using NavigationContext = TallyEvents::NavigationContext;

void logEvent(const std::string& name)
{
    Tally::logCustomEvent(name, std::nullopt);
}

void logContentView(const std::string& name)
{
    Tally::logContentView(name, std::nullopt, std::nullopt, std::nullopt);
}

void logEvent(const std::string& name, NavigationContext context)
{
    Tally::logCustomEvent(name, Attributes{{std::string(TallyEvents::rawValue(ParameterKey::navigationContext)),
                                            std::string(TallyEvents::rawValue(context))}});
}

void logEvent(const std::string& name, ParameterKey key, const std::optional<std::string>& value)
{
    Tally::logCustomEvent(name, Attributes{{std::string(TallyEvents::rawValue(key)), value.value_or("")}});
}

std::string exportFormatText(TallyEvents::ExportFormat format)
{
    switch (format) {
    case TallyEvents::ExportFormat::text: return "txt";
    case TallyEvents::ExportFormat::csv: return "csv";
    case TallyEvents::ExportFormat::html: return "html";
    case TallyEvents::ExportFormat::pdf: return "pdf";
    }
    return ""; // a value cast from outside the enumeration, sent like an absent text
}

} // namespace

std::string_view TallyEvents::rawValue(ParameterKey key)
{
    switch (key) {
    case ParameterKey::format: return "format";
    case ParameterKey::timerType: return "timer type";
    case ParameterKey::hourlyRateType: return "hourly rate type";
    case ParameterKey::direction: return "direction";
    case ParameterKey::navigationContext: return "navigationContext";
    case ParameterKey::value: return "value";
    }
    return "";
}

std::string_view TallyEvents::rawValue(NavigationContext context)
{
    switch (context) {
    case NavigationContext::inspector: return "inspector";
    case NavigationContext::projectList: return "projectList";
    case NavigationContext::contextMenu: return "contextMenu";
    case NavigationContext::miniWindow: return "miniWindow";
    }
    return "";
}

// clang-format off
void TallyEvents::trackOpenSupportMail() { logEvent("Open Support Mail"); }
void TallyEvents::trackOpenWebsite() { logEvent("Open Website"); }
void TallyEvents::trackRateApp() { logEvent("Rate App"); }
void TallyEvents::trackViewAboutWindow() { logContentView("About Window"); }
void TallyEvents::trackOpenPreferencesWindow() { logEvent("Open Preferences Window"); }

void TallyEvents::trackOpenMiniWindow() { logEvent("Open Mini Window"); }
void TallyEvents::trackCloseMiniWindow() { logEvent("Close Mini Window"); }
void TallyEvents::trackShowMiniWindowActionMenu() { logEvent("Show Mini Window Action Menu"); }

// The mini window only starts period timers.
void TallyEvents::trackStartTimerFromMiniWindow()
{
    Tally::logCustomEvent("Start Timer",
                          Attributes{{std::string(rawValue(ParameterKey::timerType)), std::string("Period")},
                                     {std::string(rawValue(ParameterKey::navigationContext)),
                                      std::string(rawValue(NavigationContext::miniWindow))}});
}

void TallyEvents::trackTogglePauseFromMiniWindow() { logEvent("Toggle Pause", NavigationContext::miniWindow); }
void TallyEvents::trackTrackStopTimerFromMiniWindow() { logEvent("Stop Timer", NavigationContext::miniWindow); }

void TallyEvents::trackNewProject() { logEvent("New Project"); }
void TallyEvents::trackArchiveProject() { logEvent("Archive Project"); }
void TallyEvents::trackUnarchiveProject() { logEvent("Unarchive Project"); }
void TallyEvents::trackStartTimer(const std::optional<std::string>& type)
{
    logEvent("Start Timer", ParameterKey::timerType, type);
}
void TallyEvents::trackTogglePauseInProjectList() { logEvent("Toggle Pause", NavigationContext::projectList); }
void TallyEvents::trackStopTimerInProjectList() { logEvent("Stop Timer", NavigationContext::projectList); }
void TallyEvents::trackPauseAllRunningTimers() { logEvent("Pause All Running Timers"); }
void TallyEvents::trackResumeAllRunningTimers() { logEvent("Resume All Running Timers"); }
void TallyEvents::trackStopAllRunningTimers() { logEvent("Stop All Running Timers"); }
void TallyEvents::trackTogglePauseFromContextMenu() { logEvent("Toggle Pause", NavigationContext::contextMenu); }
void TallyEvents::trackStopTimerFromContextMenu() { logEvent("Stop Timer", NavigationContext::contextMenu); }
void TallyEvents::trackResumeFromStoppedFromContextMenu()
{
    logEvent("Resume from stopped", NavigationContext::contextMenu);
}
void TallyEvents::trackPauseTimersInProjectFromContextMenu()
{
    logEvent("Pause Timers in Project", NavigationContext::contextMenu);
}
void TallyEvents::trackResumeTimersInProjectFromContextMenu()
{
    logEvent("Resume Timers in Project", NavigationContext::contextMenu);
}
void TallyEvents::trackStopTimersInProjectFromContextMenu()
{
    logEvent("Stop Timers in Project", NavigationContext::contextMenu);
}
void TallyEvents::trackMarkAllTimersInProjectBilled()
{
    logEvent("Mark all Timers in Project billed", NavigationContext::contextMenu);
}

// The one Boolean of the vocabulary: sent as a Boolean, not as a text.
void TallyEvents::trackToggleShowOnlyBilledTimers(bool value)
{
    Tally::logCustomEvent("Toggle show only billed timers", Attributes{{std::string(rawValue(ParameterKey::value)), value}});
}

void TallyEvents::trackDragAndDropProject() { logEvent("Drag & Drop Project"); }
void TallyEvents::trackDragAndDropTimer() { logEvent("Drag & Drop Timer"); }

void TallyEvents::trackNavigateDateFilter(const std::optional<std::string>& direction)
{
    logEvent("Navigate Date Filter", ParameterKey::direction, direction);
}
void TallyEvents::trackShowDateFilterDatePicker() { logEvent("Show Date Filter Date Picker"); }

void TallyEvents::trackNewClient() { logEvent("New Client"); }
void TallyEvents::trackDeleteClient() { logEvent("Delete Client"); }
void TallyEvents::trackEditClient() { logEvent("Edit Client"); }
void TallyEvents::trackImportClient() { logEvent("Import Client"); }
void TallyEvents::trackDropProjectOnClient() { logEvent("Drop project on client"); }

void TallyEvents::trackProjectHourlyRateTypeChanged(const std::optional<std::string>& type)
{
    logEvent("Changed Hourly Rate Type", ParameterKey::hourlyRateType, type);
}
void TallyEvents::trackTimerHourlyRateTypeChangedFromInspector(const std::optional<std::string>& type)
{
    logEvent("Timer Hourly Rate type changed", ParameterKey::hourlyRateType, type);
}
void TallyEvents::trackTimerTypeChangedFromInspector(const std::optional<std::string>& type)
{
    logEvent("Timer type changed", ParameterKey::timerType, type);
}
void TallyEvents::trackTrackStopTimerFromInspector() { logEvent("Stop Timer", NavigationContext::inspector); }
void TallyEvents::trackTogglePauseFromInspector() { logEvent("Toggle Pause", NavigationContext::inspector); }
void TallyEvents::trackResumeFromInspector() { logEvent("Resume from stopped", NavigationContext::inspector); }
void TallyEvents::trackToggleBilledFromInspector() { logEvent("Toggle billed", NavigationContext::inspector); }
void TallyEvents::trackViewPauseEditor() { logContentView("Pause Editor"); }
void TallyEvents::trackAddPause() { logEvent("Add Pause"); }
void TallyEvents::trackDeletePause() { logEvent("Delete Pause"); }
void TallyEvents::trackAddAttachment() { logEvent("Add Attachment"); }
void TallyEvents::trackOpenAttachment() { logEvent("Open Attachment"); }
void TallyEvents::trackShowAttachmentInFinder() { logEvent("Show Attachment in Finder"); }
void TallyEvents::trackRelocateAttachment() { logEvent("Relocate Attachment"); }
void TallyEvents::trackDeleteAttachment() { logEvent("Delete Attachment"); }

void TallyEvents::trackViewExport() { logContentView("Export"); }
// clang-format on
void TallyEvents::trackStartExport(ExportFormat format)
{
    logEvent("Start export", ParameterKey::format, exportFormatText(format));
}

} // namespace kits
