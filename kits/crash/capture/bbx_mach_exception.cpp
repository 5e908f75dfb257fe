// The exception tables: names and code names by type, x86 trap names, masks by signal and the base
// mask by system version.
#include "kits/crash/capture/bbx_mach_exception.h"

#include <csignal>

std::uint32_t BBXMachExceptionMaskForSignal(int signal)
{
    switch (signal) {
    case SIGILL: return BBXMachExceptionMaskBadInstruction;
    case SIGTRAP: return BBXMachExceptionMaskBreakpoint;
    case SIGABRT: return BBXMachExceptionMaskCrash;
    case SIGFPE: return BBXMachExceptionMaskArithmetic;
    case SIGBUS: return BBXMachExceptionMaskBadAccess;
    case SIGSEGV: return BBXMachExceptionMaskBadAccess;
    case SIGSYS: return BBXMachExceptionMaskCrash;
    default: return 0;
    }
}

const char* BBXMachExceptionName(int exceptionType)
{
    switch (exceptionType) {
    case 1: return "EXC_BAD_ACCESS";
    case 2: return "EXC_BAD_INSTRUCTION";
    case 3: return "EXC_ARITHMETIC";
    case 6: return "EXC_BREAKPOINT";
    case 12: return "EXC_GUARD";
    default: return nullptr;
    }
}

const char* BBXMachExceptionCodeName(int exceptionType, std::int64_t code)
{
    static const char* const arithmetic[] = {"EXC_I386_DIV",    "EXC_I386_INTO",     "EXC_I386_NOEXT",
                                             "EXC_I386_EXTOVR", "EXC_I386_EXTERR",   "EXC_I386_EMERR",
                                             "EXC_I386_BOUND",  "EXC_I386_SSEEXTERR"};
    switch (exceptionType) {
    case 1: return code == 1 ? "KERN_INVALID_ADDRESS" : code == 2 ? "KERN_PROTECTION_FAILURE" : nullptr;
    case 2: return "EXC_I386_INVOP";
    case 3: return code >= 1 && code <= 8 ? arithmetic[code - 1] : nullptr;
    case 6: return BBXMachExceptionTrapName(code);
    default: return nullptr;
    }
}

const char* BBXMachExceptionTrapName(std::int64_t number)
{
    switch (number) {
    case 0: return "EXC_I386_DIVERR";
    case 1: return "EXC_I386_SGLSTP";
    case 2: return "EXC_I386_NMIFLT";
    case 3: return "EXC_I386_BPTFLT";
    case 4: return "EXC_I386_INTOFLT";
    case 5: return "EXC_I386_BOUNDFLT";
    case 6: return "EXC_I386_INVOPFLT";
    case 7: return "EXC_I386_NOEXTFLT";
    case 9: return "EXC_I386_EXTOVRFLT";
    case 10: return "EXC_I386_INVTSSFLT";
    case 11: return "EXC_I386_SEGNPFLT";
    case 12: return "EXC_I386_STKFLT";
    case 13: return "EXC_I386_GPFLT";
    case 14: return "EXC_I386_PGFLT";
    case 16: return "EXC_I386_EXTERRFLT";
    case 17: return "EXC_I386_ALIGNFLT";
    case 32: return "EXC_I386_ENOEXTFLT";
    case 33: return "EXC_I386_ENDPERR";
    default: return nullptr;
    }
}

std::uint32_t BBXMachExceptionBaseMask(std::uint64_t osVersionCode)
{
    constexpr std::uint32_t withoutGuard = BBXMachExceptionMaskBadAccess | BBXMachExceptionMaskBadInstruction
                                           | BBXMachExceptionMaskArithmetic | BBXMachExceptionMaskBreakpoint;
    return osVersionCode > 1069 ? withoutGuard | BBXMachExceptionMaskGuard : withoutGuard;
}

std::uint32_t BBXMachExceptionRegisteredMask(std::uint64_t osVersionCode, std::uint32_t signalOnlyMask)
{
    return BBXMachExceptionBaseMask(osVersionCode) & ~signalOnlyMask;
}
