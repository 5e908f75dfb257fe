// The kits' queues on their hot paths: 100,000 operations through a one-at-a-time operation queue
// (every tenth waiting for the one before it), and the caller's cost of handing a block to a serial
// queue.
#include "foundation/dispatch_queue.h"
#include "foundation/operation_queue.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <vector>

namespace {

constexpr int operationCount = 100'000;

void oneAtATimeQueue(benchmark::State& state)
{
    for (auto _ : state) {
        std::atomic<int> ran{0};
        foundation::OperationQueue queue(1);
        std::shared_ptr<foundation::Operation> previous;
        for (int index = 0; index < operationCount; ++index) {
            auto operation = std::make_shared<foundation::BlockOperation>([&ran] { ran.fetch_add(1); });
            if (index % 10 == 9)
                operation->addDependency(previous);
            queue.addOperation(operation);
            previous = std::move(operation);
        }
        queue.waitUntilAllOperationsAreFinished();
        if (ran.load() != operationCount)
            state.SkipWithError("not every operation ran");
    }
    state.SetItemsProcessed(state.iterations() * operationCount);
}
BENCHMARK(oneAtATimeQueue)->Unit(benchmark::kMillisecond)->UseRealTime();

void serialQueueHandOff(benchmark::State& state)
{
    foundation::SerialQueue queue("com.horavine.bench.serial");
    std::atomic<long> ran{0};
    for (auto _ : state)
        queue.async([&ran] { ran.fetch_add(1, std::memory_order_relaxed); });
    queue.sync([] {}); // everything handed over has run before the queue ends
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(serialQueueHandOff)->Unit(benchmark::kNanosecond);

} // namespace

BENCHMARK_MAIN();
