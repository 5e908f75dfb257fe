// The application's usage-event vocabulary: one method per counted user action, so callers never build
// an event name or attribute themselves. Texts and enums only, so the kit stays free of the model.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kits {

struct TallyEvents {
    // Attribute keys of the vocabulary.
    enum class ParameterKey { format, timerType, hourlyRateType, direction, navigationContext, value };
    // Where in the interface a timer action came from.
    enum class NavigationContext { inspector, projectList, contextMenu, miniWindow };
    // The export formats, with the application's raw values.
    enum class ExportFormat { text = 1, csv = 2, html = 3, pdf = 4 };

    static std::string_view rawValue(ParameterKey key);
    static std::string_view rawValue(NavigationContext context);

    // About window and links.
    static void trackOpenSupportMail();
    static void trackOpenWebsite();
    static void trackRateApp();
    static void trackViewAboutWindow();
    static void trackOpenPreferencesWindow();

    // Mini window.
    static void trackOpenMiniWindow();
    static void trackCloseMiniWindow();
    static void trackShowMiniWindowActionMenu();
    static void trackStartTimerFromMiniWindow();
    static void trackTogglePauseFromMiniWindow();
    static void trackTrackStopTimerFromMiniWindow();

    // Projects outline and its menus. The text-taking methods send an absent text as the empty text.
    static void trackNewProject();
    static void trackArchiveProject();
    static void trackUnarchiveProject();
    static void trackStartTimer(const std::optional<std::string>& type); // "Period", "Duration", "Expense"
    static void trackTogglePauseInProjectList();
    static void trackStopTimerInProjectList();
    static void trackPauseAllRunningTimers();
    static void trackResumeAllRunningTimers();
    static void trackStopAllRunningTimers();
    static void trackTogglePauseFromContextMenu();
    static void trackStopTimerFromContextMenu();
    static void trackResumeFromStoppedFromContextMenu();
    static void trackPauseTimersInProjectFromContextMenu();
    static void trackResumeTimersInProjectFromContextMenu();
    static void trackStopTimersInProjectFromContextMenu();
    static void trackMarkAllTimersInProjectBilled();
    static void trackToggleShowOnlyBilledTimers(bool value);
    static void trackDragAndDropProject();
    static void trackDragAndDropTimer();

    // Date filter bar.
    static void trackNavigateDateFilter(const std::optional<std::string>& direction); // "left", "right", "today"
    static void trackShowDateFilterDatePicker();

    // Clients sidebar.
    static void trackNewClient();
    static void trackDeleteClient();
    static void trackEditClient();
    static void trackImportClient();
    static void trackDropProjectOnClient();

    // Inspectors.
    static void trackProjectHourlyRateTypeChanged(const std::optional<std::string>& type);
    static void trackTimerHourlyRateTypeChangedFromInspector(const std::optional<std::string>& type);
    static void trackTimerTypeChangedFromInspector(const std::optional<std::string>& type);
    static void trackTrackStopTimerFromInspector();
    static void trackTogglePauseFromInspector();
    static void trackResumeFromInspector();
    static void trackToggleBilledFromInspector();
    static void trackViewPauseEditor();
    static void trackAddPause();
    static void trackDeletePause();
    static void trackAddAttachment();
    static void trackOpenAttachment();
    static void trackShowAttachmentInFinder();
    static void trackRelocateAttachment();
    static void trackDeleteAttachment();

    // Export.
    static void trackViewExport();
    static void trackStartExport(ExportFormat format); // "txt", "csv", "html" or "pdf"
};

} // namespace kits
