// Runs the crash child program on a fresh directory (core dumps off, bounded wait) and hands back
// how it ended, what it printed and what it left, with its functions' address ranges and names for
// the addresses of its records.
#pragma once

#include "support/real_time.h"
#include "support/run_program.h"
#include "support/temp_folder.h"
#include "system/elf_symbols.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace testsupport {

struct CrashRun {
    std::unique_ptr<TempFolder> folder;
    int status = -1; // as waitpid gives it; -1 when the child could not be forked or had to be killed
    std::string output;
    std::string errors;
    long diedAt = 0; // real-time nanoseconds when the wait returned
    std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> ranges;
    std::map<std::string, long> marks; // "fault_at", "initialized", "page_size_at"

    bool diedBy(int signal) const { return status != -1 && WIFSIGNALED(status) && WTERMSIG(status) == signal; }
    std::filesystem::path file(const std::string& name) const { return folder->path() / name; }
    bool has(const std::string& name) const { return std::filesystem::exists(file(name)); }
    std::string text(const std::string& name) const
    {
        std::ifstream stream(file(name));
        return {std::istreambuf_iterator<char>(stream), {}};
    }
    std::vector<nlohmann::json> lines(const std::string& name) const
    {
        std::vector<nlohmann::json> parsed;
        std::istringstream stream(text(name));
        for (std::string line; std::getline(stream, line);) {
            auto value = nlohmann::json::parse(line, nullptr, false);
            if (!value.is_discarded())
                parsed.push_back(std::move(value));
        }
        return parsed;
    }
    bool inFunction(const std::string& function, std::uint64_t address) const
    {
        const auto range = ranges.find(function);
        return range != ranges.end() && address >= range->second.first && address < range->second.second;
    }
    // The child's function names (as its symbol table holds them) of the addresses of a stack.
    std::vector<std::string> functionNames(const nlohmann::json& stacktrace) const
    {
        std::vector<std::string> names;
        const auto table = os::ElfSymbolTable::read(HORAVINE_CRASH_CHILD);
        const auto range = ranges.find("crash_here");
        if (!table || range == ranges.end())
            return names;
        const os::ElfSymbol* own = nullptr;
        for (const auto& symbol : table.table->symbols()) {
            if (symbol.name == "crash_here")
                own = &symbol;
        }
        if (!own)
            return names;
        const std::uint64_t slide = range->second.first - own->start;
        for (std::size_t index = 0; index < stacktrace.size(); ++index) {
            const std::uint64_t address = stacktrace[index].get<std::uint64_t>() - (index == 0 ? 0 : 1);
            const os::ElfSymbol* symbol = table.table->functionContaining(address - slide);
            names.push_back(symbol ? symbol->name : "?");
        }
        return names;
    }
};

// Runs `crash_child <folder> <mode>`, under `strace -f` when asked; waits at most 60 s.
inline CrashRun runCrashChild(const std::string& mode, bool underStrace = false)
{
    CrashRun run;
    run.folder = std::make_unique<TempFolder>("bbx-crash-child");
    const std::string directory = run.folder->path().string();
    const std::string outputPath = directory + "/.stdout";
    const std::string errorPath = directory + "/.stderr";
    std::vector<std::string> arguments;
    if (underStrace)
        arguments = {"strace", "-f", "-o", "/dev/null"};
    arguments.insert(arguments.end(), {HORAVINE_CRASH_CHILD, directory, mode});
    run.status = runProgram(std::move(arguments), outputPath, errorPath, std::chrono::seconds(60));
    run.diedAt = realTimeNanoseconds();
    run.output = run.text(".stdout");
    run.errors = run.text(".stderr");
    std::istringstream lines(run.output);
    for (std::string name; lines >> name;) {
        if (name == "crash_here" || name == "throw_here") {
            std::uint64_t start = 0;
            std::uint64_t end = 0;
            lines >> start >> end;
            run.ranges[name] = {start, end};
        } else if (name == "fault_at" || name == "initialized" || name == "page_size_at") {
            lines >> run.marks[name];
        }
    }
    return run;
}

// When the file was last written, in real-time nanoseconds.
inline long lastWrittenAt(const std::filesystem::path& file)
{
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0)
        return 0;
    return status.st_mtim.tv_sec * 1'000'000'000L + status.st_mtim.tv_nsec;
}

} // namespace testsupport
