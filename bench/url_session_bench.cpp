// The kits' HTTPS client against a loopback server in a child process (so that only the client is
// measured): a 100 MB upload from a file (target at most 2 s, the process growing at most 32 MiB)
// and 200 small data tasks on one session (at most 2 s, at most 20 threads). Trust goes through the
// network client's pinner with the test root A pinned, as the kits' own requests do.
#include "kits/platform/kst_network_client.h"

#include "loopback_server.h"
#include "test_certificates.h"

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr std::size_t uploadSize = 100 * 1000 * 1000;
constexpr int smallTasks = 200;

struct Rig {
    std::filesystem::path folder;
    std::unique_ptr<testsupport::TestCertificates> certificates;
    pid_t server = -1;
    std::uint16_t port = 0;
};

Rig& rig()
{
    static Rig instance;
    return instance;
}

std::string url(std::string_view path)
{
    return "https://127.0.0.1:" + std::to_string(rig().port) + std::string(path);
}

long peakResidentKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int threadCount()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with("Threads:"))
            return std::stoi(line.substr(8));
    return -1;
}

// Written a megabyte at a time, so making the input does not raise the peak measured below.
std::filesystem::path uploadFile()
{
    const auto path = rig().folder / "upload.bin";
    if (std::filesystem::exists(path) && std::filesystem::file_size(path) == uploadSize)
        return path;
    std::ofstream file(path, std::ios::binary);
    std::string block(1000 * 1000, '\0');
    for (std::size_t written = 0; written < uploadSize; written += block.size()) {
        for (std::size_t index = 0; index < block.size(); ++index)
            block[index] = static_cast<char>((written + index) * 2654435761u >> 24);
        file.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    return path;
}

std::shared_ptr<kits::KSTNetworkClient> pinningClient()
{
    const auto& rootA = rig().certificates->rootA;
    return kits::KSTNetworkClient::create(
        {}, nullptr, kits::KSTCertificateArray{kits::KSTCreateCertificate(rootA.der.data(), rootA.der.size())});
}

void BM_UploadHundredMegabytesOverHTTPS(benchmark::State& state)
{
    const auto file = uploadFile();
    auto client = pinningClient();
    const long before = peakResidentKilobytes();
    for (auto _ : state) {
        net::URLRequest request(url("/upload"));
        request.httpMethod = "POST";
        request.setValueForHTTPHeaderField("application/octet-stream", "Content-Type");
        std::mutex mutex;
        std::condition_variable changed;
        bool done = false;
        std::optional<foundation::Error> error;
        std::optional<long> status;
        client->session()
            ->uploadTaskWithRequestFromFile(request, file,
                                            [&](std::string, auto response, auto failure) {
                                                std::lock_guard lock(mutex);
                                                error = failure;
                                                status = response ? response->statusCode : std::nullopt;
                                                done = true;
                                                changed.notify_all();
                                            })
            ->resume();
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return done; });
        if (error || status != 200)
            state.SkipWithError(error ? error->localizedDescription.c_str() : "the upload was not answered 200");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * uploadSize));
    state.counters["rss_growth_MiB"] = static_cast<double>(peakResidentKilobytes() - before) / 1024.0;
    state.counters["peak_rss_MiB"] = static_cast<double>(peakResidentKilobytes()) / 1024.0;
}
BENCHMARK(BM_UploadHundredMegabytesOverHTTPS)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_TwoHundredSmallDataTasksOnOneSession(benchmark::State& state)
{
    const int threadsBefore = threadCount();
    int peakThreads = threadsBefore;
    for (auto _ : state) {
        auto client = pinningClient();
        std::mutex mutex;
        std::condition_variable changed;
        int finished = 0;
        int failed = 0;
        for (int index = 0; index < smallTasks; ++index) {
            client->startDataTaskWithRequest(
                net::URLRequest(url("/small/" + std::to_string(index))),
                [&](auto data, auto response, auto error) {
                    std::lock_guard lock(mutex);
                    if (error || !data || *data != "ok" || !response || response->statusCode != 200)
                        ++failed;
                    ++finished;
                    changed.notify_all();
                },
                0);
        }
        // The thread count is sampled while the tasks run.
        std::unique_lock lock(mutex);
        while (!changed.wait_for(lock, 1ms, [&] { return finished == smallTasks; }))
            peakThreads = std::max(peakThreads, threadCount());
        if (failed > 0)
            state.SkipWithError("a small task failed");
        lock.unlock();
        client->invalidateAndCancel();
    }
    state.counters["threads_before"] = threadsBefore;
    state.counters["peak_threads"] = peakThreads;
    state.counters["tasks_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations() * smallTasks), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TwoHundredSmallDataTasksOnOneSession)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// The server runs in a child forked before this process has any thread; it answers "ok" to every
// request and forgets each request's body as it goes. It dies with its parent.
bool startServer()
{
    auto& r = rig();
    r.folder = std::filesystem::temp_directory_path() / ("horavine-session-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(r.folder);
    r.certificates = std::make_unique<testsupport::TestCertificates>(r.folder);
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return false;
    const pid_t parent = getpid();
    r.server = ::fork();
    if (r.server < 0)
        return false;
    if (r.server == 0) {
        ::close(pipeEnds[0]);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            ::_exit(0);
        testsupport::LoopbackServer server({&r.certificates->leafA, {}, 30min});
        server.setHandler([](const testsupport::RecordedRequest&) {
            return testsupport::ScriptedAnswer{200, "", {}, "ok", 0ms, testsupport::AnswerFault::none};
        });
        const std::uint16_t port = server.port();
        if (::write(pipeEnds[1], &port, sizeof port) != sizeof port)
            ::_exit(1);
        while (true) {
            std::this_thread::sleep_for(20ms);
            server.clearRequests();
        }
    }
    ::close(pipeEnds[1]);
    const bool read = ::read(pipeEnds[0], &r.port, sizeof r.port) == sizeof r.port;
    ::close(pipeEnds[0]);
    return read;
}

} // namespace

int main(int argc, char** argv)
{
    const bool started = startServer();
    int result = 0;
    if (started) {
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    } else {
        std::fprintf(stderr, "the loopback server did not start\n");
        result = 1;
    }
    if (rig().server > 0) {
        ::kill(rig().server, SIGKILL);
        ::waitpid(rig().server, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(rig().folder, ignored);
    return result;
}
