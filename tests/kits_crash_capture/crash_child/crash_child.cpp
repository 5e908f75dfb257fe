// A program that installs the crash capture on the directory it is given, prints where its functions
// crash_here and throw_here lie, and crashes as asked (crash_child <directory> <mode>), also inside a
// library it loads a moment before ("plugin"); or, as
// `crash_child kit ...`, a launch of an application that starts the kits (kit_launch.cpp). The capture
// tests run it and read what it left. While a capture is under way (the crashed flag is set), any
// malloc, calloc, realloc or free on the capturing thread leaves the file "heap-during-capture" in
// the directory.
#include "kits/crash/bbx_internal_report.h"
#include "kits/crash/bbx_process_report_operation.h"
#include "kits/crash/bbx_symbol_resolver.h"
#include "kits/crash/blackbox.h"
#include "kits/crash/capture/bbx_context.h"
#include "kits/crash/capture/bbx_exception.h"
#include "kits/crash/capture/bbx_signal.h"

#include "bus_error.h"
#include "kit_launch.h"
#include "support/real_time.h"
#include "system/elf_identity.h"
#include "system/elf_symbols.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void __libc_free(void* pointer);

void crash_here(int mode);
void throw_here(int kind);
int recurse_forever(int depth);
int crash_in_plugin(int (*crash)(int));
void jump_nowhere();
}

namespace {

// Never changed; read through volatile so the compiler cannot tell the loops below never end.
volatile bool keepParked = true;
volatile int recursionLimit = -1;

char heapMarkerPath[1024];
char priorMarkerPath[1024];
std::atomic<bool> heapMarked{false};

// Only the capturing thread counts: the kit's queue and timer threads may still run meanwhile.
void noteHeapCall()
{
    const BBXContext* context = BBXContextGet();
    if (!context || !context->state || std::atomic_ref<const std::uint8_t>(context->state->crashed).load() == 0)
        return;
    if (std::atomic_ref<const std::int32_t>(context->state->capturingThread).load() != ::gettid())
        return;
    if (heapMarked.exchange(true))
        return;
    const int fd = ::open(heapMarkerPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0)
        ::close(fd);
}

void priorHandler(int signal)
{
    const int fd = ::open(priorMarkerPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0)
        ::close(fd);
    std::signal(signal, SIG_DFL);
}

void printRange(const char* name, const void* function)
{
    const auto address = reinterpret_cast<std::uint64_t>(function);
    const auto image = os::loadedImageContaining(address);
    const auto table = image ? os::ElfSymbolTable::read(os::runningExecutablePath()) : os::ElfSymbolTableResult{};
    const os::ElfSymbol* symbol = table ? table.table->functionContaining(address - image->slide) : nullptr;
    if (symbol)
        std::printf("%s %llu %llu\n", name, static_cast<unsigned long long>(symbol->start + image->slide),
                    static_cast<unsigned long long>(symbol->start + image->slide + symbol->size));
}

void foreignTrapHandler(int) {}

void foreignTerminateHandler()
{
    std::abort();
}

void faultInCallback(void*)
{
    crash_here(0);
}

// Forty distinct functions deep (so no frame repeats), then parked.
template <int depth>
__attribute__((noinline, noclone)) int chain()
{
    int result = 0;
    if constexpr (depth == 0) {
        while (keepParked)
            ::pause();
    } else {
        result = chain<depth - 1>();
    }
    asm volatile("" : "+r"(result)::"memory");
    return result + 1;
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

__attribute__((noinline, noclone)) void crash_here(int mode)
{
    if (mode == 0) {
        *static_cast<volatile int*>(nullptr) = 1;
    } else {
        volatile int numerator = 7;
        volatile int zero = 0;
        std::printf("%d\n", numerator / zero);
    }
    asm volatile("" ::: "memory");
}

__attribute__((noinline, noclone)) void throw_here(int kind)
{
    switch (kind) {
    case 0: throw std::runtime_error("boom");
    case 1: throw 42;
    case 2: throw "text";
    default: BBXExceptionRaiseTestException();
    }
}

// The program's frame below the library's three.
__attribute__((noinline, noclone)) int crash_in_plugin(int (*crash)(int))
{
    int result = crash(1);
    asm volatile("" : "+r"(result)::"memory");
    return result;
}

// Calls an address no image holds (below the lowest address a mapping may have), with rbp a little
// up the stack: only a scan of the stack finds the caller.
__attribute__((noinline, noclone)) void jump_nowhere()
{
    asm volatile("push %%rbp\n\t"
                 "lea 64(%%rsp), %%rbp\n\t"
                 "mov $0x7000, %%eax\n\t"
                 "call *%%rax\n\t"
                 "pop %%rbp" ::
                     : "rax", "memory");
}

__attribute__((noinline, noclone)) int recurse_forever(int depth)
{
    if (depth == recursionLimit)
        return 0;
    volatile char pad[64];
    pad[0] = static_cast<char>(depth);
    int result = recurse_forever(depth + 1);
    asm volatile("" : "+r"(result)::"memory");
    return result + pad[0];
}
}

void crash_here();

// The C++ function the symbolication tests name: it fills a page of its own and faults on its second
// instruction, or, once its page is made non-executable, on its first (where it starts).
__attribute__((naked, noinline, aligned(4096))) void crash_here()
{
    asm volatile("nop\n\tmovl $1, 0\n\tud2\n\t.skip 4082, 0xcc");
}

// A static function between main and crash_here() on the crashed stack.
static __attribute__((noinline, noclone)) void call_crash_here()
{
    crash_here();
    asm volatile("" ::: "memory");
}

namespace {

// A second launch of this program processes a crashed launch's directory (its own image is loaded
// again, under the same build ID, so its frames can be named).
int processDirectory(const std::string& directory)
{
    auto report = kits::BBXInternalReport::reportWithPath(directory);
    if (!report)
        return 3;
    std::make_shared<kits::BBXProcessReportOperation>(report, std::make_shared<kits::BBXSymbolResolver>())->start();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    if (std::string(argv[1]) == "kit")
        return runKitLaunch(argc, argv);
    const std::string directory = argv[1];
    const std::string mode = argv[2];
    if (mode == "process")
        return processDirectory(directory);
    std::snprintf(heapMarkerPath, sizeof heapMarkerPath, "%s/heap-during-capture", directory.c_str());
    std::snprintf(priorMarkerPath, sizeof priorMarkerPath, "%s/prior-handler-ran", directory.c_str());

    if (mode == "prior-handler")
        std::signal(SIGSEGV, priorHandler);
    BBXContextInitData data;
    data.apiKey = "crash-child-key";
    data.reportDirectory = directory.c_str();
    data.reportIdentifier = "crash-child-session";
    data.installIdentifier = "crash-child-install";
    if (mode == "callback-fault")
        data.crashCallbackTarget = {faultInCallback, nullptr};
    if (!BBXContextInitialize(&data))
        return 4;
    printRange("crash_here", reinterpret_cast<const void*>(static_cast<void (*)(int)>(crash_here)));
    printRange("throw_here", reinterpret_cast<const void*>(throw_here));
    std::fflush(stdout);

    printRange("crash_here()", reinterpret_cast<const void*>(static_cast<void (*)()>(crash_here)));
    std::fflush(stdout);

    if (mode == "segv-cpp") {
        call_crash_here();
    } else if (mode == "segv-cpp-entry") {
        // The call itself faults: the first instruction cannot be fetched.
        ::mprotect(reinterpret_cast<void*>(static_cast<void (*)()>(crash_here)), 4096, PROT_READ);
        call_crash_here();
    } else if (mode == "plugin") {
        // Loaded and crashed in at once: the image list's periodic look cannot have seen it.
        void* plugin = ::dlopen(HORAVINE_IMAGE_PLUGIN, RTLD_NOW | RTLD_LOCAL);
        const auto crash = plugin ? reinterpret_cast<int (*)(int)>(::dlsym(plugin, "imagePluginCrash")) : nullptr;
        if (!crash)
            return 7;
        crash_in_plugin(crash);
    } else if (mode == "jump-nowhere") {
        jump_nowhere();
    } else if (mode == "segv" || mode == "prior-handler" || mode == "callback-fault")
        crash_here(0);
    else if (mode == "abort")
        std::abort();
    else if (mode == "trap-instruction")
        kits::Blackbox::sharedInstance().crash();
    else if (mode == "fpe")
        crash_here(1);
    else if (mode == "bus")
        busError(directory + "/truncated");
    else if (mode == "int3")
        asm volatile("int3");
    else if (mode == "kill")
        ::kill(::getpid(), SIGSEGV);
    else if (mode == "recursion") {
        std::printf("fault_at %ld\n", testsupport::realTimeNanoseconds());
        std::fflush(stdout);
        recurse_forever(0);
    } else if (mode == "throw-runtime")
        throw_here(0);
    else if (mode == "throw-int")
        throw_here(1);
    else if (mode == "throw-text")
        throw_here(2);
    else if (mode == "throw-test")
        throw_here(3);
    else if (mode == "eight-threads") {
        std::atomic<int> ready{0};
        std::vector<std::thread> threads;
        for (int index = 0; index < 8; ++index) {
            threads.emplace_back([&ready] {
                ready.fetch_add(1);
                while (ready.load() < 8) {}
                crash_here(0);
            });
        }
        for (auto& thread : threads)
            thread.join();
    } else if (mode == "parked") {
        // Ten threads parked 40 frames deep, then a fault; prints when it faulted.
        std::vector<std::thread> threads;
        for (int index = 0; index < 10; ++index)
            threads.emplace_back([] { chain<40>(); });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::printf("fault_at %ld\n", testsupport::realTimeNanoseconds());
        std::fflush(stdout);
        crash_here(0);
    } else if (mode == "check-handlers") {
        // A foreign SIGTRAP handler and terminate handler, then the checks; the process lives on.
        std::signal(SIGTRAP, foreignTrapHandler);
        std::set_terminate(foreignTerminateHandler);
        BBXSignalCheckHandlers();
        BBXExceptionCheckHandlers();
        std::fflush(nullptr);
        std::_Exit(0);
    } else if (mode == "write-protected") {
        // Set-up ends with the context read-only: a write to it faults (and is captured).
        BBXContext* context = BBXContextGet();
        std::printf("initialized %d\npage_size_at %llu\n", BBXContextIsInitialized() ? 1 : 0,
                    static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(&context->pageSize)));
        std::fflush(stdout);
        *const_cast<volatile std::uint64_t*>(&context->pageSize) = 1;
    } else if (mode == "null-info") {
        // A signal delivered without its information: only errno and time, then death by the signal.
        BBXSignalHandler(SIGSEGV, nullptr, nullptr);
    } else {
        return 5;
    }
    return 6; // lived on
}
