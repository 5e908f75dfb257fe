// The program's kit requests keep to https and the pinned roots. Started on a fresh home with
// "SettingsEndpoint" at a plain http loopback server, it connects nowhere and says so once, naming the
// URL; at an https loopback server under a test root it does not pin, nothing passes the handshake.
// Either way the package of its first log ("app_installed") waits on disk, no download file is left,
// and SIGTERM ends it with status 0 after its quit event reached a log. (Uploads that go through are
// checked against pinned test roots in the kits' tests.)
// Usage: kit_network_check path/to/horavine   (run inside xvfb-run)
#include "loopback_server.h"
#include "test_certificates.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

const std::string settingsPrefix = "/spi/v2/platforms/";

std::vector<fs::path> filesIn(const fs::path& folder, const std::function<bool(const fs::path&)>& wanted)
{
    std::vector<fs::path> found;
    std::error_code error;
    for (fs::recursive_directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error))
        if (entry->is_regular_file() && wanted(entry->path()))
            found.push_back(entry->path());
    return found;
}

std::string contentsOf(const fs::path& file)
{
    std::ifstream stream(file);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

std::size_t occurrences(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// Polls the condition every 100 ms for at most `limit`; false at once when the program ended.
bool waitFor(pid_t program, std::chrono::seconds limit, const std::function<bool()>& condition)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (condition())
            return true;
        int status = 0;
        if (waitpid(program, &status, WNOHANG) == program) {
            std::cout << "the program ended early, status " << status << "\n";
            return false;
        }
        std::this_thread::sleep_for(100ms);
    }
    return condition();
}

pid_t startProgram(const std::string& program, const fs::path& home, const std::string& endpoint)
{
    // Behaviour is checked here; leak checks of the desktop libraries belong elsewhere.
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    std::vector<std::string> environment{"HOME=" + home.string(), "XDG_RUNTIME_DIR=" + (home / "runtime").string(),
                                         "SettingsEndpoint=" + endpoint, "LC_ALL=C.UTF-8",
                                         "ASAN_OPTIONS=" + (sanitizer ? std::string(sanitizer) + ":" : std::string())
                                             + "detect_leaks=0"};
    for (const char* inherited :
         {"DISPLAY", "XAUTHORITY", "PATH", "TZ", "UBSAN_OPTIONS", "LSAN_OPTIONS", "QT_QPA_PLATFORM"})
        if (const char* value = std::getenv(inherited))
            environment.push_back(std::string(inherited) + "=" + value);
    const std::string logPath = (home / "program.log").string();
    const pid_t child = fork();
    if (child != 0)
        return child;
    std::vector<char*> envp;
    for (auto& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::FILE* log = std::fopen(logPath.c_str(), "w");
    if (log) {
        dup2(fileno(log), STDOUT_FILENO);
        dup2(fileno(log), STDERR_FILENO);
    }
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    execve(program.c_str(), argv, envp.data());
    std::perror("execve");
    _exit(127);
}

// One start of the program against the server; `refusal` is the text its log must hold exactly once.
// Returns whether every check passed.
bool checkStart(const std::string& programPath, const fs::path& home, testsupport::LoopbackServer& server,
                const std::string& refusal)
{
    fs::create_directories(home / "runtime");
    fs::permissions(home / "runtime", fs::perms::owner_all);
    server.setHandler([](const testsupport::RecordedRequest&) {
        testsupport::ScriptedAnswer answer;
        answer.headers = {{"Content-Type", "application/json"}};
        answer.body = R"({"analytics":{"url":"https://127.0.0.1:9/spi/v2/events"}})";
        return answer;
    });
    const pid_t program = startProgram(programPath, home, server.url(""));
    bool failed = false;
    const auto fail = [&](const std::string& why) {
        std::cout << "FAILED (" << server.url("") << "): " << why << "\n";
        failed = true;
    };
    const fs::path caches = home / ".cache";
    const auto log = [&] { return contentsOf(home / "program.log"); };
    if (!waitFor(program, 120s,
                 [&] { return log().find("[Keystone] failed to download settings") != std::string::npos; }))
        fail("no failed settings download in the program's log");
    if (occurrences(log(), refusal) != 1)
        fail(std::to_string(occurrences(log(), refusal)) + " lines with '" + refusal + "'");
    const auto packages = [&] {
        return filesIn(caches, [](const fs::path& file) { return file.extension() == ".multipartmime"; });
    };
    if (!waitFor(program, 60s, [&] { return !packages().empty(); }))
        fail("the first log was not packaged");
    if (!server.requests().empty())
        fail("the server heard " + server.requests().front().requestLine);

    int status = -1;
    if (waitpid(program, &status, WNOHANG) == 0) {
        kill(program, SIGTERM);
        const auto end = std::chrono::steady_clock::now() + 30s;
        while (waitpid(program, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > end) {
                fail("the program did not end within 30 s of SIGTERM");
                kill(program, SIGKILL);
                waitpid(program, &status, 0);
                break;
            }
            std::this_thread::sleep_for(50ms);
        }
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail("exit status " + std::to_string(status));
    if (packages().empty())
        fail("no package waits on disk after the quit");
    // Quitting waits for the kits' work in flight: the quit event is in the log it left.
    if (filesIn(caches, [](const fs::path& file) {
            return file.extension() == ".log" && contentsOf(file).find("app_terminated") != std::string::npos;
        }).empty())
        fail("no log under the caches folder holds \"app_terminated\" after the quit");
    const auto downloads = filesIn(
        caches, [](const fs::path& file) { return file.filename().string().starts_with("horavine-download-"); });
    if (!downloads.empty())
        fail("a download file is left: " + downloads.front().string());
    if (server.requests().size() != 0)
        fail(std::to_string(server.requests().size()) + " request(s) reached the server");

    if (failed) {
        std::cout << "program output:\n" << log();
        std::cout << "files under the caches folder:\n";
        for (const auto& file : filesIn(caches, [](const fs::path&) { return true; }))
            std::cout << "  " << file.lexically_relative(caches).string() << "\n";
    }
    return !failed;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: kit_network_check path/to/horavine\n";
        return 2;
    }
    char pattern[] = "/tmp/horavine-kit-network-check-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path base = pattern;
    bool passed = true;
    {
        testsupport::LoopbackServer plain(testsupport::LoopbackServerOptions{nullptr, {}, 300s});
        passed = checkStart(argv[1], base / "plain", plain,
                            "[Keystone] Refused to connect to \"" + plain.url(settingsPrefix))
                 && passed;
        if (plain.connectionCount() != 0) {
            std::cout << "FAILED: the plain http server had " << plain.connectionCount() << " connection(s)\n";
            passed = false;
        }
        plain.stop();
    }
    {
        fs::create_directories(base / "certificates");
        const testsupport::TestCertificates certificates(base / "certificates");
        testsupport::LoopbackServer unpinned(testsupport::LoopbackServerOptions{&certificates.leafA, {}, 300s});
        passed = checkStart(argv[1], base / "unpinned", unpinned,
                            "Code=-1202 \"the server's certificate does not chain to a trusted root\"")
                 && passed;
        unpinned.stop();
    }
    std::error_code ignored;
    fs::remove_all(base, ignored);
    if (passed)
        std::cout << "kit network check passed\n";
    return passed ? 0 : 1;
}
