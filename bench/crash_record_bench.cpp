// The crash kit's record files on their hot paths: a crash's thread list (50 threads, each a hash of
// 21 registers and 64 return addresses) written unbuffered as at crash time, and a 100,000-line
// record file read back at the next launch.
#include "kits/crash/capture/bbx_file.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

namespace {

std::filesystem::path benchFile(const char* name)
{
    return std::filesystem::temp_directory_path() / name;
}

void writeThreads(BBXFile* file)
{
    static const char* const registerNames[21] = {"rax", "rbx", "rcx", "rdx",    "rdi", "rsi", "rbp",
                                                  "rsp", "r8",  "r9",  "r10",    "r11", "r12", "r13",
                                                  "r14", "r15", "rip", "rflags", "cs",  "fs",  "gs"};
    BBXFileWriteSectionStart(file, "threads");
    BBXFileWriteArrayStart(file);
    for (std::uint64_t thread = 0; thread < 50; ++thread) {
        BBXFileWriteHashStart(file);
        BBXFileWriteHashEntryUint64(file, "id", thread);
        BBXFileWriteHashEntryBoolean(file, "crashed", thread == 0);
        BBXFileWriteHashKey(file, "registers");
        BBXFileWriteHashStart(file);
        for (std::uint64_t index = 0; index < 21; ++index)
            BBXFileWriteHashEntryUint64(file, registerNames[index], 0x7ffd00000000 + index * 8 + thread);
        BBXFileWriteHashEnd(file);
        BBXFileWriteHashKey(file, "stacktrace");
        BBXFileWriteArrayStart(file);
        for (std::uint64_t frame = 0; frame < 64; ++frame)
            BBXFileWriteArrayEntryUint64(file, 0x555555554000 + frame * 0x40 + thread);
        BBXFileWriteArrayEnd(file);
        BBXFileWriteHashEnd(file);
    }
    BBXFileWriteArrayEnd(file);
    BBXFileWriteSectionEnd(file);
}

void crashThreadListUnbuffered(benchmark::State& state)
{
    const auto path = benchFile("horavine-bench-threads.bbxrecord");
    for (auto _ : state) {
        BBXFile file;
        BBXFileInitWithPathMode(&file, path.c_str(), false, false);
        writeThreads(&file);
        BBXFileClose(&file);
    }
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
    std::filesystem::remove(path);
}
BENCHMARK(crashThreadListUnbuffered)->Unit(benchmark::kMillisecond);

void readHundredThousandLines(benchmark::State& state)
{
    const auto path = benchFile("horavine-bench-lines.bbxrecord");
    BBXFile file;
    BBXFileInitWithPathMode(&file, path.c_str(), false, true);
    for (std::uint64_t line = 0; line < 100'000; ++line) {
        BBXFileWriteSectionStart(&file, "log");
        BBXFileWriteHashStart(&file);
        BBXFileWriteHashEntryUint64(&file, "time", 1'700'000'000'000 + line);
        BBXFileWriteHashEntryHexEncodedString(&file, "message", "a user log message of some length");
        BBXFileWriteHashEnd(&file);
        BBXFileWriteSectionEnd(&file);
    }
    BBXFileClose(&file);
    for (auto _ : state) {
        const auto sections = BBXFileReadSections(path.c_str(), false, nullptr);
        if (!sections || sections->size() != 100'000)
            state.SkipWithError("not every line was read");
        benchmark::DoNotOptimize(sections);
    }
    std::filesystem::remove(path);
}
BENCHMARK(readHundredThousandLines)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
