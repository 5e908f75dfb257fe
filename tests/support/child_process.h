// Runs a piece of a test in a forked child, so once-per-process state (the kit platform's first call,
// shared kit instances) starts fresh, and hands back what the child reported, its stderr and how it ended.
#pragma once

#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

struct ChildOutcome {
    int status = 0;     // as waitpid gives it
    std::string report; // the scenario's result, or "exception: <what>" when it threw
    std::string errors; // everything the child wrote to stderr
    bool exitedCleanly() const { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }
};

inline std::string readAll(std::FILE* file)
{
    std::string text;
    std::rewind(file);
    char buffer[4096];
    for (std::size_t count; (count = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        text.append(buffer, count);
    std::fclose(file);
    return text;
}

// Whether threads besides the calling one run. A forked child has only the forking thread: one that
// waits on queues or starts threads itself (forbidden after a multi-threaded fork under the thread
// sanitizer) may only run when the parent had no others; a test then skips instead.
inline bool processHasOtherThreads()
{
    std::error_code ignored;
    return std::distance(std::filesystem::directory_iterator("/proc/self/task", ignored),
                         std::filesystem::directory_iterator())
           > 1;
}

// The scenario returns a text describing what it observed; the parent checks that text.
inline ChildOutcome runInChild(const std::function<std::string()>& scenario)
{
    std::FILE* report = std::tmpfile();
    std::FILE* errors = std::tmpfile();
    if (!report || !errors)
        return {-1, "cannot make temporary files", ""};
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        dup2(fileno(errors), STDERR_FILENO);
        std::string text;
        int code = 0;
        try {
            text = scenario();
        } catch (const std::exception& error) {
            text = std::string("exception: ") + error.what();
        }
        std::fflush(nullptr);
        if (std::fwrite(text.data(), 1, text.size(), report) != text.size())
            code = 1;
        std::fflush(nullptr);
        _exit(code); // skips the parent's exit handlers and leak checks
    }
    ChildOutcome outcome;
    if (child < 0 || waitpid(child, &outcome.status, 0) != child)
        outcome.status = -1;
    outcome.report = readAll(report);
    outcome.errors = readAll(errors);
    return outcome;
}

} // namespace testsupport
