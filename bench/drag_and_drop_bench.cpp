// Drops in the projects outline at user size: 2,000 projects and 200,000 timers (one project of
// 20,000), every project listed and expanded, the store opened through the PersistenceController so
// each change notice also saves. Measures a project dropped into a top-level gap (all projects
// renumbered, the row moved, the save and every observer) and a timer dropped onto the large project.
#include "window_session.h"

#include "mainwindow/drag_data.h"
#include "mainwindow/projects_outline_model.h"
#include "mainwindow/projects_outline_view.h"

#include <QMimeData>

namespace {

using Session = bench::WindowSession;

Session& session()
{
    Session& instance = bench::windowSession();
    if (!instance.window) {
        instance.store = std::make_unique<bench::StoreCopy>();
        instance.openDefaults();
        instance.persistence = std::make_unique<model::PersistenceController>(instance.store->path());
        auto& context = instance.context();
        context.undoManager().disableUndoRegistration();
        for (model::Project* project : model::fetch<model::Project>(context)) {
            project->setArchived(false);
            project->setExpanded(true);
        }
        context.processPendingChanges();
        context.undoManager().enableUndoRegistration();
        instance.window = std::make_unique<mainwindow::MainWindowController>(&context, *instance.defaults);
        instance.window->show();
        QCoreApplication::processEvents();
    }
    return instance;
}

// Validates and takes the drop as the outline does on a drop event; false when it was refused.
bool drop(mainwindow::ProjectsViewController& projects, const data::Object& dragged,
          mainwindow::OutlineDropTarget target)
{
    const std::unique_ptr<QMimeData> mimeData = mainwindow::mimeDataForObject(dragged);
    auto& view = *projects.outlineView();
    return projects.outlineViewValidateDrop(view, *mimeData, target) != Qt::IgnoreAction
           && projects.outlineViewAcceptDrop(view, *mimeData, target);
}

// The last project dropped before the first, then the first after the last: each drop gives every
// project of the store a new number.
void BM_DropProjectIntoTopLevelGapWithSaveAndObservers(benchmark::State& state)
{
    Session& s = session();
    auto& projects = s.projects();
    bool toFront = true;
    for (auto _ : state) {
        const auto& listed = projects.projects();
        model::Project* dragged = toFront ? listed.back() : listed.front();
        const int gap = toFront ? 0 : static_cast<int>(listed.size());
        if (!drop(projects, *dragged, {QPersistentModelIndex(), gap}))
            state.SkipWithError("the drop was refused");
        s.endTurn();
        state.PauseTiming();
        const auto& after = projects.projects();
        if ((toFront ? after.front() : after.back()) != dragged || s.context().hasUnsavedChanges())
            state.SkipWithError("the project was not moved and saved");
        toFront = !toFront;
        state.ResumeTiming();
    }
    state.counters["projects"] = static_cast<double>(projects.projects().size());
}
BENCHMARK(BM_DropProjectIntoTopLevelGapWithSaveAndObservers)->Unit(benchmark::kMillisecond)->UseRealTime();

// A timer of a small project dropped onto the 20,000-timer project; moved back between iterations,
// untimed.
void BM_DropTimerOntoLargeProjectWithSaveAndObservers(benchmark::State& state)
{
    Session& s = session();
    auto& projects = s.projects();
    model::Project* large = bench::largestProject(s.context());
    model::Project* small = nullptr;
    for (model::Project* project : projects.projects())
        if (project != large && !projects.outlineModel()->timers(*project).empty())
            small = project;
    if (!small) {
        state.SkipWithError("no small project with listed timers");
        return;
    }
    model::Timer* timer = projects.outlineModel()->timers(*small).front();
    const QModelIndex largeRow = projects.outlineModel()->indexOf(large);
    for (auto _ : state) {
        if (!drop(projects, *timer, {largeRow, mainwindow::OutlineDropTarget::onItem}))
            state.SkipWithError("the drop was refused");
        s.endTurn();
        state.PauseTiming();
        if (timer->project() != large || s.context().hasUnsavedChanges())
            state.SkipWithError("the timer was not moved and saved");
        drop(projects, *timer, {projects.outlineModel()->indexOf(small), mainwindow::OutlineDropTarget::onItem});
        s.endTurn();
        state.ResumeTiming();
    }
    state.counters["large_project_timers"] = static_cast<double>(projects.outlineModel()->timers(*large).size());
}
BENCHMARK(BM_DropTimerOntoLargeProjectWithSaveAndObservers)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    return bench::runWindowBenchmarks(argc, argv);
}
