// The signal side of the capture. Linux differences: dispositions are process-wide and every fault
// arrives as a signal, so the kit's handlers stay in place until the capture has ended (another
// thread that faults meanwhile waits for it, then faults again under the restored handlers), and a
// signal that will not come again by itself (sent by kill, raise or abort, a trap, a bad system call)
// is sent once more to the thread after the previous handlers are back.
#include "kits/crash/capture/bbx_signal.h"

#include "kits/crash/capture/bbx_file.h"
#include "kits/crash/capture/bbx_process.h"
#include "kits/crash/capture/bbx_sdk_log.h"
#include "kits/crash/capture/bbx_support.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr std::uintptr_t lowestValidAddress = 4096;
// A thread waiting for another's capture gives up after this long and lets its fault run its course.
constexpr long waitForCaptureNanoseconds = 10'000'000'000;

pid_t currentThreadId()
{
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

void sendToSelf(int signal)
{
    ::syscall(SYS_tgkill, ::getpid(), currentThreadId(), signal);
}

const char* errorText(int error)
{
    const char* text = strerrordesc_np(error);
    return text ? text : "unknown error";
}

bool isTableSignal(int signal)
{
    for (const int entry : BBXSignalFatalSignals) {
        if (entry == signal)
            return true;
    }
    return false;
}

// Waits until the capturing thread has restored the handlers.
void waitForCapture(BBXCrashTimeState* state)
{
    std::atomic_ref<std::uint32_t> done(state->captureDone);
    timespec start{};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    while (done.load() == 0) {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const long waited = (now.tv_sec - start.tv_sec) * 1'000'000'000L + (now.tv_nsec - start.tv_nsec);
        if (waited >= waitForCaptureNanoseconds)
            return;
        const timespec slice{0, 100'000'000};
        ::syscall(SYS_futex, &state->captureDone, FUTEX_WAIT_PRIVATE, 0, &slice, nullptr, 0);
    }
}

void writeSignalSection(BBXFile* file, const siginfo_t* info, int savedErrno)
{
    BBXFileWriteSectionStart(file, "signal");
    BBXFileWriteHashStart(file);
    if (info) {
        // Sent signals (si_code <= 0) carry the sender where a fault carries its address.
        const std::uint64_t address = info->si_code > 0 ? reinterpret_cast<std::uintptr_t>(info->si_addr) : 0;
        BBXFileWriteHashEntryUint64(file, "number",
                                    static_cast<std::uint64_t>(static_cast<std::int64_t>(info->si_signo)));
        BBXFileWriteHashEntryUint64(file, "code", static_cast<std::uint64_t>(static_cast<std::int64_t>(info->si_code)));
        BBXFileWriteHashEntryUint64(file, "address", address);
        BBXFileWriteHashEntryString(file, "name", BBXSignalName(info->si_signo));
        BBXFileWriteHashEntryString(file, "code_name", BBXSignalCodeName(info->si_signo));
    }
    BBXFileWriteHashEntryUint64(file, "errno", static_cast<std::uint64_t>(static_cast<std::int64_t>(savedErrno)));
    BBXFileWriteHashEntryUint64(file, "time", static_cast<std::uint64_t>(::time(nullptr)));
    BBXFileWriteHashEnd(file);
    BBXFileWriteSectionEnd(file);
}

bool installHandler(int signal, struct sigaction* previous)
{
    struct sigaction action {};
    action.sa_sigaction = BBXSignalHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    return ::sigaction(signal, &action, previous) == 0;
}

} // namespace

const char* BBXSignalName(int signal)
{
    switch (signal) {
    case SIGILL: return "SIGILL";
    case SIGTRAP: return "SIGTRAP";
    case SIGABRT: return "SIGABRT";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGSEGV: return "SIGSEGV";
    case SIGSYS: return "SIGSYS";
    default: return "UNKNOWN";
    }
}

const char* BBXSignalCodeName(int signal)
{
    return signal == SIGABRT ? "ABORT" : nullptr;
}

void BBXSignalInitialize(BBXContextSignalRecord* record)
{
    BBXContext* context = BBXContextGet();
    if (!record || !context)
        return;
    if (!BBXUnlinkIfExists(record->path))
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Unable to reset the signal log file %s\n", errorText(errno));
    stack_t stack{};
    stack.ss_sp = context->signalStack;
    stack.ss_size = BBXContextBlockSize;
    stack.ss_flags = 0;
    if (::sigaltstack(&stack, &record->previousStack) != 0)
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Unable to setup stack %s\n", errorText(errno));
    else
        record->previousStackSaved = 1;
    for (std::size_t index = 0; index < BBXSignalFatalSignalCount; ++index) {
        const int signal = BBXSignalFatalSignals[index];
        struct sigaction previous {};
        if (!installHandler(signal, &previous)) {
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Unable to install handler for %d (%s)\n", signal,
                    errorText(errno));
            continue;
        }
        if (previous.sa_handler != SIG_DFL)
            record->previous[index] = previous;
        else
            std::memset(&record->previous[index], 0, sizeof record->previous[index]);
    }
}

void BBXSignalHandler(int signal, siginfo_t* info, void* userContext)
{
    const int savedErrno = errno;
    errno = 0;
    BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Signal: %d\n", signal);
    sigset_t all;
    sigfillset(&all);
    if (::sigprocmask(SIG_UNBLOCK, &all, nullptr) != 0)
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Unable to unmask signals - we risk infinite recursion here\n");
    if (reinterpret_cast<std::uintptr_t>(info) < lowestValidAddress)
        info = nullptr;
    if (reinterpret_cast<std::uintptr_t>(userContext) < lowestValidAddress)
        userContext = nullptr;
    const bool resend = !info || info->si_code <= 0 || signal == SIGTRAP || signal == SIGSYS;
    const pid_t self = currentThreadId();

    BBXContext* context = BBXContextGet();
    if (context && context->state && BBXContextMarkAndCheckIfCrashed()) {
        BBXCrashTimeState* state = context->state;
        if (std::atomic_ref<std::int32_t>(state->capturingThread).load() == self) {
            // The capture itself faulted: end the process by this signal at once.
            BBX_LOG(BBXSDKLogLevelWarn,
                    "WARN  [%s:%d] Error: aborting signal handler because crash has already occurred");
            BBXSignalSafeRemoveHandlers();
            sendToSelf(signal);
            errno = savedErrno;
            return;
        }
        waitForCapture(state);
        if (resend)
            sendToSelf(signal);
        errno = savedErrno;
        return;
    }
    if (context && context->state) {
        std::atomic_ref<std::int32_t>(context->state->capturingThread).store(self);
        BBXSDKLogCaptureBegan();
        BBXFile file;
        if (BBXFileInitWithPathMode(&file, context->signalRecord.path, true, false)) {
            writeSignalSection(&file, info, savedErrno);
            BBXHandler(&file, self, static_cast<const ucontext_t*>(userContext));
            BBXFileClose(&file);
        } else {
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Unable to open signal file\n");
        }
        BBXSignalSafeInstallPreexistingHandlers(&context->signalRecord);
        std::atomic_ref<std::uint32_t>(context->state->captureDone).store(1);
        ::syscall(SYS_futex, &context->state->captureDone, FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
    } else {
        BBXSignalSafeRemoveHandlers();
    }
    errno = savedErrno;
    if (resend)
        sendToSelf(signal);
}

void BBXSignalSafeRemoveHandlers()
{
    for (std::size_t index = 0; index < BBXSignalFatalSignalCount; ++index) {
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        sigemptyset(&action.sa_mask);
        if (::sigaction(BBXSignalFatalSignals[index], &action, nullptr) != 0)
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Unable to set default handler for %d (%s)\n",
                    static_cast<int>(index), errorText(errno));
    }
}

bool BBXSignalSafeInstallPreexistingHandlers(const BBXContextSignalRecord* record)
{
    BBXSignalSafeRemoveHandlers();
    if (reinterpret_cast<std::uintptr_t>(record) < lowestValidAddress)
        return false;
    // A thread cannot change its alternate stack while running on it (the capture does): the kit's
    // stays in place then, and the previous actions are still restored.
    stack_t current{};
    const bool onAlternateStack = ::sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_ONSTACK);
    if (record->previousStackSaved && !onAlternateStack && ::sigaltstack(&record->previousStack, nullptr) != 0) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Unable to setup stack %s\n", errorText(errno));
        return false;
    }
    bool ok = true;
    for (std::size_t index = 0; index < BBXSignalFatalSignalCount; ++index) {
        const struct sigaction& previous = record->previous[index];
        if (previous.sa_handler == SIG_DFL)
            continue;
        if (::sigaction(BBXSignalFatalSignals[index], &previous, nullptr) != 0) {
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Unable to install handler for %d (%s)\n",
                    BBXSignalFatalSignals[index], errorText(errno));
            ok = false;
        }
    }
    return ok;
}

void BBXSignalEnumerateFatalSignals(const std::function<void(std::size_t index, int signal)>& block)
{
    if (!block)
        return;
    for (std::size_t index = 0; index < BBXSignalFatalSignalCount; ++index)
        block(index, BBXSignalFatalSignals[index]);
}

void BBXSignalCheckHandlers()
{
    if (BBXContextDebuggerAttached())
        return;
    BBXSignalEnumerateFatalSignals([](std::size_t, int signal) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) != 0) {
            std::fprintf(stderr, "Unable to read signal handler\n");
            return;
        }
        const bool ours = (current.sa_flags & SA_SIGINFO) && current.sa_sigaction == BBXSignalHandler;
        if (ours || !isTableSignal(signal))
            return;
        std::string symbol = "(null)";
        BBXDladdrNames(reinterpret_cast<const void*>(current.sa_handler), [&](const char* name, const char*) {
            if (name)
                symbol = name;
        });
        std::fprintf(stderr,
                     "[Blackbox] The signal %s has a non-Blackbox handler (%s).  This will interfere with reporting.\n",
                     BBXSignalName(signal), symbol.c_str());
    });
}
