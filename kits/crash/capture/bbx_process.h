// The snapshot every capture appends to its record file (BBXHandler): every thread's registers and
// unwound stack (with "scanned_frames", the positions of frames found by scanning the stack rather
// than unwinding it), the runtime line, queue and thread names, memory and CPU figures, and the free
// space of the user's Documents volume. Linux has no in-process thread suspension: the capture sends every
// other thread a real-time signal the kit reserves; its handler copies the interrupted registers into
// the context's thread-state block and waits there until released. No heap, no locks.
#pragma once

#include "kits/crash/capture/bbx_dwarf.h"

#include <cstddef>
#include <cstdint>
#include <sys/types.h>
#include <ucontext.h>

struct BBXFile;

// Registers in the order the record writes them.
enum BBXThreadRegister : std::size_t {
    BBXThreadRegisterRAX,
    BBXThreadRegisterRBX,
    BBXThreadRegisterRCX,
    BBXThreadRegisterRDX,
    BBXThreadRegisterRDI,
    BBXThreadRegisterRSI,
    BBXThreadRegisterRBP,
    BBXThreadRegisterRSP,
    BBXThreadRegisterR8,
    BBXThreadRegisterR9,
    BBXThreadRegisterR10,
    BBXThreadRegisterR11,
    BBXThreadRegisterR12,
    BBXThreadRegisterR13,
    BBXThreadRegisterR14,
    BBXThreadRegisterR15,
    BBXThreadRegisterRIP,
    BBXThreadRegisterRFLAGS,
    BBXThreadRegisterCS,
    BBXThreadRegisterFS,
    BBXThreadRegisterGS,
    BBXThreadRegisterCount,
};
extern const char* const BBXThreadRegisterNames[BBXThreadRegisterCount];

struct BBXThreadState {
    std::uint64_t registers[BBXThreadRegisterCount] = {};
};

// One thread of the snapshot in the thread-state block. `state` moves idle -> requested (signal sent)
// -> writing -> captured (registers copied) in the thread's own handler.
struct BBXThreadSlot {
    std::int32_t thread;
    std::uint32_t state;
    std::uint64_t registers[BBXThreadRegisterCount];
};

inline constexpr std::size_t BBXThreadSlotCapacity = 1024;

// The context's thread-state block as the snapshot uses it. A handler waits until `releasedEpoch`
// reaches the `suspendEpoch` it was asked in.
struct BBXThreadTable {
    std::uint32_t suspendEpoch;
    std::uint32_t releasedEpoch;
    std::uint32_t count;
    std::uint32_t reserved;
    BBXThreadSlot slots[BBXThreadSlotCapacity];
};

// Lives on the capturing thread's stack for one capture.
struct BBXProcess {
    pid_t currentThread = 0;
    pid_t crashedThread = 0;
    const ucontext_t* userContext = nullptr;
    BBXThreadTable* threads = nullptr;
    std::uint32_t threadCount = 0;
    std::uint32_t epoch = 0;
};

// Waits for a thread's answer at most this long, and for all answers at most the second figure.
inline constexpr long BBXThreadAnswerNanoseconds = 100'000'000;
inline constexpr long BBXAllThreadsAnswerNanoseconds = 1'000'000'000;

// The real-time signal that asks a thread for its registers.
int BBXThreadStateSignal();

// Lists the threads of procfs self/task; without a context or a listing, logs and counts none.
bool BBXProcessInit(BBXProcess* process, pid_t crashedThread, const ucontext_t* userContext);
// Signals every other thread and waits for its registers (bounded); false when any did not answer.
bool BBXProcessSuspendAllOtherThreads(BBXProcess* process);
bool BBXProcessResumeAllOtherThreads(BBXProcess* process);
void BBXProcessDestroy(BBXProcess* process);
// The registers of the thread at `index`: the user context for the crashed thread when given, the
// caller's own registers for the current thread ("Faking current thread"), else what the thread's
// handler copied. False for a thread that did not answer.
bool BBXProcessGetThreadState(const BBXProcess* process, std::uint32_t index, BBXThreadState* state);
bool BBXProcessRecordAllThreads(const BBXProcess* process, BBXFile* file);
bool BBXProcessRecordRuntimeInfo(const BBXProcess* process, BBXFile* file);
bool BBXProcessRecordDispatchQueueNames(const BBXProcess* process, BBXFile* file);
bool BBXProcessRecordThreadNames(const BBXProcess* process, BBXFile* file);
bool BBXProcessRecordStats(const BBXProcess* process, BBXFile* file);
bool BBXHostRecordStorage(BBXFile* file);

// The whole snapshot into an open record file, then the context's crash callback when it has one.
// `crashedThread` is a kernel thread id; `userContext` the signal's (none for exceptions).
void BBXHandler(BBXFile* file, pid_t crashedThread, const ucontext_t* userContext);

// Conversions between a machine context, the record's order and the unwinder's (DWARF) order.
void BBXThreadStateFromMachineContext(const mcontext_t& machine, BBXThreadState* state);
void BBXMachineContextFromThreadState(const BBXThreadState& state, mcontext_t* machine);
kits::BBXDwarfRegisters BBXThreadStateDwarfRegisters(const BBXThreadState& state);
BBXThreadState BBXThreadStateFromDwarfRegisters(const kits::BBXDwarfRegisters& registers);
