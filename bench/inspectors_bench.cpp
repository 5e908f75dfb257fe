// The timer pane and the pause entries sheet over the user-sized store (200,000 timers, 200,000
// pauses, one project of 20,000 timers): the first selection of a timer until its pane has painted,
// switching between timers, and one change notice that updates the large project's 20,000 timers
// while the pane shows one of them and the sheet edits its pauses.
#include "bench_store_fixture.h"

#include "inspectors/pause_entries_view_controller.h"
#include "inspectors/timer_inspector_view_controller.h"

#include "data/change_set.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QVBoxLayout>

#include <benchmark/benchmark.h>

#include <algorithm>
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

struct Session {
    std::unique_ptr<bench::StoreCopy> store;
    std::unique_ptr<model::PersistenceController> persistence;
    std::unique_ptr<QWidget> window; // the inspector column
    inspectors::TimerInspectorViewController* pane = nullptr;
    std::vector<model::Timer*> timers; // of the large project, period timers with pauses first

    data::ObjectContext& context() { return persistence->managedObjectContext(); }

    void open()
    {
        if (persistence)
            return;
        store = std::make_unique<bench::StoreCopy>();
        persistence = std::make_unique<model::PersistenceController>(store->path());
        timers = bench::largestProject(context())->timers();
        std::stable_partition(timers.begin(), timers.end(), [](const model::Timer* timer) {
            return timer->type() == 0 && timer->end() && !timer->pauseEntries().empty();
        });
        window = std::make_unique<QWidget>();
        window->resize(320, 700);
        new QVBoxLayout(window.get());
        window->show();
        QCoreApplication::processEvents();
    }
    // Shows `timer` in the pane and returns once the pane has painted it.
    void select(model::Timer* timer)
    {
        PaintCounter counter;
        pane->installEventFilter(&counter);
        pane->setInspectedObject(timer);
        pane->update();
        while (counter.paints == 0)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        pane->removeEventFilter(&counter);
    }
    void close()
    {
        window.reset();
        persistence.reset();
        store.reset();
    }
};

Session& session()
{
    static Session s;
    return s;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2), values.end());
    return values[values.size() / 2];
}

void BM_FirstSelectionUntilThePanePaints(benchmark::State& state)
{
    Session& s = session();
    s.open();
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        s.pane = new inspectors::TimerInspectorViewController(&s.context(), s.window.get());
        s.window->layout()->addWidget(s.pane);
        s.pane->show();
        s.select(s.timers.front());
        state.counters["first_ms"] = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    }
}
BENCHMARK(BM_FirstSelectionUntilThePanePaints)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SwitchTimers(benchmark::State& state)
{
    Session& s = session();
    std::vector<double> milliseconds;
    std::size_t next = 1;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        s.select(s.timers[next]);
        milliseconds.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        next = (next + 97) % s.timers.size(); // strides across period, duration and expense timers
    }
    state.counters["median_ms"] = median(milliseconds);
}
BENCHMARK(BM_SwitchTimers)->Iterations(400)->Unit(benchmark::kMillisecond)->UseRealTime();

// The notice of a change to all 20,000 timers of the large project (as "mark all billed" makes it),
// the shown timer and its pauses among them, handled by the pane and the open sheet.
void BM_NoticeUpdating20000Timers(benchmark::State& state)
{
    Session& s = session();
    model::Timer* shown = s.timers.front();
    s.select(shown);
    s.pane->showPauseEntries();
    QCoreApplication::processEvents();
    auto changes = std::make_shared<data::ChangeSet>();
    const data::EntityDescription& timerEntity = shown->entity();
    const std::uint64_t keys = (std::uint64_t{1} << timerEntity.keyIndex("billed"))
                               | (std::uint64_t{1} << timerEntity.keyIndex("billedHourlyRate"))
                               | (std::uint64_t{1} << timerEntity.keyIndex("pauseEntries"));
    for (model::Timer* timer : s.timers) {
        changes->updated.push_back(timer);
        changes->updatedKeys[timer] = keys;
    }
    const foundation::Notification notice{data::ObjectsDidChangeNotification,
                                          &s.context(),
                                          {{"changes", std::shared_ptr<const data::ChangeSet>(changes)}}};
    std::vector<double> milliseconds;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        s.context().notificationCenter().post(notice);
        milliseconds.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    state.counters["median_ms"] = median(milliseconds);
    state.counters["updated"] = static_cast<double>(changes->updated.size());
    state.counters["pauses_listed"] =
        s.pane->pauseEntriesViewController()
            ? static_cast<double>(s.pane->pauseEntriesViewController()->tableModel()->rowCount())
            : -1;
}
BENCHMARK(BM_NoticeUpdating20000Timers)->Iterations(200)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    session().close();
    return 0;
}
