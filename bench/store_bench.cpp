// The store at user size: opening and loading it, the peak memory of a loaded store, saving one
// changed attribute through the change notice, and fetching all projects in their sort order.
#include "bench_store_fixture.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One store opened for the benchmarks that work on a loaded store; opened once, since a load takes
// about as long as all their iterations together.
struct OpenStore {
    explicit OpenStore(std::unique_ptr<bench::StoreCopy> file = std::make_unique<bench::StoreCopy>())
        : copy(std::move(file)), controller(copy->path(), center)
    {}
    std::unique_ptr<bench::StoreCopy> copy;
    foundation::NotificationCenter center;
    model::PersistenceController controller;
};

std::unique_ptr<OpenStore>& sharedStore()
{
    static std::unique_ptr<OpenStore> store;
    return store;
}

OpenStore* openSharedStore(benchmark::State& state)
{
    auto& store = sharedStore();
    if (!store)
        store = std::make_unique<OpenStore>();
    if (store->controller.status() != model::PersistenceController::Status::ok) {
        state.SkipWithError(store->controller.statusMessage().c_str());
        return nullptr;
    }
    return store.get();
}

// Runs first: the peak is that of a process whose only large allocation is the loaded store. The
// time is that of the process's first load, which, unlike later loads, has to fault in fresh heap
// pages, as the application does at launch.
void BM_PeakMemoryAfterLoad(benchmark::State& state)
{
    sharedStore().reset();
    bench::cachedStoreFile(); // a first run generates it in a child process
    auto copy = std::make_unique<bench::StoreCopy>();
    const bool reset = bench::resetPeakMemory();
    for (auto _ : state) {
        const auto start = Clock::now();
        auto store = std::make_unique<OpenStore>(std::move(copy));
        state.SetIterationTime(secondsSince(start));
        sharedStore() = std::move(store);
        if (!openSharedStore(state))
            return;
    }
    const auto peak = bench::processStatusKiB("VmHWM");
    const auto resident = bench::processStatusKiB("VmRSS");
    if (!peak || !resident) {
        state.SkipWithError("cannot read /proc/self/status");
        return;
    }
    state.counters["peak_MiB"] = static_cast<double>(*peak) / 1024.0;
    state.counters["rss_after_load_MiB"] = static_cast<double>(*resident) / 1024.0;
    state.counters["peak_reset"] = reset ? 1 : 0;
}
BENCHMARK(BM_PeakMemoryAfterLoad)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FetchAllProjectsInSortOrder(benchmark::State& state)
{
    OpenStore* store = openSharedStore(state);
    if (!store)
        return;
    auto& context = store->controller.managedObjectContext();
    std::size_t count = 0;
    for (auto _ : state) {
        auto projects = model::fetchAll<model::Project>(context);
        count = projects.size();
        benchmark::DoNotOptimize(projects.data());
    }
    state.counters["projects"] = static_cast<double>(count);
}
BENCHMARK(BM_FetchAllProjectsInSortOrder)->Unit(benchmark::kMillisecond);

// One iteration is one save, so the median over the repetitions is the median save latency.
void BM_SaveOneChangedAttribute(benchmark::State& state)
{
    OpenStore* store = openSharedStore(state);
    if (!store)
        return;
    auto& context = store->controller.managedObjectContext();
    const auto& timers = context.objects(*context.model().entity(model::Timer::entityName));
    static std::size_t round = 0;
    // The share of the SQLite write, measured between the controller's hooks around a real save.
    double saveSeconds = 0;
    Clock::time_point saveStart;
    store->controller.setSaveHooks([&] { saveStart = Clock::now(); }, [&] { saveSeconds += secondsSince(saveStart); });
    for (auto _ : state) {
        ++round;
        auto* timer = static_cast<model::Timer*>(timers[(round * 7919) % timers.size()]);
        const auto start = Clock::now();
        timer->setNotes("Meeting " + std::to_string(round));
        context.processPendingChanges(); // the change notice saves
        state.SetIterationTime(secondsSince(start));
        if (context.hasUnsavedChanges()) {
            state.SkipWithError("the change was not saved");
            break;
        }
    }
    store->controller.setSaveHooks({}, {});
    state.counters["save_ms"] = benchmark::Counter(saveSeconds * 1e3, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_SaveOneChangedAttribute)
    ->Iterations(1)
    ->Repetitions(101)
    ->ReportAggregatesOnly(true)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Construction of the controller opens the file and loads every object; tearing it down is not
// counted. The first repetition pays for fresh heap pages unless an earlier benchmark loaded a store.
void BM_OpenAndLoad(benchmark::State& state)
{
    sharedStore().reset();
    bench::StoreCopy copy;
    std::size_t objects = 0;
    for (auto _ : state) {
        foundation::NotificationCenter center;
        const auto start = Clock::now();
        auto controller = std::make_unique<model::PersistenceController>(copy.path(), center);
        state.SetIterationTime(secondsSince(start));
        if (controller->status() != model::PersistenceController::Status::ok) {
            state.SkipWithError(controller->statusMessage().c_str());
            break;
        }
        auto& context = controller->managedObjectContext();
        objects = 0;
        for (const auto& entity : context.model().entities())
            objects += context.objects(entity).size();
    }
    state.counters["objects"] = static_cast<double>(objects);
}
BENCHMARK(BM_OpenAndLoad)->Iterations(1)->Repetitions(5)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
