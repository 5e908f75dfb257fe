// The crash kit's own diagnostic log, "sdk.log" in the launch's report directory: a printf-like
// formatter that is async-signal-safe (no heap, no locks, no locale), so crash-time code can log.
// Each message is formatted in a stack buffer and written with one write(). The level word is part
// of the format text ("WARN  [%s:%d] ...").
#pragma once

#include <cstdint>

enum BBXSDKLogLevel : std::uint32_t {
    BBXSDKLogLevelDebug = 1,
    BBXSDKLogLevelInfo = 2,
    BBXSDKLogLevelWarn = 3,
    BBXSDKLogLevelError = 4,
};

// Writes the message when the crash context exists (its sdk.log path is set) and `level` is at least
// the minimum. Conversions: %s (none: "(null)"), %d, %u, %x (32-bit), %p ("0x" and hex), %zd and %zu
// (size-wide decimal); "%" before anything else is written as it stands and takes no argument. Not
// printf: no widths or flags, and a missing string is allowed, so the compiler's printf checks do not apply.
void BBXSDKFileLog(std::uint32_t level, const char* format, ...);

// The crash context's part of the log: its path (copied into fixed storage; nullptr: no context) and
// the minimum level (1 at start). The descriptor is opened at the first message and kept open.
// Not signal-safe; called at set-up.
void BBXSDKLogSetContext(const char* path, std::uint32_t minimumLevel);
// Marks the start of a capture: from here the log takes at most BBXSDKLogCaptureBudget more bytes,
// then writes one last "Log truncated" line. Async-signal-safe.
void BBXSDKLogCaptureBegan();
// The minimum level in force; a capture raises it while it skips a recursion's repeated frames and
// restores it after. Async-signal-safe.
std::uint32_t BBXSDKLogMinimumLevel();
void BBXSDKLogSetMinimumLevel(std::uint32_t level);
inline constexpr std::uint64_t BBXSDKLogCaptureBudget = 1024 * 1024;

// Formats like BBXSDKFileLog into `out` (always terminated; cut at `capacity`), for tests and for
// callers that assemble lines themselves; returns the length written. Async-signal-safe.
std::uint64_t BBXSDKLogFormat(char* out, std::uint64_t capacity, const char* format, ...);

// The kit's convention of a reporting function's name and line.
#define BBX_LOG(level, format, ...) BBXSDKFileLog(level, format, __func__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
