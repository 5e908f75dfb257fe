// Hot paths of the model over a user-sized store: every timer's duration and costs, the running and
// paused timer fetches, and the week filter with a search term over every project.
#include "bench_store_fixture.h"

#include "model/date_filter_interval.h"
#include "model/filter.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace {

// One loaded store shared by all benchmarks of this program (loading it is measured elsewhere).
struct LoadedStore {
    bench::StoreCopy copy;
    foundation::NotificationCenter center;
    model::PersistenceController controller{copy.path(), center};
    data::ObjectContext& context() { return controller.managedObjectContext(); }
};

LoadedStore& store()
{
    static auto loaded = std::make_unique<LoadedStore>();
    return *loaded;
}

void BM_DurationAndCostsOfAllTimers(benchmark::State& state)
{
    auto timers = model::fetch<model::Timer>(store().context());
    for (auto _ : state) {
        std::int64_t minutes = 0;
        foundation::Decimal costs;
        for (const model::Timer* timer : timers) {
            minutes += timer->duration();
            costs += timer->costs();
        }
        benchmark::DoNotOptimize(minutes);
        benchmark::DoNotOptimize(costs);
    }
    state.counters["timers"] = static_cast<double>(timers.size());
}
BENCHMARK(BM_DurationAndCostsOfAllTimers)->Unit(benchmark::kMillisecond);

void BM_RunningTimersFetch(benchmark::State& state)
{
    std::size_t found = 0;
    for (auto _ : state)
        found = model::Timer::runningTimers(store().context()).size();
    state.counters["running"] = static_cast<double>(found);
}
BENCHMARK(BM_RunningTimersFetch)->Unit(benchmark::kMillisecond);

void BM_PausedTimersFetch(benchmark::State& state)
{
    std::size_t found = 0;
    for (auto _ : state)
        found = model::Timer::pausedTimers(store().context()).size();
    state.counters["paused"] = static_cast<double>(found);
}
BENCHMARK(BM_PausedTimersFetch)->Unit(benchmark::kMillisecond);

// The outline's filter: this week's bounds, a search term, billed timers included, by start.
void BM_WeekFilterWithSearchOverAllProjects(benchmark::State& state)
{
    auto projects = model::fetchAll<model::Project>(store().context());
    const auto week = model::dateFilterInterval(model::DateFilterRange::week, foundation::now());
    model::Filter filter;
    filter.fromDate = week->from;
    filter.toDate = week->to;
    filter.searchTerm = "meeting";
    filter.includeBilledTimers = true;
    filter.sortDescriptors = std::vector<data::SortDescriptor>{{"start", true}};
    std::size_t shown = 0;
    for (auto _ : state) {
        shown = 0;
        for (const model::Project* project : projects)
            shown += project->timers(filter).size();
    }
    state.counters["shown"] = static_cast<double>(shown);
}
BENCHMARK(BM_WeekFilterWithSearchOverAllProjects)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
