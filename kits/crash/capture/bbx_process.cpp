// The snapshot's sections. Threads answer a real-time signal from their own handler (the only way to
// read another thread's registers in-process on Linux) and wait on a futex until the capture releases
// them; the capture waits on each answer with a time limit, so a thread that blocks the signal or
// sleeps uninterruptibly costs at most its share of the wait and is written with empty registers.
#include "kits/crash/capture/bbx_process.h"

#include "kits/crash/capture/bbx_binary_image.h"
#include "kits/crash/capture/bbx_context.h"
#include "kits/crash/capture/bbx_file.h"
#include "kits/crash/capture/bbx_procfs.h"
#include "kits/crash/capture/bbx_sdk_log.h"
#include "kits/crash/capture/bbx_support.h"
#include "kits/crash/capture/bbx_unwind.h"

#include "foundation/dispatch_queue.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <linux/futex.h>
#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

const char* const BBXThreadRegisterNames[BBXThreadRegisterCount] = {
    "rax", "rbx", "rcx", "rdx", "rdi", "rsi", "rbp",    "rsp", "r8", "r9", "r10",
    "r11", "r12", "r13", "r14", "r15", "rip", "rflags", "cs",  "fs", "gs",
};

static_assert(sizeof(BBXThreadTable) <= BBXContextBlockSize, "the thread table fills the context's second block");

namespace {

constexpr std::uintptr_t lowestValidAddress = 4096;
constexpr std::uint32_t slotIdle = 0;
constexpr std::uint32_t slotRequested = 1;
constexpr std::uint32_t slotWriting = 2;
constexpr std::uint32_t slotCaptured = 3;
// A thread parked in its handler gives up after this long even when never released, so a capture that
// went wrong cannot hold a living process forever.
constexpr long parkedLimitNanoseconds = 10'000'000'000;
// Frames in a row with the same PC after which a walk stops writing them.
constexpr std::uint32_t recursionRepeatLimit = 10;

std::atomic<BBXThreadTable*> activeTable{nullptr};
std::atomic<bool> handlerInstalled{false};

std::uint32_t load(std::uint32_t& word)
{
    return std::atomic_ref<std::uint32_t>(word).load(std::memory_order_acquire);
}

void store(std::uint32_t& word, std::uint32_t value)
{
    std::atomic_ref<std::uint32_t>(word).store(value, std::memory_order_release);
}

bool exchange(std::uint32_t& word, std::uint32_t expected, std::uint32_t desired)
{
    return std::atomic_ref<std::uint32_t>(word).compare_exchange_strong(expected, desired);
}

long nowNanoseconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1'000'000'000L + now.tv_nsec;
}

void futexWait(std::uint32_t* word, std::uint32_t expected, long nanoseconds)
{
    if (nanoseconds <= 0)
        return;
    const timespec timeout{nanoseconds / 1'000'000'000L, nanoseconds % 1'000'000'000L};
    ::syscall(SYS_futex, word, FUTEX_WAIT_PRIVATE, expected, &timeout, nullptr, 0);
}

void futexWake(std::uint32_t* word)
{
    ::syscall(SYS_futex, word, FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

pid_t currentThreadId()
{
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

// Runs on the asked thread: copies its interrupted registers, then waits until released.
void threadStateHandler(int, siginfo_t*, void* raw)
{
    const int savedErrno = errno;
    BBXThreadTable* table = activeTable.load(std::memory_order_acquire);
    const auto* context = static_cast<const ucontext_t*>(raw);
    if (table && context) {
        const pid_t self = currentThreadId();
        const std::uint32_t epoch = load(table->suspendEpoch);
        const std::uint32_t count = load(table->count);
        for (std::uint32_t index = 0; index < count && index < BBXThreadSlotCapacity; ++index) {
            BBXThreadSlot& slot = table->slots[index];
            if (slot.thread != self)
                continue;
            if (!exchange(slot.state, slotRequested, slotWriting))
                break; // not asked, or the capture gave up on this thread
            BBXThreadState state;
            BBXThreadStateFromMachineContext(context->uc_mcontext, &state);
            std::memcpy(slot.registers, state.registers, sizeof slot.registers);
            store(slot.state, slotCaptured);
            futexWake(&slot.state);
            const long deadline = nowNanoseconds() + parkedLimitNanoseconds;
            for (std::uint32_t released = load(table->releasedEpoch); released < epoch;
                 released = load(table->releasedEpoch)) {
                const long left = deadline - nowNanoseconds();
                if (left <= 0)
                    break;
                futexWait(&table->releasedEpoch, released, left < 100'000'000 ? left : 100'000'000);
            }
            break;
        }
    }
    errno = savedErrno;
}

// Installed once and kept: a thread that blocked the signal receives it when it unblocks, perhaps
// long after the capture, and must not die of it.
void installThreadStateHandler()
{
    if (handlerInstalled.exchange(true))
        return;
    struct sigaction action {};
    action.sa_sigaction = threadStateHandler;
    action.sa_flags = SA_SIGINFO | SA_RESTART | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    if (::sigaction(BBXThreadStateSignal(), &action, nullptr) != 0) {
        handlerInstalled.store(false);
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Unable to install the thread state handler\n");
    }
}

kits::BBXMemoryReader safeMemory()
{
    return {[](const void*, std::uint64_t address, void* destination, std::size_t size) {
                return BBXReadMemory(reinterpret_cast<const void*>(address), destination, size);
            },
            nullptr};
}

// The registers of the thread as BBXProcessGetThreadState's caller has them: getcontext() here, then
// two steps of the unwinder (out of this function and out of BBXProcessGetThreadState), so the walk
// starts in a frame that is still live while the caller walks. Code without frame pointers keeps none
// in rbp, so the frame pointer alone would start the walk nowhere.
__attribute__((noinline)) void fakeCurrentThread(BBXThreadState* state)
{
    BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Faking current thread\n");
    *state = BBXThreadState{};
    ucontext_t context;
    if (::getcontext(&context) != 0)
        return;
    BBXThreadState own;
    BBXThreadStateFromMachineContext(context.uc_mcontext, &own);
    kits::BBXUnwindCursor cursor;
    kits::BBXUnwindInit(&cursor, BBXThreadStateDwarfRegisters(own), safeMemory(), BBXBinaryImageFinder());
    for (int frame = 0; frame < 3; ++frame) {
        if (!kits::BBXUnwindNextFrameUsingAllStrategies(&cursor))
            return;
    }
    *state = BBXThreadStateFromDwarfRegisters(cursor.registers);
}

bool writeEmptyThread(BBXFile* file, bool crashed)
{
    bool ok = BBXFileWriteHashStart(file);
    ok = ok && BBXFileWriteHashKey(file, "registers") && BBXFileWriteHashStart(file) && BBXFileWriteHashEnd(file);
    ok = ok && BBXFileWriteHashKey(file, "stacktrace") && BBXFileWriteArrayStart(file) && BBXFileWriteArrayEnd(file);
    if (crashed)
        ok = ok && BBXFileWriteHashEntryBoolean(file, "crashed", true);
    return ok && BBXFileWriteHashEnd(file);
}

// The positions in a written stacktrace of the frames found by scanning the stack (the scan runs on
// a walk's first step only, so a few places are plenty).
struct ScannedFrames {
    static constexpr std::size_t capacity = 8;
    std::uint64_t positions[capacity];
    std::size_t count = 0;
};

// The stacktrace array by the recursion rule: after 10 frames in a row with the same PC, that PC is no
// longer written (and the log is cut to warnings) until another PC comes.
bool writeStacktrace(BBXFile* file, kits::BBXUnwindCursor* cursor, std::uint64_t* repeatedPC, std::uint32_t* repeats,
                     ScannedFrames* scanned)
{
    const std::uint32_t savedLevel = BBXSDKLogMinimumLevel();
    std::uint64_t written = 0;
    bool ok = BBXFileWriteHashKey(file, "stacktrace") && BBXFileWriteArrayStart(file);
    while (ok && kits::BBXUnwindNextFrameUsingAllStrategies(cursor)) {
        const std::uint64_t pc = kits::BBXUnwindGetPC(cursor);
        const std::uint32_t repeat = kits::BBXUnwindGetRepeatCount(cursor);
        if (*repeatedPC != 0 && pc == *repeatedPC) {
            *repeats = repeat;
            continue;
        }
        if (*repeatedPC == 0 && repeat >= recursionRepeatLimit) {
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Possible infinite recursion - suppressing logging\n");
            BBXSDKLogSetMinimumLevel(BBXSDKLogLevelWarn);
            *repeatedPC = pc;
            *repeats = repeat;
            continue;
        }
        if (*repeatedPC != 0)
            BBXSDKLogSetMinimumLevel(savedLevel);
        if (kits::BBXUnwindFrameWasScanned(cursor) && scanned->count < ScannedFrames::capacity)
            scanned->positions[scanned->count++] = written;
        ok = BBXFileWriteArrayEntryUint64(file, pc);
        ++written;
    }
    BBXSDKLogSetMinimumLevel(savedLevel);
    return ok && BBXFileWriteArrayEnd(file);
}

bool writeThread(BBXFile* file, const BBXThreadState& state, bool crashed)
{
    bool ok = BBXFileWriteHashStart(file) && BBXFileWriteHashKey(file, "registers") && BBXFileWriteHashStart(file);
    for (std::size_t index = 0; ok && index < BBXThreadRegisterCount; ++index)
        ok = BBXFileWriteHashEntryUint64(file, BBXThreadRegisterNames[index], state.registers[index]);
    ok = ok && BBXFileWriteHashEnd(file);
    kits::BBXUnwindCursor cursor;
    kits::BBXUnwindInit(&cursor, BBXThreadStateDwarfRegisters(state), safeMemory(), BBXBinaryImageFinder());
    std::uint64_t repeatedPC = 0;
    std::uint32_t repeats = 0;
    ScannedFrames scanned;
    ok = ok && writeStacktrace(file, &cursor, &repeatedPC, &repeats, &scanned);
    if (scanned.count > 0) {
        ok = ok && BBXFileWriteHashKey(file, "scanned_frames") && BBXFileWriteArrayStart(file);
        for (std::size_t index = 0; ok && index < scanned.count; ++index)
            ok = BBXFileWriteArrayEntryUint64(file, scanned.positions[index]);
        ok = ok && BBXFileWriteArrayEnd(file);
    }
    if (crashed)
        ok = ok && BBXFileWriteHashEntryBoolean(file, "crashed", true);
    if (repeatedPC != 0) {
        ok = ok && BBXFileWriteHashEntryUint64(file, "repeated_pc", repeatedPC);
        ok = ok && BBXFileWriteHashEntryUint64(file, "repeat_count", repeats);
    }
    return ok && BBXFileWriteHashEnd(file);
}

bool sectionEnd(BBXFile* file, bool ok)
{
    return ok && BBXFileWriteHashEnd(file) && BBXFileWriteSectionEnd(file);
}

} // namespace

int BBXThreadStateSignal()
{
    return SIGRTMIN + 5;
}

void BBXThreadStateFromMachineContext(const mcontext_t& machine, BBXThreadState* state)
{
    const auto& g = machine.gregs;
    std::uint64_t* out = state->registers;
    const int order[] = {REG_RAX, REG_RBX, REG_RCX, REG_RDX, REG_RDI, REG_RSI, REG_RBP, REG_RSP, REG_R8,
                         REG_R9,  REG_R10, REG_R11, REG_R12, REG_R13, REG_R14, REG_R15, REG_RIP, REG_EFL};
    for (std::size_t index = 0; index < std::size(order); ++index)
        out[index] = static_cast<std::uint64_t>(g[order[index]]);
    // cs, gs and fs share one word, 16 bits each from the bottom.
    const auto segments = static_cast<std::uint64_t>(g[REG_CSGSFS]);
    out[BBXThreadRegisterCS] = segments & 0xffff;
    out[BBXThreadRegisterGS] = (segments >> 16) & 0xffff;
    out[BBXThreadRegisterFS] = (segments >> 32) & 0xffff;
}

void BBXMachineContextFromThreadState(const BBXThreadState& state, mcontext_t* machine)
{
    auto& g = machine->gregs;
    const std::uint64_t* in = state.registers;
    const int order[] = {REG_RAX, REG_RBX, REG_RCX, REG_RDX, REG_RDI, REG_RSI, REG_RBP, REG_RSP, REG_R8,
                         REG_R9,  REG_R10, REG_R11, REG_R12, REG_R13, REG_R14, REG_R15, REG_RIP, REG_EFL};
    for (std::size_t index = 0; index < std::size(order); ++index)
        g[order[index]] = static_cast<greg_t>(in[index]);
    g[REG_CSGSFS] = static_cast<greg_t>((in[BBXThreadRegisterCS] & 0xffff) | (in[BBXThreadRegisterGS] & 0xffff) << 16
                                        | (in[BBXThreadRegisterFS] & 0xffff) << 32);
}

BBXThreadState BBXThreadStateFromDwarfRegisters(const kits::BBXDwarfRegisters& registers)
{
    const std::uint64_t* value = registers.value;
    BBXThreadState state;
    std::uint64_t* out = state.registers;
    out[BBXThreadRegisterRAX] = value[0];
    out[BBXThreadRegisterRDX] = value[1];
    out[BBXThreadRegisterRCX] = value[2];
    out[BBXThreadRegisterRBX] = value[3];
    out[BBXThreadRegisterRSI] = value[4];
    out[BBXThreadRegisterRDI] = value[5];
    out[BBXThreadRegisterRBP] = value[6];
    out[BBXThreadRegisterRSP] = value[7];
    for (std::size_t index = 0; index < 8; ++index)
        out[BBXThreadRegisterR8 + index] = value[8 + index];
    out[BBXThreadRegisterRIP] = value[kits::BBXDwarfRegisterRIP];
    return state;
}

kits::BBXDwarfRegisters BBXThreadStateDwarfRegisters(const BBXThreadState& state)
{
    const std::uint64_t* in = state.registers;
    kits::BBXDwarfRegisters registers;
    registers.value[0] = in[BBXThreadRegisterRAX];
    registers.value[1] = in[BBXThreadRegisterRDX];
    registers.value[2] = in[BBXThreadRegisterRCX];
    registers.value[3] = in[BBXThreadRegisterRBX];
    registers.value[4] = in[BBXThreadRegisterRSI];
    registers.value[5] = in[BBXThreadRegisterRDI];
    registers.value[6] = in[BBXThreadRegisterRBP];
    registers.value[7] = in[BBXThreadRegisterRSP];
    for (std::size_t index = 0; index < 8; ++index)
        registers.value[8 + index] = in[BBXThreadRegisterR8 + index];
    registers.value[kits::BBXDwarfRegisterRIP] = in[BBXThreadRegisterRIP];
    return registers;
}

bool BBXProcessInit(BBXProcess* process, pid_t crashedThread, const ucontext_t* userContext)
{
    if (reinterpret_cast<std::uintptr_t>(process) < lowestValidAddress)
        return false;
    *process = BBXProcess{};
    process->currentThread = currentThreadId();
    process->crashedThread = crashedThread;
    process->userContext = reinterpret_cast<std::uintptr_t>(userContext) < lowestValidAddress ? nullptr : userContext;
    BBXContext* context = BBXContextGet();
    pid_t threads[BBXThreadSlotCapacity];
    const long count = context && context->threadStateBlock ? BBXListThreads(threads, BBXThreadSlotCapacity) : -1;
    if (count < 0) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: unable to get task threads\n");
        return false;
    }
    auto* table = static_cast<BBXThreadTable*>(context->threadStateBlock);
    for (long index = 0; index < count; ++index) {
        BBXThreadSlot& slot = table->slots[index];
        slot.thread = threads[index];
        store(slot.state, slotIdle);
        std::memset(slot.registers, 0, sizeof slot.registers);
    }
    store(table->count, static_cast<std::uint32_t>(count));
    process->threads = table;
    process->threadCount = static_cast<std::uint32_t>(count);
    return true;
}

bool BBXProcessSuspendAllOtherThreads(BBXProcess* process)
{
    if (reinterpret_cast<std::uintptr_t>(process) < lowestValidAddress || !process->threads)
        return false;
    installThreadStateHandler();
    BBXThreadTable* table = process->threads;
    process->epoch = std::atomic_ref<std::uint32_t>(table->suspendEpoch).fetch_add(1) + 1;
    activeTable.store(table, std::memory_order_release);
    const pid_t self = ::getpid();
    const int signal = BBXThreadStateSignal();
    for (std::uint32_t index = 0; index < process->threadCount; ++index) {
        BBXThreadSlot& slot = table->slots[index];
        if (slot.thread == process->currentThread)
            continue;
        store(slot.state, slotRequested);
        if (::syscall(SYS_tgkill, self, slot.thread, signal) != 0)
            store(slot.state, slotIdle); // gone since the listing
    }
    bool all = true;
    const long start = nowNanoseconds();
    for (std::uint32_t index = 0; index < process->threadCount; ++index) {
        BBXThreadSlot& slot = table->slots[index];
        const long now = nowNanoseconds();
        long deadline = now + BBXThreadAnswerNanoseconds;
        if (deadline > start + BBXAllThreadsAnswerNanoseconds)
            deadline = start + BBXAllThreadsAnswerNanoseconds;
        for (std::uint32_t state = load(slot.state); state == slotRequested || state == slotWriting;
             state = load(slot.state)) {
            const long left = deadline - nowNanoseconds();
            if (left <= 0 && state == slotRequested && exchange(slot.state, slotRequested, slotIdle)) {
                BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Thread %d did not answer\n", slot.thread);
                all = false;
                break;
            }
            // A thread caught in the middle of its copy finishes it in moments.
            futexWait(&slot.state, state, left > 0 ? left : 1'000'000);
        }
    }
    return all;
}

bool BBXProcessResumeAllOtherThreads(BBXProcess* process)
{
    if (reinterpret_cast<std::uintptr_t>(process) < lowestValidAddress || !process->threads)
        return false;
    store(process->threads->releasedEpoch, process->epoch);
    futexWake(&process->threads->releasedEpoch);
    return true;
}

void BBXProcessDestroy(BBXProcess*) {}

__attribute__((noinline)) bool BBXProcessGetThreadState(const BBXProcess* process, std::uint32_t index,
                                                        BBXThreadState* state)
{
    if (reinterpret_cast<std::uintptr_t>(state) < lowestValidAddress) {
        BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] invalid context supplied");
        return false;
    }
    if (reinterpret_cast<std::uintptr_t>(process) < lowestValidAddress || !process->threads
        || index >= process->threadCount)
        return false;
    const BBXThreadSlot& slot = process->threads->slots[index];
    if (slot.thread == process->crashedThread && process->userContext) {
        BBXThreadStateFromMachineContext(process->userContext->uc_mcontext, state);
        return true;
    }
    if (slot.thread == process->currentThread) {
        fakeCurrentThread(state);
        return true;
    }
    if (load(const_cast<std::uint32_t&>(slot.state)) != slotCaptured) {
        BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] failed to get thread state\n");
        return false;
    }
    std::memcpy(state->registers, slot.registers, sizeof state->registers);
    return true;
}

bool BBXProcessRecordAllThreads(const BBXProcess* process, BBXFile* file)
{
    bool ok = BBXFileWriteSectionStart(file, "threads") && BBXFileWriteArrayStart(file);
    for (std::uint32_t index = 0; ok && index < process->threadCount; ++index) {
        BBX_LOG(BBXSDKLogLevelInfo, "INFO  [%s:%d] recording thread %d data\n", static_cast<int>(index));
        const bool crashed = process->threads->slots[index].thread == process->crashedThread;
        BBXThreadState state;
        if (!BBXProcessGetThreadState(process, index, &state)) {
            // Routine on Linux (the thread blocks the signal or cannot take it now): the line goes on.
            BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] unable to get thread state");
            ok = writeEmptyThread(file, crashed);
            continue;
        }
        ok = writeThread(file, state, crashed);
    }
    ok = ok && BBXFileWriteArrayEnd(file) && BBXFileWriteSectionEnd(file);
    BBX_LOG(BBXSDKLogLevelInfo, "INFO  [%s:%d] completed recording all thread data\n");
    return ok;
}

bool BBXProcessRecordRuntimeInfo(const BBXProcess*, BBXFile* file)
{
    // No message-send runtime and no crash-info sections on Linux: both stay empty.
    bool ok = BBXFileWriteSectionStart(file, "runtime") && BBXFileWriteHashStart(file);
    ok = ok && BBXFileWriteHashEntryString(file, "objc_selector", "");
    ok = ok && BBXFileWriteHashKey(file, "crash_info_entries") && BBXFileWriteArrayStart(file)
         && BBXFileWriteArrayEnd(file);
    return sectionEnd(file, ok);
}

bool BBXProcessRecordDispatchQueueNames(const BBXProcess* process, BBXFile* file)
{
    bool ok = BBXFileWriteSectionStart(file, "dispatch_queue_names") && BBXFileWriteArrayStart(file);
    for (std::uint32_t index = 0; ok && index < process->threadCount; ++index) {
        char label[foundation::queueLabelCapacity];
        if (!foundation::queueLabelOfThread(process->threads->slots[index].thread, label, sizeof label))
            label[0] = '\0';
        ok = BBXFileWriteArrayEntryString(file, label);
    }
    return ok && BBXFileWriteArrayEnd(file) && BBXFileWriteSectionEnd(file);
}

bool BBXProcessRecordThreadNames(const BBXProcess* process, BBXFile* file)
{
    bool ok = BBXFileWriteSectionStart(file, "thread_names") && BBXFileWriteArrayStart(file);
    for (std::uint32_t index = 0; ok && index < process->threadCount; ++index) {
        char name[64];
        std::memset(name, 0, 8);
        if (!BBXReadThreadName(process->threads->slots[index].thread, name, sizeof name))
            name[0] = '\0';
        ok = BBXFileWriteArrayEntryString(file, name);
    }
    return ok && BBXFileWriteArrayEnd(file) && BBXFileWriteSectionEnd(file);
}

bool BBXProcessRecordStats(const BBXProcess*, BBXFile* file)
{
    BBXContext* context = BBXContextGet();
    const std::uint64_t pageSize = context && context->pageSize ? context->pageSize : 4096;
    char text[4096];
    std::size_t length = 0;
    BBXMemoryFigures memory;
    if (!BBXReadProcFile("/proc/meminfo", text, sizeof text, &length) || !BBXParseMeminfo(text, length, &memory)) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Failed to get vm statistics\n");
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Unable to get process memory usage\n");
        return false;
    }
    std::uint64_t virtualPages = 0;
    std::uint64_t residentPages = 0;
    rusage usage{};
    if (!BBXReadProcFile("/proc/self/statm", text, sizeof text, &length)
        || !BBXParseStatm(text, length, &virtualPages, &residentPages) || ::getrusage(RUSAGE_SELF, &usage) != 0) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Failed to get task info\n");
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Unable to get process stats\n");
        return false;
    }
    const auto microseconds = [](const timeval& time) {
        return static_cast<std::uint64_t>(time.tv_sec) * 1000000 + static_cast<std::uint64_t>(time.tv_usec);
    };
    bool ok = BBXFileWriteSectionStart(file, "process_stats") && BBXFileWriteHashStart(file);
    ok = ok && BBXFileWriteHashEntryUint64(file, "active", memory.active);
    ok = ok && BBXFileWriteHashEntryUint64(file, "inactive", memory.inactive);
    ok = ok && BBXFileWriteHashEntryUint64(file, "wired", memory.wired);
    ok = ok && BBXFileWriteHashEntryUint64(file, "freeMem", memory.free);
    ok = ok && BBXFileWriteHashEntryUint64(file, "free_mem", memory.free);
    ok = ok && BBXFileWriteHashEntryUint64(file, "virtual", virtualPages * pageSize);
    ok = ok && BBXFileWriteHashEntryUint64(file, "resident", residentPages * pageSize);
    ok = ok && BBXFileWriteHashEntryUint64(file, "user_time", microseconds(usage.ru_utime));
    ok = ok && BBXFileWriteHashEntryUint64(file, "sys_time", microseconds(usage.ru_stime));
    return sectionEnd(file, ok);
}

bool BBXHostRecordStorage(BBXFile* file)
{
    BBXContext* context = BBXContextGet();
    bool ok = BBXFileWriteSectionStart(file, "storage") && BBXFileWriteHashStart(file);
    struct statfs volume {};
    if (ok && context && context->documentsPath && ::statfs(context->documentsPath, &volume) == 0) {
        const auto block = static_cast<std::uint64_t>(volume.f_frsize ? volume.f_frsize : volume.f_bsize);
        ok = BBXFileWriteHashEntryUint64(file, "free", block * static_cast<std::uint64_t>(volume.f_bavail));
        ok = ok && BBXFileWriteHashEntryUint64(file, "total", block * static_cast<std::uint64_t>(volume.f_blocks));
    }
    return sectionEnd(file, ok);
}

void BBXHandler(BBXFile* file, pid_t crashedThread, const ucontext_t* userContext)
{
    BBXProcess process;
    BBXProcessInit(&process, crashedThread, userContext);
    BBXProcessSuspendAllOtherThreads(&process);
    // An object loaded since the image list's last look must be in it before any stack is walked.
    BBXBinaryImageSafeSyncWithLoader();
    BBXProcessRecordAllThreads(&process, file);
    BBXProcessRecordRuntimeInfo(&process, file);
    BBXProcessRecordDispatchQueueNames(&process, file);
    BBXProcessRecordThreadNames(&process, file);
    BBXProcessRecordStats(&process, file);
    BBXHostRecordStorage(file);
    BBXProcessResumeAllOtherThreads(&process);
    BBXProcessDestroy(&process);
    const BBXContext* context = BBXContextGet();
    if (context && context->crashCallback.deliverCrashDelegateCallback) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Performing syncrhonous crash callback - hold onto your butts\n");
        context->crashCallback.deliverCrashDelegateCallback(context->crashCallback.target);
    }
}
