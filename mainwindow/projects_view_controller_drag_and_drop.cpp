// Drag and drop in the projects outline: what a dragged row carries, which drops are taken where
// (files onto a project or its timers, projects into top-level gaps, timers and clients onto a
// project) and the moves they make, as row moves in the outline's cached model, never a reload.
#include "mainwindow/projects_view_controller.h"

#include "mainwindow/drag_data.h"
#include "mainwindow/projects_outline_model.h"
#include "mainwindow/projects_outline_view.h"

#include "inspectors/currency_change_alert.h"

#include "model/client.h"
#include "model/fetch_helpers.h"
#include "model/project.h"
#include "model/timer.h"

#include "data/object_context.h"
#include "kits/analytics/tally_events.h"

#include <QMimeData>

#include <algorithm>

namespace mainwindow {

namespace {

// The project a row stands for: the project itself, or a timer's project.
model::Project* projectOfItem(data::Object* item)
{
    if (auto* project = dynamic_cast<model::Project*>(item))
        return project;
    if (auto* timer = dynamic_cast<model::Timer*>(item))
        return timer->project();
    return nullptr;
}

} // namespace

std::unique_ptr<QMimeData> ProjectsViewController::outlineViewPasteboardWriterForItem(ContextMenuOutlineView&,
                                                                                      const QModelIndex& item)
{
    data::Object* object = model_->item(item);
    return object ? mimeDataForObject(*object) : nullptr;
}

Qt::DropAction ProjectsViewController::outlineViewValidateDrop(ContextMenuOutlineView&, const QMimeData& mimeData,
                                                               OutlineDropTarget& target)
{
    data::Object* item = model_->item(target.item);
    const auto ontoProject = [this, &target](model::Project& project) {
        target = {model_->indexOf(&project), OutlineDropTarget::onItem};
    };
    // Files first: whatever else the drag carries, they are attached to the project under them.
    if (!droppedFiles(mimeData).empty()) {
        model::Project* project = projectOfItem(item);
        if (!project || !model_->indexOf(project).isValid())
            return Qt::IgnoreAction;
        ontoProject(*project);
        return Qt::LinkAction;
    }
    if (!context_)
        return Qt::IgnoreAction;
    data::Object* dragged = draggedObject(mimeData, *context_);
    auto* ontoItem = dynamic_cast<model::Project*>(item);
    if (dynamic_cast<model::Project*>(dragged))
        return !item && !target.isOnItem() ? Qt::MoveAction : Qt::IgnoreAction;
    if (auto* timer = dynamic_cast<model::Timer*>(dragged)) {
        if (!ontoItem)
            return Qt::IgnoreAction;
        ontoProject(*ontoItem);
        return timer->project() == ontoItem ? Qt::IgnoreAction : Qt::MoveAction;
    }
    if (dynamic_cast<model::Client*>(dragged) && ontoItem) {
        ontoProject(*ontoItem);
        return Qt::MoveAction;
    }
    return Qt::IgnoreAction;
}

bool ProjectsViewController::outlineViewAcceptDrop(ContextMenuOutlineView&, const QMimeData& mimeData,
                                                   const OutlineDropTarget& target)
{
    data::Object* item = model_->item(target.item);
    if (const auto files = droppedFiles(mimeData); !files.empty()) {
        // Files already attached, and files no bookmark can be made of, are passed over.
        if (model::Project* project = projectOfItem(item))
            for (const auto& file : files)
                project->addAttachment(file);
        return true;
    }
    if (!context_)
        return false;
    data::Object* dragged = draggedObject(mimeData, *context_);
    if (!dragged)
        return false;
    auto* ontoItem = dynamic_cast<model::Project*>(item);
    if (auto* project = dynamic_cast<model::Project*>(dragged)) {
        // The project shown at the gap is the target: under a sidebar filter, the gap's index is no
        // sort order of the store. Past the last row there is none.
        if (!item && !target.isOnItem()) {
            const auto& listed = projects();
            const auto gap = static_cast<std::size_t>(target.childIndex);
            moveProject(*project, gap < listed.size() ? listed[gap] : nullptr);
        }
    } else if (auto* timer = dynamic_cast<model::Timer*>(dragged)) {
        if (ontoItem)
            moveTimer(*timer, *ontoItem);
    } else if (auto* client = dynamic_cast<model::Client*>(dragged)) {
        // A client whose currency would relabel the project's billed timers is asked about first.
        const auto assign = [ontoItem, client] { ontoItem->setClient(client); };
        if (ontoItem
            && inspectors::askBeforeRelabellingBilledTimers(
                *window(), *ontoItem, model::Project::currencyOf(ontoItem->customCurrency(), client), assign))
            assign();
    }
    return true;
}

void ProjectsViewController::moveProject(model::Project& project, model::Project* target)
{
    if (!context_)
        return;
    const bool listedBefore = model_->indexOf(&project).isValid();
    const auto& listed = projects();
    model::moveProject(*context_, project, target, listed.empty() ? nullptr : listed.back());
    if (listedBefore) {
        // The other listed projects keep their order: the new row is the number of them that now
        // come before the moved one.
        const auto row = std::count_if(listed.begin(), listed.end(), [&project](const model::Project* other) {
            return other != &project && other->sortOrder() < project.sortOrder();
        });
        model_->moveProject(project, static_cast<int>(row));
    } else {
        updateProjectsList(true);
    }
    kits::TallyEvents::trackDragAndDropProject();
}

void ProjectsViewController::moveTimer(model::Timer& timer, model::Project& project)
{
    model::Project* oldProject = timer.project();
    const bool listedBefore = model_->indexOf(&timer).isValid();
    timer.setProject(&project);
    if (oldProject != &project) {
        // The filter does not look at the project, so the timer passes it in its new project too;
        // its place there is its place by start among the new project's listed timers.
        if (listedBefore && oldProject && model_->indexOf(&project).isValid())
            model_->moveTimer(timer, *oldProject, project, model_->insertionIndex(project, timer));
        else
            updateProjectsList(true);
    }
    kits::TallyEvents::trackDragAndDropTimer();
}

} // namespace mainwindow
