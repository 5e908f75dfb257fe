// The program's usage events leave it: started on a fresh home with "SettingsEndpoint" pointing at the
// loopback server, it must download its settings there, find the events URL in them and post the
// package of its first log, whose gunzipped lines hold "app_installed"; the package is then gone from
// the events folder, and SIGTERM ends the program with status 0 after its quit event reached a log.
// Usage: analytics_upload_check path/to/horavine   (run inside xvfb-run)
#include "event_log_reader.h"
#include "gunzip.h"
#include "loopback_server.h"
#include "multipart_reader.h"

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

const std::string eventsPath = "/spi/v2/events";
const std::string settingsPrefix = "/spi/v2/platforms/";

// The event names of an upload's log, or a line saying why there are none.
std::vector<std::string> eventNamesOf(const testsupport::RecordedRequest& request)
{
    const auto type = request.header("Content-Type").value_or("");
    const auto at = type.find("boundary=");
    if (at == std::string::npos)
        return {"<no boundary in '" + type + "'>"};
    const auto parts = testsupport::readMultipartBody(request.body, type.substr(at + 9));
    if (!parts.parts || parts.parts->size() != 1)
        return {"<bad body: " + parts.error + ">"};
    const auto log = testsupport::gunzip(parts.parts->front().body);
    if (!log.bytes)
        return {"<not gzip>"};
    const auto lines = testsupport::readEventLog(*log.bytes);
    if (!lines.lines)
        return {"<bad log: " + lines.error + ">"};
    std::vector<std::string> names;
    for (const auto& line : *lines.lines)
        names.push_back(line.name);
    return names;
}

bool holdsInstall(const testsupport::RecordedRequest& request)
{
    const auto names = eventNamesOf(request);
    return !names.empty() && names.front() == "metadata"
           && std::find(names.begin(), names.end(), "app_installed") != names.end();
}

std::vector<fs::path> packagesIn(const fs::path& folder)
{
    std::vector<fs::path> found;
    std::error_code error;
    for (fs::recursive_directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error))
        if (entry->path().extension() == ".multipartmime")
            found.push_back(entry->path());
    return found;
}

std::string contentsOf(const fs::path& file)
{
    std::ifstream stream(file);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
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

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: analytics_upload_check path/to/horavine\n";
        return 2;
    }
    char pattern[] = "/tmp/horavine-analytics-check-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path home = pattern;
    fs::create_directories(home / "runtime");
    fs::permissions(home / "runtime", fs::perms::owner_all);

    testsupport::LoopbackServer server(testsupport::LoopbackServerOptions{nullptr, {}, 300s});
    const std::string settings = R"({"analytics":{"url":")" + server.url(eventsPath) + R"("}})";
    server.setHandler([settings](const testsupport::RecordedRequest& request) {
        testsupport::ScriptedAnswer answer;
        if (request.method == "GET" && request.path().starts_with(settingsPrefix)) {
            answer.headers = {{"Content-Type", "application/json"}};
            answer.body = settings;
        } else if (request.method == "POST" && request.path() == eventsPath) {
            answer.status = 202;
        } else {
            answer.status = 404;
        }
        return answer;
    });

    const pid_t program = startProgram(argv[1], home, server.url(""));
    bool failed = false;
    const auto fail = [&](const std::string& why) {
        std::cout << "FAILED: " << why << "\n";
        failed = true;
    };
    const auto requests = [&] { return server.requests(); };
    const bool gotSettings = waitFor(program, 120s, [&] {
        for (const auto& request : requests())
            if (request.method == "GET" && request.path().starts_with(settingsPrefix))
                return true;
        return false;
    });
    if (!gotSettings)
        fail("no settings GET under " + settingsPrefix);
    const bool posted = gotSettings && waitFor(program, 60s, [&] {
                            for (const auto& request : requests())
                                if (request.method == "POST" && request.path() == eventsPath && holdsInstall(request))
                                    return true;
                            return false;
                        });
    if (gotSettings && !posted)
        fail("no POST " + eventsPath + " of a log holding \"app_installed\"");
    const fs::path caches = home / ".cache";
    if (posted && !waitFor(program, 30s, [&] { return packagesIn(caches).empty(); }))
        fail(std::to_string(packagesIn(caches).size()) + " package(s) left after the upload");

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
    // Quitting waits for the kits' work in flight: the quit event is in the log it left.
    bool terminated = false;
    std::error_code error;
    for (fs::recursive_directory_iterator entry(caches, error), end; !error && entry != end; entry.increment(error))
        if (entry->path().extension() == ".log"
            && contentsOf(entry->path()).find("app_terminated") != std::string::npos)
            terminated = true;
    if (posted && !terminated)
        fail("no log under the caches folder holds \"app_terminated\" after the quit");

    if (failed) {
        std::cout << "recorded requests:\n";
        for (const auto& request : requests()) {
            std::cout << "  " << request.requestLine;
            if (request.method == "POST")
                for (const auto& name : eventNamesOf(request))
                    std::cout << " " << name;
            std::cout << "\n";
        }
        std::cout << "program output:\n" << contentsOf(home / "program.log");
        std::cout << "files under the caches folder:\n";
        for (fs::recursive_directory_iterator entry(caches, error), end; !error && entry != end; entry.increment(error))
            std::cout << "  " << entry->path().lexically_relative(caches).string() << "\n";
    } else {
        std::cout << "analytics upload check passed\n";
    }
    server.stop();
    std::error_code ignored;
    fs::remove_all(home, ignored);
    return failed ? 1 : 0;
}
