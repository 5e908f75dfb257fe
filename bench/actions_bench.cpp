// The outline's actions and observers at user size: 2,000 projects and 200,000 timers (5 running,
// one project of 20,000), every project expanded, all dates and billed timers shown, the store opened
// through the PersistenceController so each change notice also saves. Measures the refresh tick's
// handler, stopping one timer with the save and every observer, and marking billed the large project.
#include "window_session.h"

#include "mainwindow/main_split_view_controller.h"
#include "mainwindow/main_window_controller.h"
#include "mainwindow/projects_outline_model.h"
#include "mainwindow/projects_view_controller.h"

#include "model/preferences.h"

#include "foundation/defaults_store.h"

#include <QApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

namespace {

using Session = bench::WindowSession;

// The session's window over a store where every project is unarchived and expanded.
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

// The ten-second tick's handler: running durations, their projects' rows, the status line.
void BM_RefreshTickHandler(benchmark::State& state)
{
    Session& s = session();
    for (auto _ : state)
        foundation::NotificationCenter::defaultCenter().post(mainwindow::RefreshTimerFiredNotification);
    state.counters["running"] = static_cast<double>(s.projects().runningTimerIndex().size());
    state.counters["timers_listed"] = static_cast<double>(s.projects().outlineModel()->timerCount());
}
BENCHMARK(BM_RefreshTickHandler)->Unit(benchmark::kMillisecond)->UseRealTime();

// Stopping one running timer from its row: the change, the notice with its save, the outline's
// observer, and the views' repaint. Between iterations the timer is resumed again, untimed.
void BM_StopOneTimerWithSaveAndObservers(benchmark::State& state)
{
    Session& s = session();
    const auto running = s.projects().runningTimerIndex().runningTimers();
    if (running.empty()) {
        state.SkipWithError("no running timer in the store");
        return;
    }
    model::Timer* timer = running.front();
    for (auto _ : state) {
        emit s.projects().stopButtonClicked(timer);
        s.endTurn();
        state.PauseTiming();
        if (timer->running() || s.context().hasUnsavedChanges())
            state.SkipWithError("the timer was not stopped and saved");
        timer->resumeFromStopped();
        s.endTurn();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StopOneTimerWithSaveAndObservers)->Unit(benchmark::kMillisecond)->UseRealTime();

// Marking billed every ended timer of the 20,000-timer project from its context menu: the changes,
// one notice with the save of every row, the outline's observer, and the views' repaint. Between
// iterations the project's timers are unbilled again, untimed and outside the undo history.
// With argument 1 billed timers are hidden, so every marked row also leaves the outline.
void BM_MarkLargeProjectBilled(benchmark::State& state)
{
    Session& s = session();
    const bool hideBilled = state.range(0) == 1;
    if (model::Preferences(*s.defaults).showsBilledTimers() == hideBilled)
        s.projects().toggleShowBilledTimers();
    model::Project* large = bench::largestProject(s.context());
    std::size_t marked = 0;
    for (auto _ : state) {
        state.PauseTiming();
        s.context().undoManager().disableUndoRegistration();
        for (model::Timer* timer : large->timers())
            if (timer->billed())
                timer->setBilled(false);
        s.endTurn();
        s.context().undoManager().enableUndoRegistration();
        s.projects().selectItem(*large);
        state.ResumeTiming();

        s.projects().action(mainwindow::ProjectsAction::markAllTimersInSelectedProjectAsBilled)->trigger();
        s.endTurn();

        state.PauseTiming();
        marked = 0;
        for (model::Timer* timer : large->timers())
            marked += timer->billed() ? 1 : 0;
        if (s.context().hasUnsavedChanges())
            state.SkipWithError("the billed timers were not saved");
        state.ResumeTiming();
    }
    state.counters["project_timers"] = static_cast<double>(large->timers().size());
    state.counters["marked"] = static_cast<double>(marked);
    state.counters["rows_after"] = static_cast<double>(s.projects().outlineModel()->timers(*large).size());
}
BENCHMARK(BM_MarkLargeProjectBilled)->Arg(0)->Arg(1)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    return bench::runWindowBenchmarks(argc, argv);
}
