// How the projects outline follows the rest of the program: the store's change notices (only the
// updated objects are read; the actions add and remove rows themselves), undo and redo (a full
// reload), the ten-second refresh tick and requests for a new timer.
#include "mainwindow/projects_view_controller.h"

#include "mainwindow/projects_outline_model.h"
#include "mainwindow/projects_outline_view.h"

#include "model/project.h"
#include "model/timer.h"

#include "data/change_set.h"
#include "data/object_context.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace mainwindow {

namespace {

bool onlySortOrderChanged(const data::ChangeSet& changes, const model::Project& project)
{
    const auto found = changes.updatedKeys.find(&project);
    const int sortOrder = project.entity().keyIndex("sortOrder");
    return found != changes.updatedKeys.end() && sortOrder >= 0 && found->second == (std::uint64_t{1} << sortOrder);
}

} // namespace

void ProjectsViewController::setupObservings()
{
    if (context_) {
        auto& center = context_->notificationCenter();
        changeToken_ = center.addObserver(
            data::ObjectsDidChangeNotification, context_, [this](const foundation::Notification& notification) {
                using Changes = std::shared_ptr<const data::ChangeSet>;
                if (const Changes* changes = notification.info<Changes>("changes"); changes && *changes)
                    contextDidChange(**changes);
                else
                    contextDidChange(data::ChangeSet{});
            });
        const void* undoManager = &context_->undoManager();
        undoToken_ = center.addObserver(data::UndoManagerDidUndoChangeNotification, undoManager,
                                        [this](const foundation::Notification&) { didUndoOrRedo(); });
        redoToken_ = center.addObserver(data::UndoManagerDidRedoChangeNotification, undoManager,
                                        [this](const foundation::Notification&) { didUndoOrRedo(); });
    }
    auto& center = foundation::NotificationCenter::defaultCenter();
    refreshToken_ = center.addObserver(RefreshTimerFiredNotification, nullptr, [this](const foundation::Notification&) {
        refreshDurationsInList();
        updateStatusLabels();
    });
    createTimerToken_ =
        center.addObserver(CreateNewTimerNotification, nullptr, [this](const foundation::Notification& notification) {
            createNewTimerFromNotification(notification);
        });
}

void ProjectsViewController::contextDidChange(const data::ChangeSet& changes)
{
    runningTimers_.apply(changes);
    // A listed project deleted elsewhere than by the outline's own Delete (which removed its row
    // already) leaves the list here, so no row shows an object that is gone. Deleted timers need
    // nothing: their project is among the updated and refilters below.
    bool removedProjects = false;
    for (data::Object* object : changes.deleted) {
        auto* project = dynamic_cast<model::Project*>(object);
        if (project && model_->indexOf(project).isValid()) {
            model_->removeProject(*project);
            removedProjects = true;
        }
    }
    if (applyPredicateToUpdatedProjects(changes))
        removedProjects = true;
    if (removedProjects)
        updateEmptyView();
    // The updated timers by project, and the updated projects themselves; a project is looked at
    // once however many of its timers changed.
    std::unordered_map<model::Project*, std::unordered_set<const data::Object*>> changedTimers;
    std::vector<model::Project*> changedProjects;
    for (data::Object* object : changes.updated) {
        if (auto* timer = dynamic_cast<model::Timer*>(object)) {
            if (model::Project* project = timer->project()) {
                auto [entry, added] = changedTimers.try_emplace(project);
                if (added)
                    changedProjects.push_back(project);
                entry->second.insert(timer);
            }
        } else if (auto* project = dynamic_cast<model::Project*>(object)) {
            // A new number alone (a drop or a delete numbers every project again) shows nowhere in
            // the rows, and whoever moved a row has moved it already.
            if (onlySortOrderChanged(changes, *project))
                continue;
            if (changedTimers.try_emplace(project).second)
                changedProjects.push_back(project);
        }
    }
    // A timer whose row moves (its start edited in the pane) leaves and joins its project's rows;
    // the view would hand the selection to a neighbour or to the project meanwhile. The selected
    // item keeps it while it is listed, and the pane stays on it.
    data::Object* const selected = selectedItem_;
    keepingSelection_ = true;
    for (model::Project* project : changedProjects) {
        const QModelIndex projectRow = model_->indexOf(project);
        if (!projectRow.isValid())
            continue; // not listed: another client's, archived, or gone
        // A changed timer may have left or joined the filter (billed, start, notes); the project's
        // sum of stopped timers is recomputed here once either way.
        model_->refreshChildren(*project);
        if (outline_->isExpanded(projectRow))
            model_->announceTimerRows(*project, changedTimers[project]);
        model_->announceProjectChanged(*project);
    }
    keepingSelection_ = false;
    restoreSelection(selected);
    refreshDurationsInList();
    updateStatusLabels();
    refreshAllProjectActionButtons();
    validateActions();
}

void ProjectsViewController::restoreSelection(data::Object* selected)
{
    const QModelIndex row = selected && !selected->isDeleted() ? rowIndexOf(*selected) : QModelIndex();
    const auto selectedRows = [this] { return outline_->selectionModel()->selectedRows(); };
    if (row.isValid() && (selectedRows().size() != 1 || selectedRows().first() != row)) {
        keepingSelection_ = true;
        selectItem(*selected);
        keepingSelection_ = false;
        outline_->scrollTo(row);
    }
    // What the view selects now, when it is not what was reported (the item left the list).
    const QModelIndexList rows = selectedRows();
    if ((rows.isEmpty() ? nullptr : model_->item(rows.first())) != selectedItem_)
        updateSelection();
}

bool ProjectsViewController::applyPredicateToUpdatedProjects(const data::ChangeSet& changes)
{
    // A project given another client (a drop, the project pane) or archived elsewhere no longer
    // belongs to the sidebar's choice, and one that now does joins it at its place in the order.
    bool changed = false;
    for (data::Object* object : changes.updated) {
        auto* project = dynamic_cast<model::Project*>(object);
        if (!project || project->isDeleted())
            continue;
        const bool listed = model_->indexOf(project).isValid();
        const bool passes = !projectsPredicate_ || projectsPredicate_(*project);
        if (listed && !passes) {
            model_->removeProject(*project);
            changed = true;
        } else if (!listed && passes) {
            const auto& listedProjects = model_->projects();
            const auto place =
                std::find_if(listedProjects.begin(), listedProjects.end(), [project](const model::Project* other) {
                    return other->sortOrder() > project->sortOrder();
                });
            model_->insertProject(static_cast<int>(place - listedProjects.begin()), *project);
            changed = true;
        }
    }
    return changed;
}

void ProjectsViewController::didUndoOrRedo()
{
    // Undo restores and removes objects wholesale: the projects are fetched again.
    runningTimers_.rebuild();
    updateProjectsList(true);
}

void ProjectsViewController::createNewTimerFromNotification(const foundation::Notification& notification)
{
    model::Project* const* project = notification.info<model::Project*>("project");
    const model::TimerType* type = notification.info<model::TimerType>("type");
    if (!project || !*project || !type)
        return;
    const std::string* notes = notification.info<std::string>("notes");
    navigateToToday();
    createTimer(**project, *type, notes ? std::optional<std::string>(*notes) : std::nullopt);
}

} // namespace mainwindow
