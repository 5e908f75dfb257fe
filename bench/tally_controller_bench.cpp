// The analytics controller under load: the time `Tally::logCustomEvent` takes on the caller's thread
// while the event queue works through a backlog, a burst of 10,000 events from 4 threads until the
// queue has written, rotated and packaged them all, and 100 waiting packages uploaded to a loopback
// server once settings arrive.
#include "kits/analytics/tally.h"
#include "kits/analytics/tly_tally_controller.h"
#include "kits/platform/host_functions.h"

#include "hooks/pinned_certificates_hook.h"
#include "loopback_server.h"
#include "tally_metadata.h"
#include "temp_folder.h"
#include "test_certificates.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* folderPrefix = "tally-controller-bench";

// A controller over the folder; `settings` answers what the kit platform would have downloaded.
std::shared_ptr<kits::TLYTallyController>
startController(const fs::path& root, std::shared_ptr<const foundation::PropertyListDictionary> settings = nullptr)
{
    kits::TLYTallyController::Environment environment;
    environment.settings = [settings] { return settings; };
    environment.metadata = [metadata = bench::tallyMetadata()](const std::optional<std::string>&) { return metadata; };
    auto controller = kits::TLYTallyController::initWithBetaToken(std::nullopt, root, environment);
    controller->eventQueue()->waitUntilAllOperationsAreFinished();
    return controller;
}

// The packages in the controller's event folder.
std::size_t waitingPackages(const fs::path& root)
{
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(kits::TLYTallyController::eventDirectoryForRootDirectory(root)))
        count += entry.path().extension() == ".multipartmime";
    return count;
}

double percentile(std::vector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[index];
}

const kits::Attributes attributes{{"timer type", std::string("Period")},
                                  {"navigationContext", std::string("miniWindow")},
                                  {"value", true},
                                  {"count", std::int64_t{12}},
                                  {"ratio", 0.25}};

// Each batch: 2,000 events build a backlog, then 10,000 calls are timed one by one while the queue
// writes (and rotates) behind them; the queue drains outside the timing.
void BM_LogCustomEventWhileTheQueueIsBusy(benchmark::State& state)
{
    testsupport::TempFolder folder(folderPrefix);
    const auto controller = startController(folder.path());
    kits::Tally::setEventControllerForTesting(controller);
    std::vector<double> micros;
    std::size_t busyAtEnd = 0;
    for (auto _ : state) {
        for (int index = 0; index < 2000; ++index)
            kits::Tally::logCustomEvent("Backlog", attributes);
        Clock::duration total{};
        for (int index = 0; index < 10'000; ++index) {
            const auto start = Clock::now();
            kits::Tally::logCustomEvent("Start Timer", attributes);
            const auto took = Clock::now() - start;
            total += took;
            micros.push_back(std::chrono::duration<double, std::micro>(took).count());
        }
        busyAtEnd += controller->eventQueue()->operationCount();
        state.SetIterationTime(std::chrono::duration<double>(total).count());
        controller->eventQueue()->waitUntilAllOperationsAreFinished();
    }
    kits::Tally::setEventControllerForTesting(nullptr);
    state.counters["median_us"] = percentile(micros, 0.5);
    state.counters["p99_us"] = percentile(micros, 0.99);
    state.counters["max_us"] = percentile(micros, 1.0);
    state.counters["queued_at_end"] =
        benchmark::Counter(static_cast<double>(busyAtEnd), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_LogCustomEventWhileTheQueueIsBusy)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// From the first call until the queue is idle: every event written, every full log rotated,
// compressed and packaged (no settings, so the packages stay on disk).
void BM_BurstOfTenThousandFromFourThreadsUntilDrained(benchmark::State& state)
{
    std::size_t packages = 0;
    // Each round's controller and folder go at the next round's start, while the timing is paused.
    std::optional<testsupport::TempFolder> folder;
    std::shared_ptr<kits::TLYTallyController> controller;
    for (auto _ : state) {
        state.PauseTiming();
        controller.reset();
        folder.emplace(folderPrefix);
        controller = startController(folder->path());
        state.ResumeTiming();
        std::vector<std::thread> senders;
        for (int thread = 0; thread < 4; ++thread)
            senders.emplace_back([&controller, thread] {
                for (int index = 0; index < 2500; ++index)
                    controller->logEvent(std::make_shared<kits::TLYCustomEvent>(
                        "burst " + std::to_string(thread) + "." + std::to_string(index), std::nullopt));
            });
        for (auto& sender : senders)
            sender.join();
        controller->eventQueue()->waitUntilAllOperationsAreFinished();
        state.PauseTiming();
        packages += waitingPackages(folder->path());
        state.ResumeTiming();
    }
    state.counters["packages"] = benchmark::Counter(static_cast<double>(packages), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_BurstOfTenThousandFromFourThreadsUntilDrained)->Unit(benchmark::kMillisecond)->Iterations(5);

// 100 packages of about 3 KB waiting from an earlier run; from the start with settings until the
// server has all 100 and the folder holds none.
void BM_HundredPackagesUploadedToTheLoopbackServer(benchmark::State& state)
{
    const testsupport::TempFolder certificateFolder(folderPrefix);
    const testsupport::TestCertificates certificates(certificateFolder.path());
    kits::testhooks::setPinnedCertificates(kits::KSTCertificateArray{
        kits::KSTCreateCertificate(certificates.rootA.der.data(), certificates.rootA.der.size())});
    testsupport::LoopbackServer server(
        testsupport::LoopbackServerOptions{&certificates.leafA, {}, std::chrono::minutes(30)});
    server.setHandler([](const testsupport::RecordedRequest&) {
        testsupport::ScriptedAnswer answer;
        answer.status = 202;
        return answer;
    });
    foundation::PropertyListDictionary analytics;
    analytics.set("url", foundation::PropertyListValue(server.url("/spi/v2/events")));
    foundation::PropertyListDictionary settings;
    settings.set("analytics", foundation::PropertyListValue(analytics));
    const auto shared = std::make_shared<const foundation::PropertyListDictionary>(settings);
    const std::string body(3000, 'e');
    // Each round's controller and folder go at the next round's start, while the timing is paused.
    std::optional<testsupport::TempFolder> folder;
    std::shared_ptr<kits::TLYTallyController> controller;
    for (auto _ : state) {
        state.PauseTiming();
        controller.reset();
        folder.emplace(folderPrefix);
        const fs::path events = kits::TLYTallyController::eventDirectoryForRootDirectory(folder->path());
        fs::create_directories(events);
        for (int index = 0; index < 100; ++index) {
            const auto boundary = kits::KSTGenerateUUIDString();
            std::ofstream(events / (boundary + ".multipartmime"), std::ios::binary)
                << "--" << boundary << "\r\n\r\n"
                << body << "\r\n--" << boundary << "--\r\n";
        }
        server.clearRequests();
        state.ResumeTiming();
        controller = startController(folder->path(), shared);
        const auto end = Clock::now() + std::chrono::seconds(60);
        while ((server.requests().size() < 100 || waitingPackages(folder->path()) > 0) && Clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        state.PauseTiming();
        if (server.requests().size() != 100 || waitingPackages(folder->path()) != 0)
            state.SkipWithError("not all 100 packages were uploaded exactly once");
        controller->eventQueue()->waitUntilAllOperationsAreFinished();
        state.ResumeTiming();
    }
    controller.reset();
    kits::testhooks::setPinnedCertificates(std::nullopt);
}
BENCHMARK(BM_HundredPackagesUploadedToTheLoopbackServer)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

BENCHMARK_MAIN();
