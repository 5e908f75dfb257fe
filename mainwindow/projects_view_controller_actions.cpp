// The actions of the projects outline on projects and timers, their menu items and the items'
// validation. The actions change the store and leave the notice, the save and the undo group to the
// end of the event-loop turn; only rows that appear or vanish are edited here directly.
#include "mainwindow/projects_view_controller.h"

#include "mainwindow/clients_view_controller.h"
#include "mainwindow/projects_outline_model.h"
#include "mainwindow/projects_outline_view.h"

#include "model/enums.h"
#include "model/fetch_helpers.h"
#include "model/project.h"
#include "model/timer.h"

#include "data/object_context.h"
#include "foundation/diagnostics.h"
#include "kits/analytics/tally_events.h"

#include <QAction>
#include <QApplication>
#include <QMenu>

namespace mainwindow {

void ProjectsViewController::buildActions()
{
    struct Item {
        ProjectsAction which;
        const char* title;
        void (ProjectsViewController::*run)();
    };
    const Item items[] = {
        {ProjectsAction::deleteItem, "Delete", &ProjectsViewController::deleteAction},
        {ProjectsAction::togglePauseSelectedTimer, "Pause", &ProjectsViewController::togglePauseSelectedTimer},
        {ProjectsAction::stopSelectedTimer, "Stop", &ProjectsViewController::stopSelectedTimer},
        {ProjectsAction::pauseTimersInSelectedProject, "Pause Timers in Project",
         &ProjectsViewController::pauseTimersInSelectedProject},
        {ProjectsAction::resumeTimersInSelectedProject, "Resume Timers in Project",
         &ProjectsViewController::resumeTimersInSelectedProject},
        {ProjectsAction::stopTimersInSelectedProject, "Stop Timers in Project",
         &ProjectsViewController::stopTimersInSelectedProject},
        {ProjectsAction::markAllTimersInSelectedProjectAsBilled, "Mark All Timers as Billed",
         &ProjectsViewController::markAllTimersInSelectedProjectAsBilled},
        {ProjectsAction::toggleArchiveProject, "Archive Project", &ProjectsViewController::toggleArchiveProject},
        {ProjectsAction::toggleShowBilledTimers, "Show Billed Timers", &ProjectsViewController::toggleShowBilledTimers},
        {ProjectsAction::pauseAllRunningTimers, "Pause All Running Timers",
         &ProjectsViewController::pauseAllRunningTimers},
        {ProjectsAction::resumeAllRunningTimers, "Resume All Running Timers",
         &ProjectsViewController::resumeAllRunningTimers},
        {ProjectsAction::stopAllRunningTimers, "Stop All Running Timers",
         &ProjectsViewController::stopAllRunningTimers},
    };
    static_assert(std::size(items) == projectsActionCount);
    for (const Item& item : items) {
        auto* action = new QAction(tr(item.title), this);
        connect(action, &QAction::triggered, this, item.run);
        actions_[static_cast<std::size_t>(item.which)] = action;
    }
    action(ProjectsAction::deleteItem)->setShortcut(QKeySequence::Delete);
    action(ProjectsAction::toggleShowBilledTimers)->setCheckable(true);

    for (ProjectsAction which :
         {ProjectsAction::pauseTimersInSelectedProject, ProjectsAction::resumeTimersInSelectedProject,
          ProjectsAction::stopTimersInSelectedProject, ProjectsAction::markAllTimersInSelectedProjectAsBilled})
        projectContextMenu_->addAction(action(which));
    projectContextMenu_->addSeparator();
    projectContextMenu_->addAction(action(ProjectsAction::toggleArchiveProject));
    projectContextMenu_->addAction(action(ProjectsAction::deleteItem));
    timerContextMenu_->addAction(action(ProjectsAction::togglePauseSelectedTimer));
    timerContextMenu_->addAction(action(ProjectsAction::stopSelectedTimer));
    timerContextMenu_->addSeparator();
    timerContextMenu_->addAction(action(ProjectsAction::deleteItem));
    for (QMenu* menu : {projectContextMenu_, timerContextMenu_})
        connect(menu, &QMenu::aboutToShow, this, &ProjectsViewController::validateActions);
    validateActions();
}

void ProjectsViewController::validateActions()
{
    if (!actions_.back())
        return; // still being built
    auto* timer = dynamic_cast<model::Timer*>(selectedItem_);
    const model::Project* project = selectedProject();
    const bool fixedDuration = timer && timer->isFixedDurationTimer();

    action(ProjectsAction::deleteItem)
        ->setEnabled(sidebarHasFocus() ? sidebar_->canDeleteSelection()
                                       : !outline_->selectionModel()->selectedRows().isEmpty());

    QAction* showBilled = action(ProjectsAction::toggleShowBilledTimers);
    showBilled->setChecked(preferences_.showsBilledTimers());

    // An ended timer (billed or not) resumes from stopped; a running one pauses or resumes.
    QAction* togglePause = action(ProjectsAction::togglePauseSelectedTimer);
    const bool resumes = timer && (timer->end() || timer->activePauseEntry());
    togglePause->setText(resumes ? tr("Resume") : tr("Pause"));
    togglePause->setEnabled(timer != nullptr);
    togglePause->setVisible(!fixedDuration);

    QAction* stop = action(ProjectsAction::stopSelectedTimer);
    stop->setEnabled(timer && !timer->end());
    stop->setVisible(!fixedDuration);

    const bool projectUsable = project && !project->archived();
    for (ProjectsAction which :
         {ProjectsAction::pauseTimersInSelectedProject, ProjectsAction::resumeTimersInSelectedProject,
          ProjectsAction::stopTimersInSelectedProject, ProjectsAction::markAllTimersInSelectedProjectAsBilled})
        action(which)->setEnabled(projectUsable);

    QAction* archive = action(ProjectsAction::toggleArchiveProject);
    archive->setEnabled(project != nullptr);
    archive->setText(project && project->archived() ? tr("Unarchive Project") : tr("Archive Project"));
}

void ProjectsViewController::setClientsViewController(ClientsViewController* sidebar)
{
    if (sidebar_ == sidebar)
        return;
    const bool first = !sidebar_;
    sidebar_ = sidebar;
    // The Delete item follows the focus between the sidebar and the rest of the window.
    if (first)
        connect(qApp, &QApplication::focusChanged, this, [this] { validateActions(); });
    validateActions();
}

bool ProjectsViewController::sidebarHasFocus() const
{
    const QWidget* focus = QApplication::focusWidget();
    return sidebar_ && focus && (focus == sidebar_ || sidebar_->isAncestorOf(focus));
}

void ProjectsViewController::deleteAction()
{
    if (sidebarHasFocus()) {
        if (sidebar_->canDeleteSelection())
            sidebar_->deleteSelectedClient();
        return;
    }
    deleteSelectedItem();
}

void ProjectsViewController::deleteSelectedItem()
{
    if (!context_)
        return;
    const QModelIndexList rows = outline_->selectionModel()->selectedRows();
    data::Object* item = rows.isEmpty() ? nullptr : model_->item(rows.first());
    if (auto* project = dynamic_cast<model::Project*>(item)) {
        model_->removeProject(*project);
        updateEmptyView();
        context_->deleteObject(project);
        // The remaining projects, archived ones included, are numbered again without gaps.
        model::renumberSortOrders<model::Project>(*context_);
    } else if (auto* timer = dynamic_cast<model::Timer*>(item)) {
        model_->removeTimer(*timer);
        context_->deleteObject(timer);
    }
}

bool ProjectsViewController::projectNameChanged(const std::string& name)
{
    const QModelIndexList rows = outline_->selectionModel()->selectedRows();
    auto* project = dynamic_cast<model::Project*>(rows.isEmpty() ? nullptr : model_->item(rows.first()));
    return project && renameProject(*project, name);
}

bool ProjectsViewController::renameProject(model::Project& project, const std::string& name)
{
    const QString trimmed = QString::fromStdString(name).trimmed();
    if (trimmed.isEmpty())
        return false;
    const std::string stored = trimmed.toStdString();
    if (project.name() != stored)
        project.setName(stored);
    return true;
}

void ProjectsViewController::searchAction(const QString& text)
{
    setSearchTerm(text.toStdString());
}

void ProjectsViewController::startNewTimer(model::Project* project)
{
    if (!project)
        return;
    navigateToToday();
    // A stored number that names no type starts a period timer, the built-in default.
    const auto type = model::timerTypeFromRawValue(preferences_.defaultTimerType()).value_or(model::TimerType::period);
    createTimer(*project, type);
}

void ProjectsViewController::togglePauseOnTimer(model::Timer* timer)
{
    if (!timer)
        return;
    timer->togglePause();
    kits::TallyEvents::trackTogglePauseInProjectList();
}

void ProjectsViewController::stopTimer(model::Timer* timer)
{
    if (!timer)
        return;
    timer->stop();
    kits::TallyEvents::trackStopTimerInProjectList();
}

// The actions on all timers look at the store itself rather than the index of running timers,
// which only catches up with the notice at the end of the turn.
void ProjectsViewController::pauseAllRunningTimers()
{
    if (!context_)
        return;
    for (model::Timer* timer : model::Timer::runningTimers(*context_))
        timer->pause(); // nothing for a timer already paused
    kits::TallyEvents::trackPauseAllRunningTimers();
}

void ProjectsViewController::resumeAllRunningTimers()
{
    if (!context_)
        return;
    for (model::Timer* timer : model::Timer::pausedTimers(*context_))
        timer->resume();
    kits::TallyEvents::trackResumeAllRunningTimers();
}

void ProjectsViewController::stopAllRunningTimers()
{
    if (!context_)
        return;
    for (model::Timer* timer : model::Timer::runningTimers(*context_))
        timer->stop();
    kits::TallyEvents::trackStopAllRunningTimers();
}

void ProjectsViewController::togglePauseSelectedTimer()
{
    auto* timer = dynamic_cast<model::Timer*>(selectedItem_);
    // A fixed-duration timer has no pauses; its menu item is hidden.
    if (!timer || timer->isFixedDurationTimer())
        return;
    if (!timer->end()) {
        timer->togglePause();
        kits::TallyEvents::trackTogglePauseFromContextMenu();
    } else {
        timer->resumeFromStopped();
        kits::TallyEvents::trackResumeFromStoppedFromContextMenu();
    }
}

void ProjectsViewController::stopSelectedTimer()
{
    auto* timer = dynamic_cast<model::Timer*>(selectedItem_);
    if (!timer)
        return;
    timer->stop();
    kits::TallyEvents::trackStopTimerFromContextMenu();
}

void ProjectsViewController::pauseTimersInSelectedProject()
{
    auto* project = dynamic_cast<model::Project*>(selectedItem_);
    if (!project)
        return;
    for (model::Timer* timer : project->runningTimers())
        timer->pause();
    kits::TallyEvents::trackPauseTimersInProjectFromContextMenu();
}

void ProjectsViewController::resumeTimersInSelectedProject()
{
    auto* project = dynamic_cast<model::Project*>(selectedItem_);
    if (!project)
        return;
    for (model::Timer* timer : project->runningTimers())
        timer->resume(); // closes the open pause, billed or not
    kits::TallyEvents::trackResumeTimersInProjectFromContextMenu();
}

void ProjectsViewController::stopTimersInSelectedProject()
{
    auto* project = dynamic_cast<model::Project*>(selectedItem_);
    if (!project)
        return;
    for (model::Timer* timer : project->runningTimers())
        timer->stop();
    kits::TallyEvents::trackStopTimersInProjectFromContextMenu();
}

void ProjectsViewController::markAllTimersInSelectedProjectAsBilled()
{
    auto* project = dynamic_cast<model::Project*>(selectedItem_);
    if (!project)
        return;
    // Timers billed already keep their frozen rate untouched.
    for (model::Timer* timer : project->timers(filter()))
        if (timer->end() && !timer->billed())
            timer->setBilled(true);
    kits::TallyEvents::trackMarkAllTimersInProjectBilled();
}

void ProjectsViewController::toggleArchiveProject()
{
    model::Project* project = selectedProject();
    if (!project)
        return;
    project->toggleArchived();
    updateProjectsList(true);
    if (project->archived())
        kits::TallyEvents::trackArchiveProject();
    else
        kits::TallyEvents::trackUnarchiveProject();
}

void ProjectsViewController::toggleShowBilledTimers()
{
    const foundation::Status status = preferences_.setShowsBilledTimers(!preferences_.showsBilledTimers());
    if (!status.isOk())
        foundation::diagnostic("Could not write the billed-timers setting to " + defaults_.file().string() + ": "
                               + status.message());
    settingsWriteAlert_.report(*window(), status, tr("Whether billed timers are shown"), defaults_.file());
    updateProjectsList(false);
    validateActions();
    kits::TallyEvents::trackToggleShowOnlyBilledTimers(preferences_.showsBilledTimers());
}

} // namespace mainwindow
