// The crash kit's start with 50 crashed launches waiting (no launch marker, so none is urgent): how long
// the kit platform's start call takes, and how long until all 50 reports have reached a loopback reports
// service. Each round is a fresh process (the kits start once per process) with its own folders.
#include "crash_directory.h"
#include "foundation/main_bundle.h"
#include "hooks/pinned_certificates_hook.h"
#include "kits/crash/bbx_file_manager.h"
#include "kits/crash/blackbox.h"
#include "kits/platform/keystone.h"
#include "kits/platform/kit_log.h"
#include "loopback_server.h"
#include "test_certificates.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int crashedLaunches = 50;
const char* reportsPath = "/sdk-api/v1/platforms/mac/apps/org.example.bench/reports";

struct Round {
    double startSeconds = -1;
    double uploadedSeconds = -1; // -1: not all arrived within a minute
};

// In the child: the folders, the server, the start, and the wait for the uploads.
Round runRound(const fs::path& root)
{
    foundation::MainBundle::setCachesDirectory(root / "caches");
    foundation::MainBundle::setApplicationSupportDirectory(root / "support");
    foundation::MainBundle::setInfoDictionary(foundation::PropertyListDictionary{
        {"CFBundleIdentifier", "org.example.bench"},
        {"Keystone",
         foundation::PropertyListDictionary{{"APIKey", "bench-key"}, {"Kits", foundation::PropertyListArray{}}}}});
    const fs::path active = kits::BBXFileManager().activePath();
    for (int index = 0; index < crashedLaunches; ++index) {
        const std::string identifier = "launch" + std::to_string(index);
        benchcrash::writeReport(active / identifier, identifier);
    }
    fs::create_directories(root / "certificates");
    const testsupport::TestCertificates certificates(root / "certificates");
    kits::testhooks::setPinnedCertificates(kits::KSTCertificateArray{
        kits::KSTCreateCertificate(certificates.rootA.der.data(), certificates.rootA.der.size())});
    testsupport::LoopbackServerOptions options;
    options.identity = &certificates.leafA;
    options.life = std::chrono::seconds(90);
    testsupport::LoopbackServer server(options);
    server.setHandler([](const testsupport::RecordedRequest&) {
        return testsupport::ScriptedAnswer{200, {}, {{"Content-Type", "application/json"}}, "{}"};
    });
    ::setenv("BlackboxReportsEndpoint", server.url("").c_str(), 1);
    kits::setKitLogSink([](std::string_view) {});

    Round round;
    const auto begin = Clock::now();
    kits::Keystone::with({kits::Blackbox::kitClass()});
    round.startSeconds = std::chrono::duration<double>(Clock::now() - begin).count();
    const auto uploads = [&] {
        std::size_t count = 0;
        for (const auto& request : server.requests())
            count += request.method == "POST" && request.path() == reportsPath;
        return count;
    };
    while (uploads() < crashedLaunches && Clock::now() - begin < std::chrono::seconds(60))
        server.waitForRequests(server.requests().size() + 1, std::chrono::milliseconds(100));
    if (uploads() >= crashedLaunches)
        round.uploadedSeconds = std::chrono::duration<double>(Clock::now() - begin).count();
    return round;
}

Round roundInChild()
{
    int channel[2];
    if (::pipe(channel) != 0)
        return {};
    const fs::path root = fs::temp_directory_path() / ("blackbox-start-bench-" + std::to_string(::getpid()));
    fs::create_directories(root);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        const Round round = runRound(root);
        [[maybe_unused]] const auto written = ::write(channel[1], &round, sizeof round);
        ::_exit(0);
    }
    ::close(channel[1]);
    Round round;
    if (child < 0 || ::read(channel[0], &round, sizeof round) != static_cast<ssize_t>(sizeof round))
        round = {};
    ::close(channel[0]);
    int status = 0;
    if (child > 0)
        ::waitpid(child, &status, 0);
    fs::remove_all(root);
    return round;
}

void BM_StartWithFiftyCrashedLaunchesWaiting(benchmark::State& state)
{
    double slowestUpload = 0;
    for (auto _ : state) {
        const Round round = roundInChild();
        if (round.startSeconds < 0) {
            state.SkipWithError("the round's child failed");
            return;
        }
        state.SetIterationTime(round.startSeconds);
        if (round.uploadedSeconds < 0) {
            state.SkipWithError("not all 50 reports were uploaded within a minute");
            return;
        }
        slowestUpload = std::max(slowestUpload, round.uploadedSeconds);
    }
    state.counters["slowest_all_uploaded_s"] = slowestUpload;
}
BENCHMARK(BM_StartWithFiftyCrashedLaunchesWaiting)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
