// Start-up of the real program on a user-sized store, beside an empty main window of a program of the
// same build (the baseline). Under an X server (xvfb-run) the bench watches the screen from outside, as a
// user would: the manual time is the launch to the first frame of the window on the screen, and the
// counter "seen_store_s" the launch to the frame from which the screen stays as it settles with the store's
// rows in the window. The program's own reports (HORAVINE_REPORT_STARTUP=1: the first paint of the window
// and of the content made over the store) are the counters "reported_shown_s" and "store_in_window_s"; on
// the offscreen platform they are all there is. Every run gets its own copy of the store and a fresh home;
// the program is ended with SIGTERM once settled and must end with status 0. A round that fails keeps its
// home (crash records included) with the program's stderr in it.
#include "bench_store_fixture.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <benchmark/benchmark.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

struct Launch {
    std::optional<double> seconds;      // process start to the main window's first paint, as reported
    double peakMiB = 0;                 // the program's peak memory (VmHWM) once the store is in
    std::optional<double> storeSeconds; // process start to the loaded store in the window, as reported
    std::optional<double> seenShown;    // launch to the window's first frame on the screen
    std::optional<double> seenSettled;  // launch to the frame from which the screen stays as it settled
    int status = -1;                    // as waitpid gives it, after the SIGTERM that ends the round
    std::string output;                 // everything the program wrote to stderr
};

// The screen of the X server the program draws on, grabbed from outside it: grey levels at a quarter of
// the size, enough to tell a window appearing and rows of text filling it from a clock's minute turning.
class ScreenWatcher {
public:
    struct Frame {
        double seconds = 0; // since the launch
        QImage grey;
    };

    // HORAVINE_BENCH_WATCH=0 turns the watching off, to see what it costs the program.
    static bool available()
    {
        const char* choice = std::getenv("HORAVINE_BENCH_WATCH");
        return QGuiApplication::platformName() == QStringLiteral("xcb") && !(choice && std::string(choice) == "0");
    }

    QImage grab() const
    {
        QScreen* screen = QGuiApplication::primaryScreen();
        const QImage full = screen->grabWindow(0).toImage();
        return full.scaled(full.width() / 4, full.height() / 4).convertToFormat(QImage::Format_Grayscale8);
    }

    // The share of pixels that differ clearly between two grabs.
    static double differingShare(const QImage& a, const QImage& b)
    {
        if (a.size() != b.size() || a.isNull())
            return 1.0;
        std::size_t differing = 0;
        for (int y = 0; y < a.height(); ++y) {
            const uchar* left = a.constScanLine(y);
            const uchar* right = b.constScanLine(y);
            for (int x = 0; x < a.width(); ++x)
                differing += std::abs(int(left[x]) - int(right[x])) > 24;
        }
        return static_cast<double>(differing) / (static_cast<double>(a.width()) * a.height());
    }

    // The first frame that differs from the screen before the launch: the window has appeared.
    static std::optional<double> firstChange(const QImage& before, const std::vector<Frame>& frames)
    {
        for (const auto& frame : frames)
            if (differingShare(before, frame.grey) > 0.02)
                return frame.seconds;
        return std::nullopt;
    }

    // The first frame from which every later one is (nearly) the last: the screen has settled.
    static std::optional<double> settledFrom(const std::vector<Frame>& frames)
    {
        if (frames.empty())
            return std::nullopt;
        std::optional<double> since;
        for (const auto& frame : frames) {
            if (differingShare(frame.grey, frames.back().grey) < 0.005) {
                if (!since)
                    since = frame.seconds;
            } else {
                since.reset();
            }
        }
        return since;
    }
};

std::optional<double> reportedSeconds(const std::string& text, const std::string& marker)
{
    const auto at = text.find(marker);
    if (at == std::string::npos || text.find('\n', at) == std::string::npos)
        return std::nullopt;
    return std::strtod(text.c_str() + at + marker.size(), nullptr);
}

// Starts `program` with the store folder as its Documents folder and waits (at most 60 s) for its
// report of the shown window and, with `withStore`, of the store in it, watching the screen meanwhile
// when it can; then lets the screen settle for `settle`, ends the program with SIGTERM and reads what it
// wrote until it is gone.
Launch launchAndMeasure(const char* program, const std::filesystem::path& storeFolder,
                        const std::filesystem::path& home, bool withStore)
{
    using Clock = std::chrono::steady_clock;
    constexpr auto settle = std::chrono::milliseconds(1500);
    const bool watching = ScreenWatcher::available();
    const ScreenWatcher watcher;
    const QImage before = watching ? watcher.grab() : QImage();
    std::vector<ScreenWatcher::Frame> frames;

    Launch launch;
    int output[2];
    if (::pipe(output) != 0)
        return launch;
    const auto launched = Clock::now();
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
    const auto since = [&] { return std::chrono::duration<double>(Clock::now() - launched).count(); };
    pollfd readable{output[0], POLLIN, 0};
    bool open = true;
    // Reads what is there (waiting at most `timeoutMs`); false once the program closed its end.
    const auto readSome = [&](int timeoutMs) {
        if (::poll(&readable, 1, timeoutMs) <= 0)
            return true;
        char buffer[4096];
        const ssize_t count = ::read(output[0], buffer, sizeof buffer);
        if (count <= 0)
            return false;
        launch.output.append(buffer, static_cast<size_t>(count));
        return true;
    };
    const auto deadline = launched + std::chrono::seconds(60);
    std::optional<Clock::time_point> settledBy;
    while (open && Clock::now() < deadline && (!settledBy || Clock::now() < *settledBy)) {
        open = readSome(watching ? 15 : 1000);
        if (watching && frames.size() < 20'000)
            frames.push_back({since(), watcher.grab()});
        launch.seconds = reportedSeconds(launch.output, "main window shown ");
        launch.storeSeconds = reportedSeconds(launch.output, "store in the main window ");
        if (!settledBy && launch.seconds && (!withStore || launch.storeSeconds))
            settledBy = Clock::now() + (watching ? settle : std::chrono::milliseconds(0));
    }
    launch.peakMiB = static_cast<double>(bench::processStatusKiB("VmHWM", std::to_string(child)).value_or(0)) / 1024.0;
    ::kill(child, SIGTERM);
    while (open && readSome(30'000)) {}
    ::waitpid(child, &launch.status, 0);
    ::close(output[0]);
    if (watching) {
        launch.seenShown = ScreenWatcher::firstChange(before, frames);
        launch.seenSettled = ScreenWatcher::settledFrom(frames);
    }
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
    double reportedShown = 0;
    double seenStore = 0;
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
        state.SetIterationTime(launch.seenShown.value_or(*launch.seconds));
        peakMiB = std::max(peakMiB, launch.peakMiB);
        storeSeconds += launch.storeSeconds.value_or(0);
        reportedShown += *launch.seconds;
        seenStore += launch.seenSettled.value_or(0);
    }
    const auto average = [](double total) { return benchmark::Counter(total, benchmark::Counter::kAvgIterations); };
    state.counters["peak_MiB"] = peakMiB;
    state.counters["reported_shown_s"] = average(reportedShown);
    if (withStore) {
        state.counters["store_in_window_s"] = average(storeSeconds);
        if (ScreenWatcher::available())
            state.counters["seen_store_s"] = average(seenStore);
    }
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

// Under an X server the bench is a client of it too, to watch the screen; elsewhere it reads the
// program's reports only.
int main(int argc, char** argv)
{
    if (!std::getenv("DISPLAY"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
