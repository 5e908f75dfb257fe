// The user logs on their queue: 10,000 messages through BBXLog and 10,000 user key-value pairs (with
// a compaction every 64), each call waiting for its write as the application's calls do.
#include "kits/crash/capture/bbx_context.h"
#include "kits/crash/capture/bbx_support.h"
#include "kits/crash/capture/bbx_user_logging.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

// Removed at exit, when no write is pending any more (every call waited for its write).
struct ScratchFolder {
    std::filesystem::path path;
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

// A context with its log files in a fresh folder, marked initialized; made once.
const std::filesystem::path& loggingFolder()
{
    static const ScratchFolder folder{[] {
        auto path = std::filesystem::temp_directory_path() / ("bbx-user-logging-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        BBXContextCreate();
        BBXSetDuplicateStringAllocator(BBXContextGet()->allocator);
        BBXContextInitData data;
        data.reportDirectory = path.c_str();
        data.errorReportingEnabled = 1;
        data.customExceptionsEnabled = 1;
        data.maximumCustomExceptions = 16;
        data.logBufferSize = 65536;
        data.maximumCustomKeys = 16;
        BBXContextInitializeLogFiles(&data);
        std::atomic_ref<std::uint8_t>(BBXContextGet()->initialized).store(1);
        return path;
    }()};
    return folder.path;
}

void BM_TenThousandLogMessages(benchmark::State& state)
{
    loggingFolder();
    for (auto _ : state) {
        for (int index = 0; index < 10'000; ++index)
            BBXLog("Timer %d of project %s stopped after %d minutes", index, "Horavine", index % 480);
    }
}
BENCHMARK(BM_TenThousandLogMessages)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_TenThousandUserPairs(benchmark::State& state)
{
    loggingFolder();
    for (auto _ : state) {
        for (int index = 0; index < 10'000; ++index) {
            const std::string key = "key" + std::to_string(index % 100);
            const foundation::PropertyListValue value(std::int64_t{index});
            BBXUserLoggingRecordUserKeyValue(&key, &value);
        }
    }
}
BENCHMARK(BM_TenThousandUserPairs)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

BENCHMARK_MAIN();
