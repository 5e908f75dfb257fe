// Start-up of the real program on a user-sized store: from the process start to the main window's
// first paint, as the program itself reports it (HORAVINE_REPORT_STARTUP=1), beside the same for an
// empty main window of a program of the same build (the baseline). The store loads while the window
// shows: the time until it is in the window is the counter "store_in_window_s". Every run gets its own copy of the
// store and a fresh home; the program is ended with SIGTERM after reporting and must end with status 0. A
// round that fails keeps its home (crash records included) with the program's stderr in it.
#include "bench_store_fixture.h"

#include <benchmark/benchmark.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

namespace {

struct Launch {
    std::optional<double> seconds;      // process start to the main window's first paint, as reported
    double peakMiB = 0;                 // the program's peak memory (VmHWM) once the store is in
    std::optional<double> storeSeconds; // process start to the loaded store in the window
    int status = -1;                    // as waitpid gives it, after the SIGTERM that ends the round
    std::string output;                 // everything the program wrote to stderr
};

std::optional<double> reportedSeconds(const std::string& text, const std::string& marker)
{
    const auto at = text.find(marker);
    if (at == std::string::npos || text.find('\n', at) == std::string::npos)
        return std::nullopt;
    return std::strtod(text.c_str() + at + marker.size(), nullptr);
}

// Starts `program` with the store folder as its Documents folder and waits (at most 60 s) for its
// report of the shown window and, with `withStore`, of the store in it; then ends it with SIGTERM and
// reads what it wrote until it is gone.
Launch launchAndMeasure(const char* program, const std::filesystem::path& storeFolder,
                        const std::filesystem::path& home, bool withStore)
{
    Launch launch;
    int output[2];
    if (::pipe(output) != 0)
        return launch;
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(output[1], STDERR_FILENO);
        ::close(output[0]);
        ::close(output[1]);
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_DOCUMENTS_DIR", storeFolder.c_str(), 1);
        ::unsetenv("XDG_CONFIG_HOME");
        ::unsetenv("XDG_CACHE_HOME");
        ::unsetenv("XDG_DATA_HOME");
        ::setenv("HORAVINE_REPORT_STARTUP", "1", 1);
        if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::execl(program, program, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(output[1]);
    pollfd readable{output[0], POLLIN, 0};
    const auto readSome = [&](int timeoutMs) {
        char buffer[4096];
        if (::poll(&readable, 1, timeoutMs) <= 0)
            return false;
        const ssize_t count = ::read(output[0], buffer, sizeof buffer);
        if (count <= 0)
            return false;
        launch.output.append(buffer, static_cast<size_t>(count));
        return true;
    };
    while ((!launch.seconds || (withStore && !launch.storeSeconds)) && readSome(60'000)) {
        launch.seconds = reportedSeconds(launch.output, "main window shown ");
        launch.storeSeconds = reportedSeconds(launch.output, "store in the main window ");
    }
    launch.peakMiB = static_cast<double>(bench::processStatusKiB("VmHWM", std::to_string(child)).value_or(0)) / 1024.0;
    ::kill(child, SIGTERM);
    while (readSome(30'000)) {}
    ::waitpid(child, &launch.status, 0);
    ::close(output[0]);
    return launch;
}

// Why a round failed, or nothing: the program must show its window and the store, and end with status 0
// at the SIGTERM (the baseline's empty window, which has no quit handling, is ended by it).
std::optional<std::string> failureOf(const Launch& launch, bool withStore)
{
    if (!launch.seconds)
        return "the program did not show its main window";
    if (!withStore)
        return std::nullopt;
    if (!launch.storeSeconds)
        return "the program did not report its store in the main window";
    if (!WIFEXITED(launch.status) || WEXITSTATUS(launch.status) != 0)
        return WIFSIGNALED(launch.status) ? "the program died of signal " + std::to_string(WTERMSIG(launch.status))
                                          : "the program ended with status " + std::to_string(launch.status);
    return std::nullopt;
}

void launchRepeatedly(benchmark::State& state, const char* program, bool withStore)
{
    double peakMiB = 0;
    double storeSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        bench::StoreCopy store;
        const auto home = bench::detail::makeTemporaryFolder("horavine-bench-home-");
        state.ResumeTiming();
        const Launch launch = launchAndMeasure(program, store.path().parent_path(), home, withStore);
        if (const auto failure = failureOf(launch, withStore)) {
            // The round's home (crash records included) and its stderr stay for a look.
            std::ofstream(home / "stderr.txt") << launch.output;
            state.SkipWithError((*failure + "; its home and stderr are kept in " + home.string()).c_str());
            break;
        }
        std::error_code ignored;
        std::filesystem::remove_all(home, ignored);
        state.SetIterationTime(*launch.seconds);
        peakMiB = std::max(peakMiB, launch.peakMiB);
        storeSeconds += launch.storeSeconds.value_or(0);
    }
    state.counters["peak_MiB"] = peakMiB;
    if (withStore)
        state.counters["store_in_window_s"] = benchmark::Counter(storeSeconds, benchmark::Counter::kAvgIterations);
}

void BM_LaunchToShownMainWindow(benchmark::State& state)
{
    launchRepeatedly(state, HORAVINE_PROGRAM, true);
}
BENCHMARK(BM_LaunchToShownMainWindow)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3);

void BM_LaunchToShownEmptyWindow(benchmark::State& state)
{
    launchRepeatedly(state, HORAVINE_EMPTY_WINDOW_PROGRAM, false);
}
BENCHMARK(BM_LaunchToShownEmptyWindow)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3);

} // namespace

BENCHMARK_MAIN();
