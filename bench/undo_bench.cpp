// Undo and redo of deleting the large project (its timers and their pauses go with it) in a
// user-sized store; each measured step includes the change pass and the save it triggers.
#include "bench_store_fixture.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class LargeProjectDeletion {
public:
    LargeProjectDeletion() : controller_(copy_.path(), center_)
    {
        if (controller_.status() != model::PersistenceController::Status::ok)
            return;
        project_ = bench::largestProject(context());
        if (project_) {
            timers_ = project_->timers().size();
            for (auto* timer : project_->timers())
                pauses_ += timer->pauseEntries().size();
        }
        controller_.setSaveHooks([this] { saveStart_ = Clock::now(); },
                                 [this] { saveSeconds_ += secondsSince(saveStart_); });
    }

    data::ObjectContext& context() { return controller_.managedObjectContext(); }
    std::string problem() const
    {
        if (controller_.status() != model::PersistenceController::Status::ok)
            return controller_.statusMessage();
        return project_ ? std::string() : "the store has no project";
    }
    std::size_t timers() const { return timers_; }
    std::size_t pauses() const { return pauses_; }

    void deleteProject()
    {
        context().deleteObject(project_);
        context().processPendingChanges();
    }
    bool projectIsDeleted() const { return project_->isDeleted(); }
    // The project is back with all its timers and pauses, and everything is saved.
    bool projectIsWhole()
    {
        if (project_->isDeleted() || project_->timers().size() != timers_ || context().hasUnsavedChanges())
            return false;
        std::size_t pauses = 0;
        for (auto* timer : project_->timers())
            pauses += timer->pauseEntries().size();
        return pauses == pauses_;
    }

    // Seconds spent in saves since the last call.
    double takeSaveSeconds() { return std::exchange(saveSeconds_, 0.0); }

private:
    bench::StoreCopy copy_;
    foundation::NotificationCenter center_;
    model::PersistenceController controller_;
    model::Project* project_ = nullptr;
    std::size_t timers_ = 0;
    std::size_t pauses_ = 0;
    Clock::time_point saveStart_;
    double saveSeconds_ = 0;
};

void reportCounters(benchmark::State& state, const LargeProjectDeletion& deletion, double saveSeconds)
{
    state.counters["timers"] = static_cast<double>(deletion.timers());
    state.counters["pauses"] = static_cast<double>(deletion.pauses());
    state.counters["save_ms"] = benchmark::Counter(saveSeconds * 1e3, benchmark::Counter::kAvgIterations);
}

void BM_UndoDeleteLargeProject(benchmark::State& state)
{
    LargeProjectDeletion deletion;
    if (const auto problem = deletion.problem(); !problem.empty()) {
        state.SkipWithError(problem.c_str());
        return;
    }
    double saveSeconds = 0;
    for (auto _ : state) {
        deletion.deleteProject();
        deletion.takeSaveSeconds();
        const auto start = Clock::now();
        deletion.context().undoManager().undo();
        state.SetIterationTime(secondsSince(start));
        saveSeconds += deletion.takeSaveSeconds();
        if (!deletion.projectIsWhole()) {
            state.SkipWithError("undo did not bring the project back whole");
            break;
        }
    }
    reportCounters(state, deletion, saveSeconds);
}
BENCHMARK(BM_UndoDeleteLargeProject)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_RedoDeleteLargeProject(benchmark::State& state)
{
    LargeProjectDeletion deletion;
    if (const auto problem = deletion.problem(); !problem.empty()) {
        state.SkipWithError(problem.c_str());
        return;
    }
    double saveSeconds = 0;
    for (auto _ : state) {
        deletion.deleteProject();
        deletion.context().undoManager().undo();
        deletion.takeSaveSeconds();
        const auto start = Clock::now();
        deletion.context().undoManager().redo();
        state.SetIterationTime(secondsSince(start));
        saveSeconds += deletion.takeSaveSeconds();
        if (!deletion.projectIsDeleted() || deletion.context().hasUnsavedChanges()) {
            state.SkipWithError("redo did not delete the project again");
            break;
        }
        deletion.context().undoManager().undo(); // the next round starts from the whole store
        if (!deletion.projectIsWhole()) {
            state.SkipWithError("undo after redo did not bring the project back whole");
            break;
        }
    }
    reportCounters(state, deletion, saveSeconds);
}
BENCHMARK(BM_RedoDeleteLargeProject)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
