// The capture's thread snapshot (BBXHandler) as a crash runs it: inside a signal handler, with 20
// other threads parked 30 frames deep. Each iteration times the handler alone (manual time), with
// sdk.log taking every line and with sdk.log at warnings only.
#include "kits/crash/capture/bbx_binary_image.h"
#include "kits/crash/capture/bbx_context.h"
#include "kits/crash/capture/bbx_file.h"
#include "kits/crash/capture/bbx_host.h"
#include "kits/crash/capture/bbx_process.h"
#include "kits/crash/capture/bbx_sdk_log.h"
#include "kits/crash/capture/bbx_support.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <string>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::atomic<bool> stopThreads{false};
std::atomic<int> parkedThreads{0};
char recordPath[512];

__attribute__((noinline)) int descend(int depth)
{
    if (depth == 0) {
        parkedThreads.fetch_add(1);
        while (!stopThreads.load()) {
            timespec pause{0, 10'000'000};
            ::nanosleep(&pause, nullptr);
        }
        return 0;
    }
    int result = descend(depth - 1);
    asm volatile("" : "+r"(result)::"memory");
    return result + 1;
}

void snapshotHandler(int, siginfo_t*, void* context)
{
    BBXFile file;
    if (BBXFileInitWithPathMode(&file, recordPath, false, false)) {
        BBXHandler(&file, static_cast<pid_t>(::syscall(SYS_gettid)), static_cast<const ucontext_t*>(context));
        BBXFileClose(&file);
    }
}

struct Fixture {
    std::filesystem::path folder;
    std::vector<std::thread> threads;

    Fixture()
    {
        folder = std::filesystem::temp_directory_path() / ("bbx-snapshot-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        BBXSDKLogSetContext((folder / "sdk.log").c_str(), 1);
        BBXContextCreate();
        BBXContext* context = BBXContextGet();
        BBXSetDuplicateStringAllocator(context->allocator);
        context->binaryImagesPath = BBXDuplicateString((folder / "binary_images.bbxrecord").c_str());
        BBXHostInitialize();
        BBXBinaryImageInit();
        const auto record = (folder / "signal.bbxrecord").string();
        record.copy(recordPath, sizeof recordPath - 1);
        for (int index = 0; index < 20; ++index)
            threads.emplace_back([] { descend(30); });
        while (parkedThreads.load() < 20)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        struct sigaction action {};
        action.sa_sigaction = snapshotHandler;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        sigaction(SIGUSR2, &action, nullptr);
    }
    ~Fixture()
    {
        stopThreads = true;
        for (auto& thread : threads)
            thread.join();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

Fixture& fixture()
{
    static Fixture made;
    return made;
}

void runSnapshots(benchmark::State& state, std::uint32_t logLevel)
{
    fixture();
    BBXSDKLogSetMinimumLevel(logLevel);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        ::raise(SIGUSR2);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    BBXSDKLogSetMinimumLevel(1);
}

void BM_SnapshotInSignalHandler_LogEveryLine(benchmark::State& state)
{
    runSnapshots(state, BBXSDKLogLevelDebug);
}
BENCHMARK(BM_SnapshotInSignalHandler_LogEveryLine)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

void BM_SnapshotInSignalHandler_LogWarnings(benchmark::State& state)
{
    runSnapshots(state, BBXSDKLogLevelWarn);
}
BENCHMARK(BM_SnapshotInSignalHandler_LogWarnings)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

} // namespace

BENCHMARK_MAIN();
