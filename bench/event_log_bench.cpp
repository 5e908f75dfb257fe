// The analytics kit's hot paths: building and validating a usage event on the caller's thread, and
// the event log pipeline writing 10,000 events into logs rotated past 8,000 bytes, each log then
// compressed and packaged as the controller does.
#include "tally_metadata.h"

#include "kits/analytics/event_controller.h"
#include "kits/analytics/tally.h"
#include "kits/analytics/tly_compress_log_operation.h"
#include "kits/analytics/tly_file_utils.h"
#include "kits/analytics/tly_package_log_operation.h"
#include "kits/analytics/tly_write_event_operation.h"
#include "kits/platform/host_functions.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <filesystem>

namespace {

// Takes events and drops them, so only building and validating is measured.
class DiscardingController final : public kits::TLYEventController {
public:
    void logEvent(std::shared_ptr<const kits::TLYEvent> event) override { count += event != nullptr; }
    void logCrashEvent(std::shared_ptr<const kits::TLYCrashEvent>) override {}
    std::atomic<std::size_t> count{0};
};

void BM_LogCustomEventWithFiveAttributes(benchmark::State& state)
{
    auto controller = std::make_shared<DiscardingController>();
    kits::Tally::setEventControllerForTesting(controller);
    const kits::Attributes attributes{{"timer type", std::string("Period")},
                                      {"navigationContext", std::string("miniWindow")},
                                      {"value", true},
                                      {"count", std::int64_t{12}},
                                      {"ratio", 0.25}};
    for (auto _ : state)
        kits::Tally::logCustomEvent("Start Timer", attributes);
    kits::Tally::setEventControllerForTesting(nullptr);
    benchmark::DoNotOptimize(controller->count.load());
}
BENCHMARK(BM_LogCustomEventWithFiveAttributes)->Unit(benchmark::kMicrosecond);

void BM_TenThousandEventsThroughThePipeline(benchmark::State& state)
{
    namespace fs = std::filesystem;
    const fs::path directory = fs::temp_directory_path() / ("event_log_bench-" + kits::KSTGenerateUUIDString());
    fs::create_directories(directory);
    const auto metadata = bench::tallyMetadata();
    std::size_t packages = 0;
    for (auto _ : state) {
        fs::path log = directory / (kits::KSTGenerateUUIDString() + ".log");
        for (int index = 0; index < 10'000; ++index) {
            auto event = std::make_shared<const kits::TLYCustomEvent>(
                "Start Timer",
                foundation::PropertyListDictionary{{"timer type", "Period"}, {"navigationContext", "miniWindow"}});
            std::make_shared<kits::TLYWriteEventOperation>(std::move(event), metadata, log)->start();
            if (kits::TLYFileUtils::fileSizeAtURL(log) <= 8000)
                continue;
            const fs::path gz = kits::TLYCompressLogOperation::compressedURLForUncompressedURL(log);
            std::make_shared<kits::TLYCompressLogOperation>(log, gz)->start();
            fs::remove(log);
            const std::string boundary = kits::KSTGenerateUUIDString();
            std::make_shared<kits::TLYPackageLogOperation>(
                gz, kits::TLYPackageLogOperation::multipartURLForCompressedURL(gz, boundary), boundary)
                ->start();
            fs::remove(gz);
            ++packages;
            log = directory / (kits::KSTGenerateUUIDString() + ".log");
        }
        state.PauseTiming();
        fs::remove_all(directory);
        fs::create_directories(directory);
        state.ResumeTiming();
    }
    fs::remove_all(directory);
    state.counters["packages"] = benchmark::Counter(static_cast<double>(packages), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_TenThousandEventsThroughThePipeline)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
