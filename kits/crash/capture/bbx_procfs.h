// What the capture reads from procfs in a dying process: memory figures, the process's size, its
// tracer, the processor's name, its threads and their names. Files are read with open/read into the
// caller's stack buffer and parsed there by hand (no heap, no locks, no locale), so every function is
// async-signal-safe. Parsers never read outside [text, text + length) and fail on anything malformed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

// /proc/meminfo in bytes: "Active", "Inactive", "Unevictable" (wired) and "MemFree".
struct BBXMemoryFigures {
    std::uint64_t active = 0;
    std::uint64_t inactive = 0;
    std::uint64_t wired = 0;
    std::uint64_t free = 0;
};

// All four keys must be present with a number (and "kB", which counts 1024 bytes, or no unit).
bool BBXParseMeminfo(const char* text, std::size_t length, BBXMemoryFigures* figures);
// The first two numbers of /proc/self/statm: total and resident pages.
bool BBXParseStatm(const char* text, std::size_t length, std::uint64_t* virtualPages, std::uint64_t* residentPages);
// "TracerPid" of /proc/self/status.
bool BBXParseTracerPid(const char* text, std::size_t length, std::uint64_t* tracer);
// The first "model name" of /proc/cpuinfo, cut to fit `capacity` (with its terminator).
bool BBXParseCpuModelName(const char* text, std::size_t length, char* name, std::size_t capacity);
// The thread ids among getdents64 records (names of decimal digits only); stops at the first record
// that does not fit the bytes. Returns how many ids were stored (at most `capacity`).
std::size_t BBXParseTaskEntries(const void* records, std::size_t length, pid_t* threads, std::size_t capacity);

// Reads at most capacity - 1 bytes of a file and terminates them; false when it cannot be opened or read.
bool BBXReadProcFile(const char* path, char* buffer, std::size_t capacity, std::size_t* length);
// The threads of this process from /proc/self/task; -1 when the directory cannot be read.
long BBXListThreads(pid_t* threads, std::size_t capacity);
// The name in /proc/self/task/<thread>/comm without its line break; false when unreadable.
bool BBXReadThreadName(pid_t thread, char* name, std::size_t capacity);
