// Small functions the crash kit shares: the application's extension point, process activities (on
// Linux tokens counted in the activity register, which the quit wait covers), profiling marks, safe
// reads of memory that may not be mapped (usable in a signal handler), string and file helpers, the
// names of an address, and delayed work on the kit queues. They keep no state of their own.
#pragma once

#include "foundation/activity_register.h"
#include "foundation/dispatch_queue.h"
#include "foundation/operation_queue.h"
#include "foundation/property_list.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

struct BBXAllocator;

// "NSExtensionPointIdentifier" of the information dictionary's "NSExtension" dictionary; none when
// absent, and a mal-formed entry is logged to sdk.log.
std::optional<std::string> BBXApplicationExtensionPointIdentifier();
bool BBXApplicationIsExtension();
// The shared application object: Linux has none to look up by name.
void* BBXApplicationSharedInstance();

// Activity options whose bits the platform would honour (none applies on Linux; kept in the token).
inline constexpr std::uint64_t BBXActivitySuddenTerminationDisabled = 0x4000;
inline constexpr std::uint64_t BBXActivityAutomaticTerminationDisabled = 0x8000;

// An activity token: the dictionary form ("options", "reason") and the register's entry, which ends
// with the token.
struct BBXActivityToken {
    foundation::PropertyListDictionary dictionary;
    foundation::ActivityRegister::Activity activity;
};
std::unique_ptr<BBXActivityToken> BBXApplicationBeginActivity(std::uint64_t options, const std::string& reason);
// Ends the activity; no token does nothing.
void BBXApplicationEndActivity(std::unique_ptr<BBXActivityToken> token);
// Begins, runs `block` on this thread, ends.
void BBXApplicationActivity(std::uint64_t options, const std::string& reason, const std::function<void()>& block);

// A monotonic mark (nanoseconds of CLOCK_MONOTONIC) and the milliseconds since one.
std::uint64_t BBXProfileMark();
double BBXProfileEnd(std::uint64_t mark);

// Copies `length` bytes from `address` of this process; false, without a fault, when any of them is
// not readable or the address lies in the first page. Async-signal-safe.
bool BBXReadMemory(const void* address, void* destination, std::size_t length);
// Checks byte by byte that the text at `address` is readable up to its terminating zero or `maximum`
// bytes; on success stores `address` in `outAddress`. A maximum of 0 succeeds at once.
bool BBXReadMemoryStringLength(const char* address, const char** outAddress, std::size_t maximum);
// The number of byte reads the last BBXReadMemoryStringLength on this thread made (tests).
std::size_t BBXReadMemoryStringLengthProbes();

// The allocator BBXDuplicateString copies into (set by the crash context's set-up).
void BBXSetDuplicateStringAllocator(BBXAllocator* allocator);
// A copy of `text` in the protectable region of that allocator; none for no text.
char* BBXDuplicateString(const char* text);
// unlink(); true also when there was no file.
bool BBXUnlinkIfExists(const char* path);

// Calls `block` with the symbol name and the image path of `address` ("unknown" for a missing part);
// with none for both when the address is in no loaded image.
void BBXDladdrNames(const void* address, const std::function<void(const char* symbol, const char* image)>& block);

// Runs `block` on `queue` after `seconds` (through the process-wide scheduler); nothing when the
// queue has ended by then.
void BBXDispatchAfterSeconds(const std::shared_ptr<foundation::SerialQueue>& queue, double seconds,
                             std::function<void()> block);
// Waits `seconds`, then adds `block` to `operationQueue` as an operation from the global pool.
void BBXDispatchAfterSecondsOnGlobalQueue(const std::shared_ptr<foundation::OperationQueue>& operationQueue,
                                          double seconds, std::function<void()> block);
