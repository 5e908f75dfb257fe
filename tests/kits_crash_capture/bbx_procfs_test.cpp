// The capture's procfs readers: exact values from known texts, agreement with the real files of this
// process, and every truncation plus seeded mutations of real copies (each input in a heap block of
// its exact size, so the sanitized build reports any read past it).
#include "kits/crash/capture/bbx_procfs.h"

#include "support/mutator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <pthread.h>
#include <set>
#include <string>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::string fileText(const char* path, std::size_t limit = 1 << 16)
{
    std::ifstream stream(path);
    std::string text(limit, '\0');
    stream.read(text.data(), static_cast<std::streamsize>(limit));
    text.resize(static_cast<std::size_t>(stream.gcount()));
    return text;
}

std::string taskRecords()
{
    const int descriptor = ::open("/proc/self/task", O_RDONLY | O_DIRECTORY);
    std::string records(4096, '\0');
    const long count = ::syscall(SYS_getdents64, descriptor, records.data(), records.size());
    ::close(descriptor);
    records.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    return records;
}

// The input in a block of exactly its size.
std::unique_ptr<char[]> exactCopy(std::string_view input)
{
    auto copy = std::make_unique<char[]>(input.size());
    if (!input.empty())
        std::memcpy(copy.get(), input.data(), input.size());
    return copy;
}

} // namespace

TEST(BBXProcfs, ParsesMeminfoInBytes)
{
    const std::string text = "MemTotal:       16000000 kB\nMemFree:         1000 kB\nActive:  2000 kB\n"
                             "Inactive: 3000 kB\nActive(anon): 7 kB\nUnevictable:      4 kB\nHugePages_Total: 0\n";
    BBXMemoryFigures figures;
    ASSERT_TRUE(BBXParseMeminfo(text.data(), text.size(), &figures));
    EXPECT_EQ(figures.free, 1000u * 1024);
    EXPECT_EQ(figures.active, 2000u * 1024);
    EXPECT_EQ(figures.inactive, 3000u * 1024);
    EXPECT_EQ(figures.wired, 4u * 1024);

    const std::string missing = "MemFree: 1 kB\nActive: 2 kB\nInactive: 3 kB\n";
    EXPECT_FALSE(BBXParseMeminfo(missing.data(), missing.size(), &figures));
    const std::string overflow = "MemFree: 18014398509481984 kB\nActive: 2 kB\nInactive: 3 kB\nUnevictable: 0 kB\n";
    EXPECT_FALSE(BBXParseMeminfo(overflow.data(), overflow.size(), &figures));
    const std::string trailing = "MemFree: 1 kBx\nActive: 2 kB\nInactive: 3 kB\nUnevictable: 0 kB\n";
    EXPECT_FALSE(BBXParseMeminfo(trailing.data(), trailing.size(), &figures));

    const std::string real = fileText("/proc/meminfo");
    ASSERT_TRUE(BBXParseMeminfo(real.data(), real.size(), &figures));
    EXPECT_GT(figures.free, 0u);
}

TEST(BBXProcfs, ParsesStatmStatusAndCpuinfo)
{
    std::uint64_t total = 0;
    std::uint64_t resident = 0;
    const std::string statm = "1024 512 100 10 0 300 0\n";
    ASSERT_TRUE(BBXParseStatm(statm.data(), statm.size(), &total, &resident));
    EXPECT_EQ(total, 1024u);
    EXPECT_EQ(resident, 512u);
    EXPECT_FALSE(BBXParseStatm("1024", 4, &total, &resident));
    EXPECT_FALSE(BBXParseStatm("x 1", 3, &total, &resident));

    std::uint64_t tracer = 99;
    const std::string status = "Name:\ttest\nState:\tR (running)\nTracerPid:\t4321\nUid:\t0\n";
    ASSERT_TRUE(BBXParseTracerPid(status.data(), status.size(), &tracer));
    EXPECT_EQ(tracer, 4321u);
    EXPECT_FALSE(BBXParseTracerPid("Name:\tx\n", 8, &tracer));
    const std::string realStatus = fileText("/proc/self/status");
    ASSERT_TRUE(BBXParseTracerPid(realStatus.data(), realStatus.size(), &tracer));

    const std::string cpuinfo = "processor\t: 0\nvendor_id\t: Some\nmodel name\t: Example CPU @ 3.00GHz\n\n"
                                "processor\t: 1\nmodel name\t: Second\n";
    char name[128];
    ASSERT_TRUE(BBXParseCpuModelName(cpuinfo.data(), cpuinfo.size(), name, sizeof name));
    EXPECT_STREQ(name, "Example CPU @ 3.00GHz");
    char small[8];
    ASSERT_TRUE(BBXParseCpuModelName(cpuinfo.data(), cpuinfo.size(), small, sizeof small));
    EXPECT_STREQ(small, "Example");
    EXPECT_FALSE(BBXParseCpuModelName("processor\t: 0\n", 14, name, sizeof name));
}

TEST(BBXProcfs, ListsThreadsAndTheirNames)
{
    std::thread worker([] {
        pthread_setname_np(pthread_self(), "procfs-worker");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pid_t threads[256];
    const long count = BBXListThreads(threads, 256);
    ASSERT_GE(count, 2);
    EXPECT_EQ(threads[0], ::getpid()); // the main thread comes first
    std::set<std::string> names;
    for (long index = 0; index < count; ++index) {
        char name[64];
        ASSERT_TRUE(BBXReadThreadName(threads[index], name, sizeof name));
        names.insert(name);
    }
    EXPECT_TRUE(names.contains("procfs-worker"));
    worker.join();

    // Records that do not fit, or names of other characters, are not thread ids.
    const std::string records = taskRecords();
    ASSERT_GT(records.size(), 19u);
    pid_t parsed[256];
    const std::size_t all = BBXParseTaskEntries(records.data(), records.size(), parsed, 256);
    EXPECT_GE(all, 1u);
    EXPECT_EQ(BBXParseTaskEntries(records.data(), records.size(), parsed, 1), std::min<std::size_t>(all, 1));
    EXPECT_LT(BBXParseTaskEntries(records.data(), records.size() - 1, parsed, 256), all + 1);
}

TEST(BBXProcfs, SurvivesTruncationsAndMutationsOfRealFiles)
{
    const auto check = [](const std::vector<std::string>& samples, std::uint64_t seed,
                          const std::function<bool(const char*, std::size_t)>& parse) {
        const auto failure = testsupport::runParserCheck(samples, testsupport::fuzzSeed(seed),
                                                         testsupport::fuzzMutationCount(), [&](std::string_view input) {
                                                             const auto copy = exactCopy(input);
                                                             return parse(copy.get(), input.size());
                                                         });
        EXPECT_FALSE(failure.has_value()) << (failure ? failure->where : "");
    };
    check({fileText("/proc/meminfo")}, 101, [](const char* text, std::size_t length) {
        BBXMemoryFigures figures;
        BBXParseMeminfo(text, length, &figures);
        return true;
    });
    check({fileText("/proc/self/statm")}, 102, [](const char* text, std::size_t length) {
        std::uint64_t total = 0;
        std::uint64_t resident = 0;
        BBXParseStatm(text, length, &total, &resident);
        return true;
    });
    check({fileText("/proc/self/status")}, 103, [](const char* text, std::size_t length) {
        std::uint64_t tracer = 0;
        BBXParseTracerPid(text, length, &tracer);
        return true;
    });
    check({fileText("/proc/cpuinfo", 4096)}, 104, [](const char* text, std::size_t length) {
        char name[128];
        std::memset(name, 'x', sizeof name);
        if (!BBXParseCpuModelName(text, length, name, sizeof name))
            return true;
        return std::memchr(name, '\0', sizeof name) != nullptr;
    });
    check({taskRecords()}, 105, [](const char* records, std::size_t length) {
        pid_t threads[64];
        const std::size_t count = BBXParseTaskEntries(records, length, threads, 64);
        for (std::size_t index = 0; index < count; ++index) {
            if (threads[index] <= 0)
                return false;
        }
        return count <= 64;
    });
}
