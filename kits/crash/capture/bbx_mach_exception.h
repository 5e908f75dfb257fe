// The exception-server tables as pure functions. Linux has no Mach exception server (every fault
// reaches its thread as a signal), so nothing registers ports and "mach_exception.bbxrecord" is never
// written; the tables stay for the masks the kit computes and for readers of older reports.
#pragma once

#include <cstdint>

// Mask bits by exception kind.
inline constexpr std::uint32_t BBXMachExceptionMaskBadAccess = 2;
inline constexpr std::uint32_t BBXMachExceptionMaskBadInstruction = 4;
inline constexpr std::uint32_t BBXMachExceptionMaskArithmetic = 8;
inline constexpr std::uint32_t BBXMachExceptionMaskBreakpoint = 64;
inline constexpr std::uint32_t BBXMachExceptionMaskCrash = 1024;
inline constexpr std::uint32_t BBXMachExceptionMaskGuard = 4096;

// The mask bit of a fatal signal (by its Linux number); 0 for any other signal.
std::uint32_t BBXMachExceptionMaskForSignal(int signal);
// "EXC_BAD_ACCESS" and the others by exception type; none for any other type.
const char* BBXMachExceptionName(int exceptionType);
// The code name of an exception's first code; none when the table has none.
const char* BBXMachExceptionCodeName(int exceptionType, std::int64_t code);
// The x86 trap name of a number below 34; none for numbers the table leaves out.
const char* BBXMachExceptionTrapName(std::int64_t number);
// 4174 (with GUARD) above version code 1069, else 78.
std::uint32_t BBXMachExceptionBaseMask(std::uint64_t osVersionCode);
// The base mask without the bits left to the signal handlers.
std::uint32_t BBXMachExceptionRegisteredMask(std::uint64_t osVersionCode, std::uint32_t signalOnlyMask);
