// Runs a program in a child process with its output in files, core dumps off and a bounded wait, for
// tests whose subject is how a whole process starts, crashes or ends.
#pragma once

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace testsupport {

// Runs `arguments` (the program looked up on PATH) with its standard output and error going to the two
// files, core dumps off, in `environment` (this process's own when none is given); kills it when it
// outlives `limit`. The status as waitpid gives it, or -1 when it could not be forked or had to be killed.
inline int runProgram(std::vector<std::string> arguments, const std::string& outputPath, const std::string& errorPath,
                      std::chrono::seconds limit, std::optional<std::vector<std::string>> environment = std::nullopt)
{
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    if (environment) {
        for (auto& entry : *environment)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
    }
    char** const childEnvironment = environment ? envp.data() : environ;

    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        const int out = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        ::execvpe(argv[0], argv.data(), childEnvironment);
        ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (int status = 0;;) {
        if (::waitpid(child, &status, WNOHANG) == child)
            return status;
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

} // namespace testsupport
