// The main window at user size: 2,000 projects and 200,000 timers (one project of 20,000), every
// project unarchived and expanded, all dates and billed timers shown, so the outline lists every timer.
// Measures the start (store load, window, first painted outline), a full list reload with its
// layout and paint, the refresh tick, and the memory the process holds; and the outline's first fill
// as the program opens on the store as generated (a third of the projects expanded).
#include "window_session.h"

#include "mainwindow/main_split_view_controller.h"
#include "mainwindow/main_window_controller.h"
#include "mainwindow/projects_outline_model.h"
#include "mainwindow/projects_outline_view.h"
#include "mainwindow/projects_view_controller.h"

#include "model/dates.h"
#include "model/preferences.h"

#include "foundation/defaults_store.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QScrollBar>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

namespace {

// Counts the paints of a widget.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return QObject::eventFilter(watched, event);
    }
};

// Unarchives and expands every project of the copy, in a child process so the memory figures of
// this process start clean.
void prepareStore(const std::filesystem::path& path)
{
    const pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error("cannot fork the store preparation");
    if (child > 0) {
        int status = 0;
        ::waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            throw std::runtime_error("the benchmark store could not be prepared");
        return;
    }
    foundation::NotificationCenter center;
    model::PersistenceController controller(path, center);
    auto& context = controller.managedObjectContext();
    context.undoManager().disableUndoRegistration();
    for (model::Project* project : model::fetch<model::Project>(context)) {
        project->setArchived(false);
        project->setExpanded(true);
    }
    context.processPendingChanges();
    ::_exit(context.hasUnsavedChanges() ? 1 : 0);
}

double mebibytes(const char* field)
{
    return static_cast<double>(bench::processStatusKiB(field).value_or(0)) / 1024.0;
}

using Session = bench::WindowSession;

Session& session()
{
    return bench::windowSession();
}

// Builds the main window and runs the event loop until the outline's first paint; the time of it.
double showWindowUntilOutlinePainted(std::unique_ptr<mainwindow::MainWindowController>& window,
                                     data::ObjectContext& context, foundation::DefaultsStore& defaults)
{
    QElapsedTimer clock;
    clock.start();
    window = std::make_unique<mainwindow::MainWindowController>(&context, defaults);
    PaintCounter counter;
    auto* viewport = window->splitViewController()->projectsViewController()->outlineView()->viewport();
    viewport->installEventFilter(&counter);
    window->show();
    while (counter.paints == 0 && clock.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    viewport->removeEventFilter(&counter);
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

// The outline's first fill as the program opens on a store: the store loaded already, the window
// built, shown and its outline painted. Settings as at a first start (the range is then all, billed
// timers shown) or with the day range stored (Arg 1); projects expanded as the store remembers them
// (a third), none unarchived. Each repetition loads its own store copy first, as the program does, and
// releases it at the end.
void BM_FirstFillAsOpened(benchmark::State& state)
{
    session().close();
    bench::StoreCopy store;
    const auto defaultsFolder = bench::detail::makeTemporaryFolder("horavine-bench-defaults-");
    foundation::DefaultsStore defaults(defaultsFolder / "defaults.json");
    if (state.range(0) == 1)
        model::Preferences(defaults).setDateFilterRange(model::rawValue(model::DateFilterRange::day));
    auto persistence = std::make_unique<model::PersistenceController>(store.path());
    std::unique_ptr<mainwindow::MainWindowController> window;
    double statusMs = 0;
    for (auto _ : state) {
        state.SetIterationTime(showWindowUntilOutlinePainted(window, persistence->managedObjectContext(), defaults)
                               / 1e3);
        // The status line's totals, which may follow the first paint; not in the time above.
        QElapsedTimer clock;
        clock.start();
        benchmark::DoNotOptimize(window->splitViewController()->projectsViewController()->countsStatusText());
        statusMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    }
    auto& projects = *window->splitViewController()->projectsViewController();
    state.counters["status_after_paint_ms"] = statusMs;
    state.counters["projects"] = static_cast<double>(projects.projects().size());
    window.reset();
    persistence.reset();
    std::filesystem::remove_all(defaultsFolder);
}
BENCHMARK(BM_FirstFillAsOpened)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Repetitions(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_StartToFirstPaintedOutline(benchmark::State& state)
{
    Session& s = session();
    // A repetition starts over: the window goes before the store, context and settings it uses.
    s.close();
    s.store = std::make_unique<bench::StoreCopy>();
    prepareStore(s.store->path());
    s.openDefaults();
    bench::resetPeakMemory();
    const double rssBefore = mebibytes("VmRSS");

    double loadMs = 0, windowMs = 0;
    for (auto _ : state) {
        if (s.window) {
            state.PauseTiming();
            s.window.reset();
            s.persistence.reset();
            state.ResumeTiming();
        }
        QElapsedTimer clock;
        clock.start();
        s.persistence = std::make_unique<model::PersistenceController>(s.store->path());
        loadMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        windowMs = showWindowUntilOutlinePainted(s.window, s.context(), *s.defaults);
    }
    state.counters["load_ms"] = loadMs;
    state.counters["window_ms"] = windowMs;
    state.counters["projects"] = static_cast<double>(s.projects().projects().size());
    state.counters["timers_listed"] = static_cast<double>(s.projects().outlineModel()->timerCount());
    state.counters["rss_before_MiB"] = rssBefore;
    state.counters["rss_MiB"] = mebibytes("VmRSS");
    state.counters["peak_MiB"] = mebibytes("VmHWM");
}
BENCHMARK(BM_StartToFirstPaintedOutline)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// A full list update as a filter change makes it: refetch, rebuild every project's children,
// re-expand, restore the selection, lay out and paint the outline, recount the status line (which
// may wait for the paint; reading it brings it up to date).
void BM_FullReloadAndPaint(benchmark::State& state)
{
    Session& s = session();
    auto* viewport = s.projects().outlineView()->viewport();
    for (auto _ : state) {
        s.projects().updateProjectsList(true);
        viewport->repaint();
        benchmark::DoNotOptimize(s.projects().countsStatusText());
    }
    state.counters["timers_listed"] = static_cast<double>(s.projects().outlineModel()->timerCount());
}
BENCHMARK(BM_FullReloadAndPaint)->Unit(benchmark::kMillisecond)->UseRealTime();

// The list update alone with its status line, without the view's paint.
void BM_FullReloadOnly(benchmark::State& state)
{
    Session& s = session();
    for (auto _ : state) {
        s.projects().updateProjectsList(true);
        benchmark::DoNotOptimize(s.projects().countsStatusText());
    }
}
BENCHMARK(BM_FullReloadOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

// The status line alone: counts and the summed duration of every listed timer.
void BM_StatusLine(benchmark::State& state)
{
    Session& s = session();
    for (auto _ : state)
        s.projects().updateStatusLabels();
}
BENCHMARK(BM_StatusLine)->Unit(benchmark::kMillisecond)->UseRealTime();

// Scrolling through the expanded outline: one page further and a paint.
void BM_ScrollPageAndPaint(benchmark::State& state)
{
    Session& s = session();
    auto* view = s.projects().outlineView();
    view->viewport()->repaint();
    QScrollBar* bar = view->verticalScrollBar();
    for (auto _ : state) {
        bar->setValue((bar->value() + bar->pageStep() * 997) % std::max(1, bar->maximum()));
        view->viewport()->repaint();
    }
}
BENCHMARK(BM_ScrollPageAndPaint)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The ten-second tick: running durations, their projects and the status line.
void BM_RefreshTick(benchmark::State& state)
{
    Session& s = session();
    auto* viewport = s.projects().outlineView()->viewport();
    for (auto _ : state) {
        foundation::NotificationCenter::defaultCenter().post(mainwindow::RefreshTimerFiredNotification);
        viewport->repaint();
    }
    state.counters["rss_MiB"] = mebibytes("VmRSS");
    state.counters["peak_MiB"] = mebibytes("VmHWM");
}
BENCHMARK(BM_RefreshTick)->Unit(benchmark::kMillisecond)->UseRealTime();

// One step of the week filter (the bar's left or right arrow, in turn) with its list update, layout
// and paint, a year back so the weeks hold the store's timers; the range is all again afterwards.
void BM_WeekStepAndPaint(benchmark::State& state)
{
    Session& s = session();
    mainwindow::ProjectsViewController& projects = s.projects();
    model::Preferences(*s.defaults).setDateFilterRange(model::rawValue(model::DateFilterRange::week));
    projects.dateFilterRangeChanged();
    projects.setDateFilterReferenceDate(model::subtractingYears(model::roundedToMinute(foundation::now()), 1));
    projects.updateDateFilter();
    auto* viewport = projects.outlineView()->viewport();
    int segment = 0;
    for (auto _ : state) {
        projects.dateFilterNavigationAction(segment);
        viewport->repaint();
        benchmark::DoNotOptimize(projects.countsStatusText());
        segment = 2 - segment;
    }
    state.counters["timers_listed"] = static_cast<double>(projects.outlineModel()->timerCount());
    model::Preferences(*s.defaults).setDateFilterRange(model::rawValue(model::DateFilterRange::all));
    projects.dateFilterRangeChanged();
}
BENCHMARK(BM_WeekStepAndPaint)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    return bench::runWindowBenchmarks(argc, argv);
}
