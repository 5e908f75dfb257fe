// What the application tells the crash kit during a launch, kept in the launch's report directory so a
// crash report carries it: log messages, custom key-value pairs (and the kit's own internal pairs),
// logged errors and non-fatal custom exceptions. Messages, errors and custom exceptions alternate
// between an "a" and a "b" file, each bounded; pairs are appended to an incremental file that is
// compacted into a bounded dictionary file every 64 writes. Files are touched only on the logging
// queue; callers may be on any thread.
#pragma once

#include "kits/crash/capture/bbx_file.h"
#include "kits/crash/capture/bbx_user_logging_files.h"

#include "foundation/error.h"
#include "foundation/property_list.h"

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

struct BBXContextInitData;

// Set-up (a part of the context's installation): the ten paths in the report directory, copied into
// the context's protectable region, then BBXUserLoggingConfigure. False without a context.
bool BBXContextInitializeLogFiles(const BBXContextInitData* initData);
// The limits of the init data, current files back at "a", every counter 0.
void BBXUserLoggingConfigure(BBXUserLoggingFiles* files, BBXUserLoggingState* state,
                             const BBXContextInitData& initData);
// The context's set and state; none before set-up.
BBXUserLoggingFiles* BBXUserLoggingContextFiles();
BBXUserLoggingState* BBXUserLoggingContextState();

// Records a printf-style message in the log files. Before the context is initialized the message
// only reaches the kits' console, with a warning that it could not be recorded. The "system log"
// variants also print the message on the kits' console.
void BBXLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
void BBXLogWithSystemLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
void BBXLogWithArguments(const char* format, va_list arguments) __attribute__((format(printf, 1, 0)));
void BBXLogWithSystemLogAndArguments(const char* format, va_list arguments) __attribute__((format(printf, 1, 0)));

// Records a pair in the user or internal store: the value is written as its description (none
// removes the key). Nothing before the context is initialized.
void BBXUserLoggingRecordUserKeyValue(const std::string* key, const foundation::PropertyListValue* value);
void BBXUserLoggingRecordInternalKeyValue(const std::string* key, const foundation::PropertyListValue* value);
// The same for any store with its counter (a report's own stores use this).
void BBXUserLoggingRecordKeyValue(const std::string* key, const foundation::PropertyListValue* value,
                                  BBXUserLoggingKVStorage* store, std::uint32_t* counter);
// Writes an internal pair of texts at once on the calling thread (no queue).
void BBXUserLoggingWriteInternalKeyValue(const std::string& key, const std::string& value);
// Appends a pair (none: a removal) and posts the compaction at the 64th write. Logging queue only.
void BBXUserLoggingWriteKeyValue(const std::string& key, const std::optional<std::string>& value,
                                 BBXUserLoggingKVStorage* store, std::uint32_t* counter);

// A store's pairs: the compacted file, then the incremental file's changes in order. Keys and values
// are hex texts, or with `decode` the texts they stand for. Pairs that are not well formed are
// dropped. None for an invalid store; empty before the context is initialized.
std::optional<foundation::PropertyListDictionary>
BBXUserLoggingGetCompactedKVEntries(const BBXUserLoggingKVStorage* store, bool decode);
// Folds the incremental file into the compacted one, keeping the first maxCount keys in their order,
// and sets the counter to 0.
void BBXUserLoggingCompactKVEntries(const BBXUserLoggingKVStorage* store, std::uint32_t* counter);

// Records a logged error with the caller's stack and the time, when error reporting is on.
void BBXUserLoggingRecordError(const foundation::Error* error,
                               const foundation::PropertyListDictionary* additionalInfo);

// Writes one line through `writer` into the set's current file, synchronously on the logging queue,
// then posts the check that may switch files. Nothing when the set's limit is 0.
void BBXUserLoggingWriteAndCheckABFiles(BBXUserLoggingABFiles* set, const char** currentPath,
                                        const std::function<void(BBXFile* file)>& writer);
// Switches to the other file, emptied, once the current one is over its limit.
void BBXUserLoggingCheckAndSwapABFiles(BBXUserLoggingABFiles* set, const char** currentPath, std::uint64_t size);
// A custom exception's line (types "javascript", "custom" and unknown) into the custom-exception set.
void BBXUserLoggingWriteCustomException(const std::function<void(BBXFile* file)>& writer);
