// The unwind cursor at crash-time depths: a 1,000-frame walk through call-frame information (sdk.log
// closed and open, the repeated-PC rule reuse off and on), a 40-frame stack through libc's qsort, and
// a 100,000-deep recursion on a 64 MiB stack. Built without frame pointers, so every frame goes
// through DWARF. Each iteration times the walk alone (manual time), taken on a thread of its own at
// the bottom of the recursion.
#include "kits/crash/capture/bbx_sdk_log.h"
#include "kits/crash/capture/bbx_unwind.h"

#include "system/elf_identity.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <pthread.h>
#include <ucontext.h>
#include <unistd.h>
#include <vector>

namespace {

const std::vector<kits::BBXBinaryImageNode>& nodes()
{
    static const auto list = [] {
        std::vector<kits::BBXBinaryImageNode> result;
        for (const auto& image : os::loadedImages())
            result.push_back({image.base, image.size, image.ehFrameHeader, 0, 0});
        return result;
    }();
    return list;
}

kits::BBXImageFinder finder()
{
    return {[](const void*, std::uint64_t address, kits::BBXBinaryImageNode* node) {
                for (const auto& candidate : nodes()) {
                    if (candidate.holds(address)) {
                        *node = candidate;
                        return true;
                    }
                }
                return false;
            },
            nullptr};
}

// Off: every frame's rules are found and run afresh, as for a stack without repeated PCs.
bool reuseRules = true;

struct Walk {
    double seconds = 0;
    std::uint32_t frames = 0;
};

// Walks the calling thread's stack from a context taken here.
__attribute__((noinline)) Walk walkHere()
{
    ucontext_t context;
    ::getcontext(&context);
    const auto& g = context.uc_mcontext.gregs;
    const int order[] = {REG_RAX, REG_RDX, REG_RCX, REG_RBX, REG_RSI, REG_RDI, REG_RBP, REG_RSP, REG_R8,
                         REG_R9,  REG_R10, REG_R11, REG_R12, REG_R13, REG_R14, REG_R15, REG_RIP};
    kits::BBXDwarfRegisters registers;
    for (std::size_t index = 0; index < std::size(order); ++index)
        registers.value[index] = static_cast<std::uint64_t>(g[order[index]]);
    const auto start = std::chrono::steady_clock::now();
    kits::BBXUnwindCursor cursor;
    kits::BBXUnwindInit(&cursor, registers, kits::BBXUnwindProcessMemory(), finder());
    cursor.reuseRepeatedRules = reuseRules;
    Walk walk;
    while (kits::BBXUnwindNextFrameUsingAllStrategies(&cursor))
        ++walk.frames;
    walk.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return walk;
}

__attribute__((noinline)) Walk recurse(int depth)
{
    if (depth <= 0)
        return walkHere();
    Walk walk = recurse(depth - 1);
    asm volatile("" ::: "memory"); // no tail call
    return walk;
}

// Runs `recurse(depth)` on a thread with a stack of `stackBytes`.
Walk onThread(int depth, std::size_t stackBytes)
{
    struct Job {
        int depth;
        Walk walk;
    } job{depth, {}};
    pthread_attr_t attributes;
    ::pthread_attr_init(&attributes);
    ::pthread_attr_setstacksize(&attributes, stackBytes);
    pthread_t thread;
    ::pthread_create(
        &thread, &attributes,
        [](void* argument) -> void* {
            auto& into = *static_cast<Job*>(argument);
            into.walk = recurse(into.depth);
            return nullptr;
        },
        &job);
    ::pthread_join(thread, nullptr);
    ::pthread_attr_destroy(&attributes);
    return job.walk;
}

void report(benchmark::State& state, const Walk& walk)
{
    state.SetIterationTime(walk.seconds);
    state.counters["frames"] = walk.frames;
}

// Arguments: sdk.log open, repeated-PC rule reuse on.
void BM_DwarfUnwind1000Frames(benchmark::State& state)
{
    const bool logOpen = state.range(0) != 0;
    reuseRules = state.range(1) != 0;
    const auto log = std::filesystem::temp_directory_path() / "horavine-unwind-bench-sdk.log";
    BBXSDKLogSetContext(logOpen ? log.c_str() : nullptr, 1);
    for (auto _ : state)
        report(state, onThread(1000, 8 << 20));
    BBXSDKLogSetContext(nullptr, 1);
    std::filesystem::remove(log);
    reuseRules = true;
}
BENCHMARK(BM_DwarfUnwind1000Frames)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

Walk qsortWalk;

int compareWalkingOnce(const void* left, const void* right)
{
    if (qsortWalk.frames == 0)
        qsortWalk = walkHere();
    return *static_cast<const int*>(left) - *static_cast<const int*>(right);
}

__attribute__((noinline)) void sortAt(int depth)
{
    if (depth > 0) {
        sortAt(depth - 1);
        asm volatile("" ::: "memory");
        return;
    }
    int values[] = {5, 3, 9, 1, 7, 2, 8};
    std::qsort(values, std::size(values), sizeof values[0], compareWalkingOnce);
}

void BM_Unwind40FramesThroughLibc(benchmark::State& state)
{
    for (auto _ : state) {
        qsortWalk = {};
        sortAt(30); // with the benchmark's own frames and qsort's, about 40
        report(state, qsortWalk);
    }
}
BENCHMARK(BM_Unwind40FramesThroughLibc)->UseManualTime()->Unit(benchmark::kMicrosecond);

// Argument: repeated-PC rule reuse on.
void BM_Recursion100000Deep(benchmark::State& state)
{
    reuseRules = state.range(0) != 0;
    for (auto _ : state)
        report(state, onThread(100000, 64 << 20));
    reuseRules = true;
}
BENCHMARK(BM_Recursion100000Deep)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
