// User logs and key-value records over the record-file writer and reader. Every file is touched on
// the logging queue only: recording runs synchronously there (the caller waits), swaps and
// compactions are posted behind the write that asked for them, so they run before any later write.

#include "kits/crash/capture/bbx_user_logging.h"

#include "kits/crash/capture/bbx_context.h"
#include "kits/crash/capture/bbx_sdk_log.h"
#include "kits/crash/capture/bbx_support.h"

#include "foundation/dispatch_queue.h"
#include "kits/platform/kit_log.h"
#include "kits/platform/kst_value_description.h"

#include <atomic>
#include <cstdio>
#include <ctime>
#include <execinfo.h>
#include <sys/time.h>

namespace {

constexpr std::uintptr_t firstPageEnd = 4096;

// Errors keep at most this many return addresses of the caller's stack.
constexpr int errorStackDepth = 128;

template <typename T>
bool inFirstPage(const T* pointer)
{
    return reinterpret_cast<std::uintptr_t>(pointer) < firstPageEnd;
}

// Runs `work` on the logging queue and waits for it; on the queue itself it runs at once.
void onLoggingQueueSync(const std::function<void()>& work)
{
    const auto queue = BBXContextLoggingQueue();
    if (queue->isCurrent())
        work();
    else
        queue->sync(work);
}

std::string hexText(std::string_view text)
{
    std::string hex(text.size() * 2, '\0');
    for (std::size_t index = 0; index < text.size(); ++index)
        BBXHexFromByte(static_cast<std::uint8_t>(text[index]), &hex[2 * index]);
    return hex;
}

bool isHexText(const std::string& text)
{
    if (text.size() % 2 != 0)
        return false;
    for (const char c : text) {
        if (BBXNibbleFromHexChar(c) > 15)
            return false;
    }
    return true;
}

std::string joined(const char* directory, const char* name)
{
    return std::string(directory) + "/" + name;
}

// A value's description: strings as they are, numbers in decimal, Booleans as 1 or 0; none has none.
std::optional<std::string> descriptionOf(const foundation::PropertyListValue* value)
{
    if (!value || value->isNull())
        return std::nullopt;
    return kits::KSTValueDescription(*value);
}

// The "kv" pairs of one file in order: key and value as written (value none for a removal or a
// missing value); `wellFormed` false for a line whose key or value is missing or no hex text.
struct KVLine {
    std::string key;
    std::optional<std::string> value;
    bool hasValue = false;
    bool wellFormed = false;
};

std::vector<KVLine> readKVLines(const char* path)
{
    std::vector<KVLine> lines;
    const auto sections = BBXFileReadSections(path, true, [](nlohmann::json line) -> std::optional<nlohmann::json> {
        auto section = line.find("kv");
        if (section == line.end() || !section->is_object())
            return std::nullopt;
        return std::move(*section);
    });
    if (!sections)
        return lines;
    for (const auto& section : *sections) {
        KVLine line;
        const auto key = section.find("key");
        const auto value = section.find("value");
        const bool keyGood = key != section.end() && key->is_string() && isHexText(key->get<std::string>());
        line.hasValue = value != section.end() && !value->is_null();
        const bool valueGood = value != section.end()
                               && (value->is_null() || (value->is_string() && isHexText(value->get<std::string>())));
        line.wellFormed = keyGood && valueGood;
        if (line.wellFormed) {
            line.key = key->get<std::string>();
            if (line.hasValue)
                line.value = value->get<std::string>();
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

// Writes the "error" line's dictionary entries as [hex(key), hex(value)] pairs.
void writeDescribedPairs(BBXFile* file, const char* key, const foundation::PropertyListDictionary* dictionary)
{
    if (!dictionary || dictionary->empty())
        return;
    BBXFileWriteHashKey(file, key);
    BBXFileWriteArrayStart(file);
    for (const auto& entry : dictionary->entries()) {
        const auto description = descriptionOf(&entry.value);
        if (!description)
            continue;
        BBXFileWriteArrayStart(file);
        BBXFileWriteArrayEntryHexEncodedString(file, entry.key.c_str());
        BBXFileWriteArrayEntryHexEncodedString(file, description->c_str());
        BBXFileWriteArrayEnd(file);
    }
    BBXFileWriteArrayEnd(file);
}

void recordLogMessage(const std::string& message, bool alsoOnConsole)
{
    if (!BBXContextIsInitialized()) {
        kits::kitLog("[Blackbox:Crash] WARNING: BBXLog has been used before (or concurrently with) Blackbox "
                     "initialization and cannot be recorded. The message was: \n"
                     + message);
        return;
    }
    if (alsoOnConsole)
        kits::kitLog(message);
    timeval now{};
    ::gettimeofday(&now, nullptr);
    const std::uint64_t milliseconds =
        static_cast<std::uint64_t>(now.tv_sec) * 1000 + static_cast<std::uint64_t>(now.tv_usec) / 1000;
    BBXUserLoggingFiles* files = BBXUserLoggingContextFiles();
    BBXUserLoggingState* state = BBXUserLoggingContextState();
    BBXUserLoggingWriteAndCheckABFiles(&files->logStorage, &state->logStoragePath, [&](BBXFile* file) {
        BBXFileWriteSectionStart(file, "log");
        BBXFileWriteHashStart(file);
        BBXFileWriteHashEntryHexEncodedString(file, "msg", message.c_str());
        BBXFileWriteHashEntryUint64(file, "time", milliseconds);
        BBXFileWriteHashEnd(file);
        BBXFileWriteSectionEnd(file);
    });
}

std::string formatted(const char* format, va_list arguments)
{
    va_list counting;
    va_copy(counting, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, counting);
    va_end(counting);
    if (length <= 0)
        return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, arguments);
    text.pop_back();
    return text;
}

void logWithArguments(const char* format, va_list arguments, bool alsoOnConsole)
{
    if (!format)
        return;
    const std::string message = formatted(format, arguments);
    if (message.empty())
        return;
    recordLogMessage(message, alsoOnConsole);
}

} // namespace

BBXUserLoggingFiles* BBXUserLoggingContextFiles()
{
    BBXContext* context = BBXContextGet();
    return context ? &context->userLogging : nullptr;
}

BBXUserLoggingState* BBXUserLoggingContextState()
{
    BBXContext* context = BBXContextGet();
    return context && context->state ? &context->state->userLogging : nullptr;
}

void BBXUserLoggingConfigure(BBXUserLoggingFiles* files, BBXUserLoggingState* state, const BBXContextInitData& initData)
{
    files->logStorage.maxSize = initData.logBufferSize;
    files->logStorage.maxEntries = 0;
    files->logStorage.restrictBySize = 1;
    files->logStorage.entryCount = nullptr;

    files->errorStorage.maxSize = 0;
    files->errorStorage.maxEntries = initData.errorReportingEnabled ? initData.maximumCustomExceptions : 0;
    files->errorStorage.restrictBySize = 0;
    files->errorStorage.entryCount = &state->errorsCount;

    files->customExceptionStorage.maxSize = 0;
    files->customExceptionStorage.maxEntries = initData.customExceptionsEnabled ? initData.maximumCustomExceptions : 0;
    files->customExceptionStorage.restrictBySize = 0;
    files->customExceptionStorage.entryCount = &state->customExceptionCount;

    files->userKVStorage.maxIncrementalCount = BBXUserLoggingMaxIncrementalEntries;
    files->userKVStorage.maxCount = initData.maximumCustomKeys;
    files->internalKVStorage.maxIncrementalCount = BBXUserLoggingMaxIncrementalEntries;
    files->internalKVStorage.maxCount = BBXUserLoggingMaxInternalEntries;

    state->logStoragePath = files->logStorage.aPath;
    state->errorStoragePath = files->errorStorage.aPath;
    state->customExceptionStoragePath = files->customExceptionStorage.aPath;
    state->errorsCount = 0;
    state->customExceptionCount = 0;
    state->userKVCount = 0;
    state->internalKVCount = 0;
}

bool BBXContextInitializeLogFiles(const BBXContextInitData* initData)
{
    BBXUserLoggingFiles* files = BBXUserLoggingContextFiles();
    BBXUserLoggingState* state = BBXUserLoggingContextState();
    if (!initData || inFirstPage(initData->reportDirectory) || !files || !state)
        return false;
    const auto path = [&](const char* name) {
        return BBXDuplicateString(joined(initData->reportDirectory, name).c_str());
    };
    files->logStorage.aPath = path("log_a.bbxrecord");
    files->logStorage.bPath = path("log_b.bbxrecord");
    files->errorStorage.aPath = path("errors_a.bbxrecord");
    files->errorStorage.bPath = path("errors_b.bbxrecord");
    files->customExceptionStorage.aPath = path("custom_exception_a.bbxrecord");
    files->customExceptionStorage.bPath = path("custom_exception_b.bbxrecord");
    files->userKVStorage.incrementalPath = path("user_incremental_kv.bbxrecord");
    files->userKVStorage.compactedPath = path("user_compacted_kv.bbxrecord");
    files->internalKVStorage.incrementalPath = path("internal_incremental_kv.bbxrecord");
    files->internalKVStorage.compactedPath = path("internal_compacted_kv.bbxrecord");
    BBXUserLoggingConfigure(files, state, *initData);
    return true;
}

void BBXLog(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    logWithArguments(format, arguments, false);
    va_end(arguments);
}

void BBXLogWithSystemLog(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    logWithArguments(format, arguments, true);
    va_end(arguments);
}

void BBXLogWithArguments(const char* format, va_list arguments)
{
    logWithArguments(format, arguments, false);
}

void BBXLogWithSystemLogAndArguments(const char* format, va_list arguments)
{
    logWithArguments(format, arguments, true);
}

void BBXUserLoggingWriteAndCheckABFiles(BBXUserLoggingABFiles* set, const char** currentPath,
                                        const std::function<void(BBXFile* file)>& writer)
{
    if (!set || !currentPath || !writer)
        return;
    if ((set->restrictBySize ? set->maxSize : set->maxEntries) == 0)
        return;
    onLoggingQueueSync([&] {
        BBXFile file;
        if (!BBXFileInitWithPath(&file, *currentPath, true)) {
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Unable to open log file\n");
            return;
        }
        writer(&file);
        std::uint64_t size = 0;
        BBXFileCloseWithOffset(&file, &size);
        if (!set->restrictBySize && !inFirstPage(set->entryCount))
            *set->entryCount += 1;
        // In the same turn of the queue: posted behind the write, the check could run after other
        // callers' writes that were queued meanwhile, and a second check of the same file would then
        // switch back and delete the file just filled.
        BBXUserLoggingCheckAndSwapABFiles(set, currentPath, size);
    });
}

void BBXUserLoggingCheckAndSwapABFiles(BBXUserLoggingABFiles* set, const char** currentPath, std::uint64_t size)
{
    if (!set->restrictBySize) {
        if (inFirstPage(set->entryCount)) {
            BBX_LOG(BBXSDKLogLevelError,
                    "ERROR [%s:%d] Error: storage has invalid pointer, but is restricted by entry count\n");
            return;
        }
        if (*set->entryCount < set->maxEntries)
            return;
        *set->entryCount = 0;
    } else if (size <= set->maxSize) {
        return;
    }
    const char* other = *currentPath == set->aPath ? set->bPath : set->aPath;
    if (other && other[0] != '\0')
        BBXUnlinkIfExists(other);
    *currentPath = other;
}

void BBXUserLoggingWriteCustomException(const std::function<void(BBXFile* file)>& writer)
{
    if (!BBXContextIsInitialized())
        return;
    BBXUserLoggingWriteAndCheckABFiles(&BBXUserLoggingContextFiles()->customExceptionStorage,
                                       &BBXUserLoggingContextState()->customExceptionStoragePath, writer);
}

void BBXUserLoggingRecordKeyValue(const std::string* key, const foundation::PropertyListValue* value,
                                  BBXUserLoggingKVStorage* store, std::uint32_t* counter)
{
    if (inFirstPage(key)) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] User provided bad key\n");
        return;
    }
    if (value && inFirstPage(value)) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Bad value pointer being clamped to nil\n");
        value = nullptr;
    }
    if (!BBXContextIsInitialized())
        return;
    const std::optional<std::string> description = descriptionOf(value);
    onLoggingQueueSync([&] { BBXUserLoggingWriteKeyValue(*key, description, store, counter); });
}

void BBXUserLoggingRecordUserKeyValue(const std::string* key, const foundation::PropertyListValue* value)
{
    BBXUserLoggingFiles* files = BBXUserLoggingContextFiles();
    BBXUserLoggingState* state = BBXUserLoggingContextState();
    if (files && state)
        BBXUserLoggingRecordKeyValue(key, value, &files->userKVStorage, &state->userKVCount);
}

void BBXUserLoggingRecordInternalKeyValue(const std::string* key, const foundation::PropertyListValue* value)
{
    BBXUserLoggingFiles* files = BBXUserLoggingContextFiles();
    BBXUserLoggingState* state = BBXUserLoggingContextState();
    if (files && state)
        BBXUserLoggingRecordKeyValue(key, value, &files->internalKVStorage, &state->internalKVCount);
}

void BBXUserLoggingWriteInternalKeyValue(const std::string& key, const std::string& value)
{
    BBXUserLoggingFiles* files = BBXUserLoggingContextFiles();
    BBXUserLoggingState* state = BBXUserLoggingContextState();
    // On the logging queue too (the caller still waits for the write), so no other write of the
    // store's files runs at the same time.
    if (files && state)
        onLoggingQueueSync(
            [&] { BBXUserLoggingWriteKeyValue(key, value, &files->internalKVStorage, &state->internalKVCount); });
}

void BBXUserLoggingWriteKeyValue(const std::string& key, const std::optional<std::string>& value,
                                 BBXUserLoggingKVStorage* store, std::uint32_t* counter)
{
    if (inFirstPage(store) || inFirstPage(counter)) {
        BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] Bad parameters\n");
        return;
    }
    BBXFile file;
    if (!BBXFileInitWithPath(&file, store->incrementalPath, true)) {
        BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] Unable to open k-v file\n");
        return;
    }
    BBXFileWriteSectionStart(&file, "kv");
    BBXFileWriteHashStart(&file);
    // Hex of the whole text, so a zero byte inside a key or value is kept too.
    const std::string keyHex = hexText(key);
    const std::string valueHex = value ? hexText(*value) : std::string();
    BBXFileWriteHashEntryString(&file, "key", keyHex.c_str());
    BBXFileWriteHashEntryString(&file, "value", value ? valueHex.c_str() : nullptr);
    BBXFileWriteHashEnd(&file);
    BBXFileWriteSectionEnd(&file);
    BBXFileClose(&file);
    *counter += 1;
    if (*counter >= store->maxIncrementalCount)
        BBXUserLoggingCompactKVEntries(store, counter); // same turn, for the reason the A/B check runs so
}

std::optional<foundation::PropertyListDictionary>
BBXUserLoggingGetCompactedKVEntries(const BBXUserLoggingKVStorage* store, bool decode)
{
    if (inFirstPage(store)) {
        BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] storage invalid\n");
        return std::nullopt;
    }
    foundation::PropertyListDictionary entries;
    if (!BBXContextIsInitialized())
        return entries;
    for (auto& line : readKVLines(store->compactedPath)) {
        if (!line.wellFormed || !line.value) {
            BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] compacted key/value contains a nil and must be dropped\n");
            continue;
        }
        entries.set(std::move(line.key), std::move(*line.value));
    }
    for (auto& line : readKVLines(store->incrementalPath)) {
        if (!line.wellFormed) {
            BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] incremental key/value contains a nil and must be dropped\n");
            continue;
        }
        if (line.value)
            entries.set(std::move(line.key), std::move(*line.value));
        else
            entries.erase(line.key);
    }
    if (!decode)
        return entries;
    std::vector<foundation::PropertyListEntry> decoded;
    decoded.reserve(entries.size());
    for (const auto& entry : entries.entries()) {
        const std::string* hex = entry.value.get<std::string>();
        decoded.push_back({*BBXHexDecode(entry.key),
                           hex ? foundation::PropertyListValue(*BBXHexDecode(*hex)) : foundation::PropertyListValue()});
    }
    return foundation::PropertyListDictionary::fromEntries(std::move(decoded));
}

void BBXUserLoggingCompactKVEntries(const BBXUserLoggingKVStorage* store, std::uint32_t* counter)
{
    if (inFirstPage(store)) {
        BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] Error: storage invalid\n");
        return;
    }
    const auto entries = BBXUserLoggingGetCompactedKVEntries(store, false);
    if (!BBXUnlinkIfExists(store->compactedPath))
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: Unable to remove compacted KV store before compaction %s\n",
                store->compactedPath);
    BBXFile file;
    if (!BBXFileInitWithPath(&file, store->compactedPath, true)) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: Unable to open compacted k-v file\n");
        return;
    }
    std::size_t kept = entries ? entries->size() : 0;
    if (kept > store->maxCount) {
        BBX_LOG(BBXSDKLogLevelInfo, "INFO  [%s:%d] Truncating KV set, which is above max %d\n",
                static_cast<int>(store->maxCount));
        kept = store->maxCount;
    }
    for (std::size_t index = 0; index < kept; ++index) {
        const auto& entry = entries->entries()[index];
        const std::string* value = entry.value.get<std::string>();
        BBXFileWriteSectionStart(&file, "kv");
        BBXFileWriteHashStart(&file);
        BBXFileWriteHashEntryString(&file, "key", entry.key.c_str());
        BBXFileWriteHashEntryString(&file, "value", value ? value->c_str() : nullptr);
        BBXFileWriteHashEnd(&file);
        BBXFileWriteSectionEnd(&file);
    }
    BBXFileClose(&file);
    if (!BBXUnlinkIfExists(store->incrementalPath))
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: Unable to remove incremental KV store after compaction %s\n",
                store->incrementalPath);
    if (!inFirstPage(counter))
        *counter = 0;
}

void BBXUserLoggingRecordError(const foundation::Error* error, const foundation::PropertyListDictionary* additionalInfo)
{
    if (!error || !BBXContextIsInitialized())
        return;
    void* addresses[errorStackDepth];
    const int depth = ::backtrace(addresses, errorStackDepth);
    const auto seconds = static_cast<std::uint64_t>(std::time(nullptr));
    BBXUserLoggingFiles* files = BBXUserLoggingContextFiles();
    BBXUserLoggingState* state = BBXUserLoggingContextState();
    BBXUserLoggingWriteAndCheckABFiles(&files->errorStorage, &state->errorStoragePath, [&](BBXFile* file) {
        BBXFileWriteSectionStart(file, "error");
        BBXFileWriteHashStart(file);
        BBXFileWriteHashEntryHexEncodedString(file, "domain", error->domain.c_str());
        BBXFileWriteHashEntryInt64(file, "code", error->code);
        BBXFileWriteHashEntryUint64(file, "time", seconds);
        BBXFileWriteHashKey(file, "stacktrace");
        BBXFileWriteArrayStart(file);
        for (int index = 0; index < depth; ++index)
            BBXFileWriteArrayEntryUint64(file, reinterpret_cast<std::uintptr_t>(addresses[index]));
        BBXFileWriteArrayEnd(file);
        writeDescribedPairs(file, "info", &error->userInfo);
        writeDescribedPairs(file, "extra_info", additionalInfo);
        BBXFileWriteHashEnd(file);
        BBXFileWriteSectionEnd(file);
    });
}
