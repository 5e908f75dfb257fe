// Crash-time writing uses no heap: a forked child records every malloc, calloc, realloc and free
// while its SIGSEGV handler writes a full record line and five sdk.log messages, or the whole snapshot
// of its threads, then still dies by SIGSEGV. Only in the plain build: sanitizers own both the
// allocator and the fault handlers.
#ifndef HORAVINE_SANITIZED

#include "kits/crash/capture/bbx_binary_image.h"
#include "kits/crash/capture/bbx_context.h"
#include "kits/crash/capture/bbx_file.h"
#include "kits/crash/capture/bbx_host.h"
#include "kits/crash/capture/bbx_process.h"
#include "kits/crash/capture/bbx_sdk_log.h"
#include "kits/crash/capture/bbx_support.h"

#include "system/elf_identity.h"

#include "support/child_process.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void __libc_free(void* pointer);
}

namespace {

std::atomic<bool> recordingHeapCalls{false};
std::atomic<int> heapCalls{0};

void noteHeapCall()
{
    if (recordingHeapCalls.load(std::memory_order_relaxed))
        heapCalls.fetch_add(1, std::memory_order_relaxed);
}

char recordPath[512];
char countPath[512];

void writeHeapCount()
{
    char count[16];
    const auto length = BBXSDKLogFormat(count, sizeof count, "%d", heapCalls.load());
    const int fd = ::open(countPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        [[maybe_unused]] const auto written = ::write(fd, count, length);
        ::close(fd);
    }
}

void crashHandler(int)
{
    recordingHeapCalls = true;
    BBXFile file;
    if (BBXFileInitWithPathMode(&file, recordPath, false, false)) {
        BBXFileWriteSectionStart(&file, "signal");
        BBXFileWriteHashStart(&file);
        BBXFileWriteHashEntryString(&file, "name", "SIGSEGV");
        BBXFileWriteHashEntryInt64(&file, "number", SIGSEGV);
        BBXFileWriteHashEntryUint64(&file, "address", 0xdeadbeef);
        BBXFileWriteHashEntryHexEncodedString(&file, "reason", "user \"text\"");
        BBXFileWriteHashEntryBoolean(&file, "fatal", true);
        BBXFileWriteHashKey(&file, "registers");
        BBXFileWriteArrayStart(&file);
        for (std::uint64_t index = 0; index < 21; ++index)
            BBXFileWriteArrayEntryUint64(&file, index * 0x1000);
        BBXFileWriteArrayEnd(&file);
        BBXFileWriteHashEnd(&file);
        BBXFileWriteSectionEnd(&file);
        BBXFileClose(&file);
    }
    for (int message = 0; message < 5; ++message)
        BBXSDKFileLog(3, "WARN  [%s:%d] Signal: %d %s %p\n", "crashHandler", message, SIGSEGV, "x",
                      static_cast<void*>(recordPath));
    recordingHeapCalls = false;
    writeHeapCount();
    // Returning re-runs the faulting store with the default action restored (SA_RESETHAND).
}

void snapshotHandler(int, siginfo_t*, void* context)
{
    recordingHeapCalls = true;
    BBXFile file;
    if (BBXFileInitWithPathMode(&file, recordPath, false, false)) {
        BBXHandler(&file, static_cast<pid_t>(::syscall(SYS_gettid)), static_cast<const ucontext_t*>(context));
        BBXFileClose(&file);
    }
    recordingHeapCalls = false;
    writeHeapCount();
}

std::string readCount()
{
    std::ifstream countStream(countPath);
    std::string count;
    countStream >> count;
    return count;
}

} // namespace

extern "C" {
void* malloc(std::size_t size)
{
    noteHeapCall();
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size)
{
    noteHeapCall();
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, std::size_t size)
{
    noteHeapCall();
    return __libc_realloc(pointer, size);
}
void free(void* pointer)
{
    noteHeapCall();
    __libc_free(pointer);
}
}

TEST(BBXCrashTime, SignalHandlerWritesWithoutTheHeap)
{
    testsupport::TempFolder folder("bbx-crash-time");
    const auto record = folder.path() / "signal.bbxrecord";
    const auto counted = folder.path() / "heap-calls";
    const auto log = folder.path() / "sdk.log";
    std::strncpy(recordPath, record.c_str(), sizeof recordPath - 1);
    std::strncpy(countPath, counted.c_str(), sizeof countPath - 1);

    const auto outcome = testsupport::runInChild([&] {
        BBXSDKLogSetContext(log.c_str(), 1);
        struct sigaction action {};
        action.sa_handler = crashHandler;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        sigaction(SIGSEGV, &action, nullptr);
        auto* page = static_cast<volatile char*>(mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        page[0] = 1; // faults
        return std::string("survived the fault");
    });
    EXPECT_TRUE(WIFSIGNALED(outcome.status) && WTERMSIG(outcome.status) == SIGSEGV) << outcome.report;

    std::ifstream countStream(counted);
    std::string count;
    countStream >> count;
    EXPECT_EQ(count, "0") << "heap calls at crash time";

    const auto sections = BBXFileReadSections(record.c_str(), false, nullptr);
    ASSERT_TRUE(sections.has_value());
    ASSERT_EQ(sections->size(), 1u);
    const auto& signal = (*sections)[0]["signal"];
    EXPECT_EQ(signal["name"], "SIGSEGV");
    EXPECT_EQ(signal["registers"].size(), 21u);
    EXPECT_EQ(BBXHexDecode(signal["reason"].get<std::string>()), "user \"text\"");

    std::ifstream logStream(log);
    const std::string logText(std::istreambuf_iterator<char>(logStream), {});
    EXPECT_EQ(std::count(logText.begin(), logText.end(), '\n'), 5) << logText;
    EXPECT_NE(logText.find("WARN  [crashHandler:4] Signal: 11 x 0x"), std::string::npos) << logText;
}

TEST(BBXCrashTime, SnapshotInASignalHandlerUsesNoHeap)
{
    testsupport::TempFolder folder("bbx-crash-snapshot");
    const auto record = folder.path() / "signal.bbxrecord";
    const auto counted = folder.path() / "heap-calls";
    const auto log = folder.path() / "sdk.log";
    std::strncpy(recordPath, record.c_str(), sizeof recordPath - 1);
    std::strncpy(countPath, counted.c_str(), sizeof countPath - 1);

    const auto outcome = testsupport::runInChild([&] {
        BBXSDKLogSetContext(log.c_str(), 1);
        if (!BBXContextCreate())
            return std::string("no context");
        BBXHostInitialize();
        for (const auto& image : os::loadedImages())
            BBXBinaryImageStoreNode({image.base, image.size, image.ehFrameHeader, 0, 0}, true);
        std::atomic<bool> parked{false};
        std::thread worker([&] {
            parked = true;
            for (;;)
                ::pause();
        });
        worker.detach();
        while (!parked)
            std::this_thread::yield();
        struct sigaction action {};
        action.sa_sigaction = snapshotHandler;
        action.sa_flags = SA_SIGINFO | SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        sigaction(SIGSEGV, &action, nullptr);
        auto* page = static_cast<volatile char*>(mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        page[0] = 1; // faults
        return std::string("survived the fault");
    });
    EXPECT_TRUE(WIFSIGNALED(outcome.status) && WTERMSIG(outcome.status) == SIGSEGV) << outcome.report;
    EXPECT_EQ(readCount(), "0") << "heap calls during the snapshot";

    const auto sections = BBXFileReadSections(record.c_str(), false, nullptr);
    ASSERT_TRUE(sections.has_value());
    ASSERT_EQ(sections->size(), 6u);
    const auto& threads = (*sections)[0]["threads"];
    ASSERT_GE(threads.size(), 2u);
    EXPECT_EQ(threads[0]["crashed"], true);
    EXPECT_GT(threads[0]["stacktrace"].size(), 2u);
    EXPECT_GT(threads[1]["stacktrace"].size(), 1u) << "the parked worker answered";
}

#endif
