// The mini window at user size: 2,000 projects and 200,000 timers of which 50 are running period
// timers, opened through the PersistenceController. Measures the first opening (list, rows, project
// choice, shown and painted), one refresh tick with 50 rows, and the panel's observers on stopping a
// timer.
#include "bench_store_fixture.h"

#include "app/mini_window.h"
#include "app/mini_window_view_controller.h"

#include "model/refresh_notification.h"

#include "data/change_set.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

namespace {

bench::StoreShape fiftyRunning()
{
    bench::StoreShape shape = bench::StoreShape::fromEnvironment();
    shape.runningTimers = 50;
    return shape;
}

struct Session {
    std::unique_ptr<bench::StoreCopy> store;
    std::unique_ptr<model::PersistenceController> persistence;
    std::unique_ptr<app::MiniWindowController> miniWindow;

    data::ObjectContext& context() { return persistence->managedObjectContext(); }
    app::MiniWindowViewController& content() { return *miniWindow->viewController(); }
};

// The shared session as it stands, made of nothing yet.
Session& sessionStorage()
{
    static Session instance;
    return instance;
}

// The shared session, with its store and window made when missing.
Session& session()
{
    Session& instance = sessionStorage();
    if (!instance.persistence) {
        instance.store = std::make_unique<bench::StoreCopy>(fiftyRunning());
        instance.persistence = std::make_unique<model::PersistenceController>(instance.store->path());
    }
    if (!instance.miniWindow) {
        instance.miniWindow = std::make_unique<app::MiniWindowController>(&instance.context());
        instance.miniWindow->window()->show();
        QCoreApplication::processEvents();
    }
    return instance;
}

// Made on the first toggle: the running period timers found, their rows made, the projects offered,
// the panel shown and painted.
void BM_FirstOpening(benchmark::State& state)
{
    Session& s = session();
    for (auto _ : state) {
        s.miniWindow.reset();
        const auto start = std::chrono::steady_clock::now();
        s.miniWindow = std::make_unique<app::MiniWindowController>(&s.context());
        s.miniWindow->window()->show();
        s.miniWindow->window()->repaint();
        QCoreApplication::processEvents();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["rows"] = static_cast<double>(s.content().timers().size());
}
BENCHMARK(BM_FirstOpening)->UseManualTime()->Unit(benchmark::kMillisecond);

// The ten-second tick as the panel receives it, with 50 rows in the table.
void BM_RefreshTickWith50Rows(benchmark::State& state)
{
    Session& s = session();
    for (auto _ : state) {
        foundation::NotificationCenter::defaultCenter().post(model::RefreshTimerFiredNotification);
        QCoreApplication::processEvents();
    }
    state.counters["rows"] = static_cast<double>(s.content().timers().size());
}
BENCHMARK(BM_RefreshTickWith50Rows)->Unit(benchmark::kMillisecond)->UseRealTime();

// The panel's observers on the change notice of one stopped timer: the list, its row removed, the
// height. Between iterations the timer runs again and the panel catches up, untimed.
void BM_StopTimerObservers(benchmark::State& state)
{
    Session& s = session();
    model::Timer* timer = s.content().timers().front();
    for (auto _ : state) {
        timer->stop();
        data::ChangeSet stopped;
        stopped.updated.push_back(timer);
        stopped.updatedKeys[timer] = 1u << model::Timer::endKey;
        const auto start = std::chrono::steady_clock::now();
        s.content().contextDidChange(stopped);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (s.content().timers().size() != 49)
            state.SkipWithError("the stopped timer stayed in the list");
        timer->resumeFromStopped();
        s.content().contextDidChange(stopped);
        s.context().processPendingChanges();
    }
}
BENCHMARK(BM_StopTimerObservers)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(300);

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Closed in order while the application exists (session() would make the parts again).
    Session& s = sessionStorage();
    s.miniWindow.reset();
    s.persistence.reset();
    s.store.reset();
    return 0;
}
