// Start-up of the real program on a user-sized store: from the process start to the main window's
// first paint, as the program itself reports it (HORAVINE_REPORT_STARTUP=1), beside the same for an
// empty main window of a program of the same build (the baseline). The store loads while the window
// shows: the time until it is in the window is the counter "store_in_window_s". Every run gets its own copy of the
// store and a fresh home; the program is ended with SIGTERM after reporting.
#include "bench_store_fixture.h"

#include <benchmark/benchmark.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

struct Launch {
    double seconds;                     // process start to the main window's first paint, as reported
    double peakMiB;                     // the program's peak memory (VmHWM) once the store is in
    std::optional<double> storeSeconds; // process start to the loaded store in the window
};

std::optional<double> reportedSeconds(const std::string& text, const std::string& marker)
{
    const auto at = text.find(marker);
    if (at == std::string::npos || text.find('\n', at) == std::string::npos)
        return std::nullopt;
    return std::strtod(text.c_str() + at + marker.size(), nullptr);
}

// Starts `program` with the store folder as its Documents folder; returns what it reported, or
// nothing when it reported nothing within 60 s. With `withStore`, it also waits for the store.
std::optional<Launch> launchAndMeasure(const char* program, const std::filesystem::path& storeFolder,
                                       const std::filesystem::path& home, bool withStore)
{
    int output[2];
    if (::pipe(output) != 0)
        return std::nullopt;
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
    std::string text;
    std::optional<double> seconds, storeSeconds;
    pollfd readable{output[0], POLLIN, 0};
    while ((!seconds || (withStore && !storeSeconds)) && ::poll(&readable, 1, 60'000) > 0) {
        char buffer[4096];
        const ssize_t count = ::read(output[0], buffer, sizeof buffer);
        if (count <= 0)
            break;
        text.append(buffer, static_cast<size_t>(count));
        seconds = reportedSeconds(text, "main window shown ");
        storeSeconds = reportedSeconds(text, "store in the main window ");
    }
    const double peakMiB =
        static_cast<double>(bench::processStatusKiB("VmHWM", std::to_string(child)).value_or(0)) / 1024.0;
    ::kill(child, SIGTERM);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(output[0]);
    if (!seconds || (withStore && !storeSeconds))
        std::fprintf(stderr, "the program reported no start-up time:\n%s\n", text.c_str());
    if (!seconds)
        return std::nullopt;
    return Launch{*seconds, peakMiB, storeSeconds};
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
        const std::optional<Launch> launch = launchAndMeasure(program, store.path().parent_path(), home, withStore);
        std::error_code ignored;
        std::filesystem::remove_all(home, ignored);
        if (!launch) {
            state.SkipWithError("the program did not show its main window");
            break;
        }
        if (withStore && !launch->storeSeconds) {
            state.SkipWithError("the program did not report its store in the main window");
            break;
        }
        state.SetIterationTime(launch->seconds);
        peakMiB = std::max(peakMiB, launch->peakMiB);
        storeSeconds += launch->storeSeconds.value_or(0);
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
