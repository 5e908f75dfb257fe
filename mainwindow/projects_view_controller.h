// The middle column of the main window: the projects of the sidebar's selection in an outline, each
// with its timers under the current filter (date range, search term, billed setting), the status line
// below it, the creation of timers and the actions on projects and timers. It follows the store's
// change notices and reports selections and new timers to its delegate.
#pragma once

#include "mainwindow/clients_view_controller_delegate.h"
#include "mainwindow/context_menu_outline_view.h"
#include "mainwindow/expanded_projects.h"
#include "mainwindow/outline_drag_and_drop.h"
#include "mainwindow/running_timer_index.h"
#include "mainwindow/settings_write_alert.h"

#include "export/export_format.h"

#include "model/date_filter_state.h"
#include "model/enums.h"
#include "model/filter.h"
#include "model/preferences.h"
#include "model/refresh_notification.h"

#include "foundation/clock.h"
#include "foundation/notification_center.h"

#include <QPointer>
#include <QWidget>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QAction;
class QButtonGroup;
class QDateEdit;
class QLabel;
class QMenu;
class QMimeData;
class QStackedWidget;
class QVariantAnimation;

namespace data {
class Object;
class ObjectContext;
struct ChangeSet;
}
namespace foundation {
class DefaultsStore;
}
namespace inspectors {
class PopoverDatePickerController;
}
namespace model {
class Client;
class Project;
class Timer;
}

namespace mainwindow {

class ClientsViewController;
class DateFilterLabel;
class ProjectsOutlineModel;
class ProjectsOutlineView;
class ProjectsViewControllerDelegate;

// The refresh tick (model/refresh_notification.h); running durations are brought up to date on each.
using model::RefreshTimerFiredNotification;
// Posted on the default notification centre by whoever wants a timer started in a project (the
// mini window). userInfo: "project" (model::Project*, required), "type" (model::TimerType, required),
// "notes" (std::string, optional).
inline constexpr const char* CreateNewTimerNotification = "CreateNewTimerNotification";
// The defaults key of the projects the outline shows expanded (their URIs).
inline constexpr const char* ProjectsOutlineViewAutosaveName = "ProjectsOutlineView";

// The menu and toolbar items that act on the outline's projects and timers. The main window's menus
// and the two context menus share one QAction for each.
enum class ProjectsAction {
    deleteItem,
    togglePauseSelectedTimer,
    stopSelectedTimer,
    pauseTimersInSelectedProject,
    resumeTimersInSelectedProject,
    stopTimersInSelectedProject,
    markAllTimersInSelectedProjectAsBilled,
    toggleArchiveProject,
    toggleShowBilledTimers,
    pauseAllRunningTimers,
    resumeAllRunningTimers,
    stopAllRunningTimers,
};
inline constexpr std::size_t projectsActionCount = 12;

class ProjectsViewController : public QWidget,
                               public ContextMenuOutlineViewDelegate,
                               public OutlineDragAndDropDelegate {
    Q_OBJECT
public:
    // `context` may be null: then nothing is listed and nothing is created.
    ProjectsViewController(data::ObjectContext* context, foundation::DefaultsStore& defaults,
                           QWidget* parent = nullptr);
    ~ProjectsViewController() override;

    void setDelegate(ProjectsViewControllerDelegate* delegate) { delegate_ = delegate; }
    // The sidebar next to the outline: while it has the keyboard focus, the Delete item and key act
    // on its selection instead of the outline's.
    void setClientsViewController(ClientsViewController* sidebar);
    ProjectsOutlineView* outlineView() const { return outline_; }
    ProjectsOutlineModel* outlineModel() const { return model_; }
    QMenu* projectContextMenu() const { return projectContextMenu_; }
    QMenu* timerContextMenu() const { return timerContextMenu_; }

    // The filter in force, built anew: date bounds, search term, billed setting; by start ascending.
    model::Filter filter() const;
    const std::vector<model::Project*>& projects() const;
    std::vector<model::Timer*> currentTimersForProject(const model::Project& project) const;
    data::Object* selectedItem() const { return selectedItem_; }
    // The selected project, or the project of the selected timer.
    model::Project* selectedProject() const;
    model::Client* selectedClient() const { return selectedClient_; }
    void setSelectedClient(model::Client* client) { selectedClient_ = client; }

    // Which projects are listed; the setter updates the list, the other one only stores.
    void setProjectsPredicate(ProjectsPredicate predicate);
    void setProjectsPredicateWithoutUpdate(ProjectsPredicate predicate) { projectsPredicate_ = std::move(predicate); }
    const std::optional<std::string>& searchTerm() const { return searchTerm_; }
    // An empty term means no search. Updates the list.
    void setSearchTerm(std::optional<std::string> term);

    // Date filter: the state lives in a model::DateFilterState; the bar shows its range's page.
    model::DateFilterRange currentDateFilterRange() const;
    foundation::Date dateFilterReferenceDate() const { return dateFilter_.referenceDate(); }
    void setDateFilterReferenceDate(foundation::Date date) { dateFilter_.setReferenceDate(date); }
    std::optional<foundation::Date> dateFilterStartDate() const { return dateFilter_.startDate(); }
    std::optional<foundation::Date> dateFilterEndDate() const { return dateFilter_.endDate(); }
    // The custom range keeps whatever bounds are set here.
    void setDateFilterBounds(std::optional<foundation::Date> start, std::optional<foundation::Date> end);
    // Lays the bounds out again (model::DateFilterState::update) and brings the list and bar up to date.
    void updateDateFilter();
    // Takes the range stored in the defaults (day for a value that names none) and applies it.
    void dateFilterRangeChanged();
    void navigateToToday();
    // The bar's navigation: segment 0 one step back, 1 today, 2 one step forward, any other no move;
    // each sends its usage event.
    void dateFilterNavigationAction(int selectedSegment);
    // One day, week, month or year back or forward, keeping the reference date's wall time; in the
    // all and custom ranges back to the current minute.
    void navigateDateFilter(bool forward);
    // Opens the date picker popover under `anchor`; each day picked moves the filter at once.
    void showDateFilterDatePicker(QWidget& anchor);
    // Animates the bar's height to 0 or dateFilterBarHeight; its visibility follows at the end. A new
    // request replaces a running animation.
    void setDateFilterBarHidden(bool hidden);

    // The date filter bar: its space (animated), the view in it, one page per range, the navigation.
    static constexpr int dateFilterBarHeight = 40;
    QWidget* dateFilterView() const { return dateFilterView_; }
    int dateFilterBarHeightConstant() const;
    QVariantAnimation* dateFilterBarAnimation() const { return dateFilterBarAnimation_; }
    QStackedWidget* dateFilterTabView() const { return dateFilterTabView_; }
    QWidget* dateFilterNavigationSegmentedControl() const { return dateFilterNavigationSegmentedControl_; }
    QButtonGroup* dateFilterNavigationSegments() const { return dateFilterNavigationSegments_; }
    DateFilterLabel* dayFilterTextField() const { return dayFilterTextField_; }
    DateFilterLabel* weekFilterFromTextField() const { return weekFilterFromTextField_; }
    DateFilterLabel* weekFilterToTextField() const { return weekFilterToTextField_; }
    DateFilterLabel* monthFilterTextField() const { return monthFilterTextField_; }
    DateFilterLabel* yearFilterTextField() const { return yearFilterTextField_; }
    QDateEdit* dateFilterStartDateControl() const { return dateFilterStartDateControl_; }
    QDateEdit* dateFilterEndDateControl() const { return dateFilterEndDateControl_; }
    // Shown on the custom page while its start lies after its end.
    QLabel* dateFilterReversedLabel() const { return dateFilterReversedLabel_; }
    // The last date picker opened from the bar (kept until the next one opens).
    inspectors::PopoverDatePickerController* dateFilterDatePicker() const { return dateFilterDatePicker_.get(); }

    // List maintenance.
    void reloadProjects();
    void updateProjectsList(bool shouldReloadProjects);
    // Redraws the item's row; for a timer its project's duration is summed again too.
    void reloadItem(data::Object& item);
    void refreshAllProjectActionButtons();
    void refreshDurationsInList();
    // Sums the project's listed timers again (one of them changed) and redraws its row.
    void reloadDurationForProject(model::Project& project);
    void updateSelection();
    // The counts and summed duration of the listed timers, now.
    void updateStatusLabels();
    // The same once the outline has painted, when not every listed project's sums are at hand (a
    // list update drops them all): the first paint of a list never waits for a walk over every
    // listed timer. Reading the texts, or updateStatusLabels, brings them up to date at once.
    void updateStatusLabelsAfterPaint();
    // A lasting mark in the status line ("Not saved" while the store cannot be written); empty hides it.
    void setSaveStatusMark(const QString& mark);
    QLabel* saveStatusLabel() const { return saveStatusLabel_; }
    void updateEmptyView();
    void updateExpandedState();
    void fixColumnOrder();
    void fixOutlineSize();

    // Makes a project of the selected client, lists it at the place of its sort order, selects it and
    // opens its name for editing.
    model::Project* newProject();

    // The actions on projects and timers. Each changes the store without processing the pending
    // changes, so one user action is one change notice, one save and one undo step; the outline
    // follows through the notice, except for the rows an action adds or removes itself. Each sends
    // its usage event after the change, and nothing (no event either) when it has nothing to act on.
    // Delete: the selected project or timer, without confirmation; after a project all projects,
    // archived ones included, are numbered 0, 1, 2, ... by their old order.
    void deleteSelectedItem();
    // The Delete item and key: the sidebar's delete while it has the focus, else deleteSelectedItem.
    void deleteAction();
    // Rename: the selected project (projectNameChanged) or the one whose row was edited takes the
    // name, trimmed of surrounding white space; an empty name is refused (false) and nothing changes.
    bool projectNameChanged(const std::string& name);
    bool renameProject(model::Project& project, const std::string& name);
    void searchAction(const QString& text);
    // The row buttons: a timer of the default type in the project (on today's page), and pause or
    // stop of a timer.
    void startNewTimer(model::Project* project);
    void togglePauseOnTimer(model::Timer* timer);
    void stopTimer(model::Timer* timer);
    void pauseAllRunningTimers();
    void resumeAllRunningTimers();
    void stopAllRunningTimers();
    // A running timer (billed or not) is paused or resumed; an ended one resumed from stopped.
    void togglePauseSelectedTimer();
    void stopSelectedTimer();
    // These act on the selected item only when it is a project (not on a selected timer's project).
    void pauseTimersInSelectedProject();
    void resumeTimersInSelectedProject();
    void stopTimersInSelectedProject();
    // Marks billed the project's ended timers under the current filter.
    void markAllTimersInSelectedProjectAsBilled();
    void toggleArchiveProject();
    void toggleShowBilledTimers();

    // Export: the options sheet on the format of `tag` (an ExportFormat raw value; text for no tag or
    // a tag that names no format), then a save dialog for the chosen format's one extension; its OK
    // builds the document of the listed projects under the filter as they are then and writes it (a
    // PDF through Exporter::printDocument) on a later turn, once the dialog has closed. The dialog
    // proposes exportFileName() in exportFolder(). A failed write is told to the user in an alert with
    // the system's reason.
    void exportProjects(std::optional<std::int64_t> tag);
    // The name the save dialog proposes: the listed range and its first day, or "All" and today
    // ("Week 2024-03-03.csv", "All 2024-03-06.pdf").
    QString exportFileName(exports::ExportFormat format) const;
    // Print: the options sheet in its print variant; confirming prints the listed projects under the
    // filter as they are then through the print dialog, on a later turn once the sheet has ended. A
    // failed print job ends in an alert.
    void printProjects();

    QAction* action(ProjectsAction which) const { return actions_[static_cast<std::size_t>(which)]; }
    // Enables, titles, checks and hides the actions for the current selection and settings.
    void validateActions();
    const RunningTimerIndex& runningTimerIndex() const { return runningTimers_; }

    // Creates a timer of the type in the project (notes empty when none are given), shows it in start
    // order among the project's listed timers, expands the project and selects the new row. A search
    // term is cleared first (searchTermCleared), so the new row is shown.
    model::Timer* createTimer(model::Project& project, model::TimerType type, std::optional<std::string> notes = {});

    // The listed item's index, valid only when the item has a row (its project expanded for a timer).
    QModelIndex rowIndexOf(const data::Object& item) const;
    // Selects exactly that item's row; nothing for an item without a row.
    void selectItem(const data::Object& item);

    // The status line's texts, brought up to date first when they wait for a paint.
    QString countsStatusText() const;
    QString durationStatusText() const;
    bool isEmptyViewShown() const;
    // While the store loads (a controller made without one, until the window gets the store): a busy
    // indicator and "Loading <store name>…" in place of the empty view, and no counts below.
    void showLoading(const QString& storeName);
    bool isLoadingShown() const;
    QString loadingText() const;

    QMenu* outlineViewMenuForEvent(ContextMenuOutlineView& outlineView, const QContextMenuEvent& event) override;

    // Drag and drop (projects_view_controller_drag_and_drop.cpp). Project and timer rows are dragged
    // as their URIs. Files dropped on a project or one of its timers are attached to the project;
    // projects dropped into a top-level gap change the order; a timer dropped on another project,
    // or a client from the sidebar dropped on a project, moves there or becomes its client. Each
    // drop is one change notice, one save and one undo step.
    std::unique_ptr<QMimeData> outlineViewPasteboardWriterForItem(ContextMenuOutlineView& outlineView,
                                                                  const QModelIndex& item) override;
    Qt::DropAction outlineViewValidateDrop(ContextMenuOutlineView& outlineView, const QMimeData& mimeData,
                                           OutlineDropTarget& target) override;
    bool outlineViewAcceptDrop(ContextMenuOutlineView& outlineView, const QMimeData& mimeData,
                               const OutlineDropTarget& target) override;
    // Moves the project to the place of `target` (nullptr: right after the last listed project),
    // numbers all projects of the store 0, 1, 2, ... and moves its row; sends "Drag & Drop Project".
    void moveProject(model::Project& project, model::Project* target);
    // Gives the timer to `project` and moves its row there, to its place by start; sends "Drag & Drop
    // Timer".
    void moveTimer(model::Timer& timer, model::Project& project);

signals:
    // The painted buttons of the rows; the controller itself answers them with its row actions.
    void newTimerButtonClicked(model::Project* project);
    void togglePauseButtonClicked(model::Timer* timer);
    void stopButtonClicked(model::Timer* timer);
    // The controller dropped its search term itself; the search field is to be emptied.
    void searchTermCleared();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildViews();
    QWidget* buildDateFilterBar();
    DateFilterLabel* dateFilterLabel(const char* name, int style, QWidget* page);
    QDateEdit* dateFilterBoundControl(const char* name, QWidget* page, bool end);
    // Labels, custom controls and the shown parts of the bar for the current range and bounds.
    void updateDateFilterBar();
    // The list, the selection and the bar after the date filter's bounds changed.
    void dateFilterDidChange();
    void customBoundChosen(bool end, const QDate& day);
    void buildActions();
    void setupObservings();
    void contextDidChange(const data::ChangeSet& changes);
    // Updated projects that stopped or started passing the predicate leave or join the list.
    bool applyPredicateToUpdatedProjects(const data::ChangeSet& changes);
    // After rows moved: the item selected before is selected again, in view, without a report of
    // the selections in between; one that has no row any more gives way to what the view selects.
    void restoreSelection(data::Object* selected);
    bool sidebarHasFocus() const;
    void didUndoOrRedo();
    void createNewTimerFromNotification(const foundation::Notification& notification);
    void connectOutline();
    void itemDidExpandOrCollapse(const QModelIndex& index, bool expanded);
    void centreEmptyView();
    void centre(QWidget& view);
    void writeStatusLabels() const;
    void showExportSaveDialog(exports::ExportFormat format, exports::ExportFields fields);
    // The save dialog's folder: that of the last export while it exists, else Documents.
    QString exportFolder() const;
    static constexpr std::string_view lastExportFolderKey = "lastExportFolder";
    void writeExport(exports::ExportFormat format, const exports::ExportFields& fields, const QString& path);
    void showExportFailure(const QString& message, const std::string& reason);

    data::ObjectContext* context_;
    foundation::DefaultsStore& defaults_;
    model::Preferences preferences_;
    ProjectsViewControllerDelegate* delegate_ = nullptr;
    QPointer<ClientsViewController> sidebar_;

    ProjectsOutlineView* outline_ = nullptr;
    ProjectsOutlineModel* model_ = nullptr;
    QLabel* countsStatusLabel_ = nullptr;
    QLabel* durationStatusLabel_ = nullptr;
    QLabel* saveStatusLabel_ = nullptr;
    mutable bool statusLabelsPending_ = false; // waiting for the outline's next paint
    bool statusLabelsPosted_ = false;          // the update after that paint is queued
    QWidget* emptyView_ = nullptr;
    QWidget* loadingView_ = nullptr; // made by showLoading
    QLabel* loadingLabel_ = nullptr;
    QMenu* projectContextMenu_ = nullptr;
    QMenu* timerContextMenu_ = nullptr;

    QWidget* dateFilterBar_ = nullptr;
    QWidget* dateFilterView_ = nullptr;
    QVariantAnimation* dateFilterBarAnimation_ = nullptr;
    // What the last request asked, not the view's flag, which changes only when an animation ends.
    bool dateFilterBarHiddenRequested_ = false;
    QStackedWidget* dateFilterTabView_ = nullptr;
    QWidget* dateFilterNavigationSegmentedControl_ = nullptr;
    QButtonGroup* dateFilterNavigationSegments_ = nullptr;
    DateFilterLabel* dayFilterTextField_ = nullptr;
    DateFilterLabel* weekFilterFromTextField_ = nullptr;
    DateFilterLabel* weekFilterToTextField_ = nullptr;
    DateFilterLabel* monthFilterTextField_ = nullptr;
    DateFilterLabel* yearFilterTextField_ = nullptr;
    QDateEdit* dateFilterStartDateControl_ = nullptr;
    QDateEdit* dateFilterEndDateControl_ = nullptr;
    QLabel* dateFilterReversedLabel_ = nullptr;
    bool showingDateFilterBounds_ = false;
    std::unique_ptr<inspectors::PopoverDatePickerController> dateFilterDatePicker_;
    model::DateFilterState dateFilter_;
    data::Object* selectedItem_ = nullptr;
    // While set, selections made by the view as rows come and go are not reported.
    bool keepingSelection_ = false;
    ProjectsPredicate projectsPredicate_;
    model::Client* selectedClient_ = nullptr;
    std::optional<std::string> searchTerm_;

    std::array<QAction*, projectsActionCount> actions_{};
    RunningTimerIndex runningTimers_;

    // The remembered expansion, under "ProjectsOutlineView".
    ExpandedProjects expandedProjects_;
    bool restoringExpansion_ = false;
    SettingsWriteAlert settingsWriteAlert_;
    foundation::ObserverToken changeToken_;
    foundation::ObserverToken undoToken_;
    foundation::ObserverToken redoToken_;
    foundation::ObserverToken refreshToken_;
    foundation::ObserverToken createTimerToken_;
};

} // namespace mainwindow
