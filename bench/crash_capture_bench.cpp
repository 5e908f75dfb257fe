// A whole capture in a crashing process: the crash child parks 10 threads 40 frames deep and writes
// through a null pointer; timed from the fault to the last record line written (the signal file's
// last write) and, as a counter, to the process's death. Also a stack overflow on the main thread,
// from the start of the recursion to the last record line.
#include "crash_child_run.h"

#include <benchmark/benchmark.h>

namespace {

void runCaptures(benchmark::State& state, const char* mode)
{
    double deathSeconds = 0;
    std::int64_t runs = 0;
    for (auto _ : state) {
        const auto run = testsupport::runCrashChild(mode);
        const auto fault = run.marks.find("fault_at");
        const long written = testsupport::lastWrittenAt(run.file("signal.bbxrecord"));
        if (!run.diedBy(SIGSEGV) || fault == run.marks.end() || written == 0) {
            state.SkipWithError("the crash child left no record");
            return;
        }
        state.SetIterationTime(static_cast<double>(written - fault->second) / 1e9);
        deathSeconds += static_cast<double>(run.diedAt - fault->second) / 1e9;
        ++runs;
    }
    state.counters["to_death_ms"] = runs ? deathSeconds * 1000 / static_cast<double>(runs) : 0;
}

void BM_CaptureWithTenParkedThreads(benchmark::State& state)
{
    runCaptures(state, "parked");
}
BENCHMARK(BM_CaptureWithTenParkedThreads)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_CaptureOfAStackOverflow(benchmark::State& state)
{
    runCaptures(state, "recursion");
}
BENCHMARK(BM_CaptureOfAStackOverflow)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

BENCHMARK_MAIN();
