// A report's values through its internal report and its stores through the user-logging writer.

#include "kits/crash/bbx_report.h"

#include "kits/crash/capture/bbx_context.h"
#include "kits/crash/capture/bbx_user_logging.h"

namespace kits {

namespace {

// Fills `cache` from `fetch` while it holds nothing (a value that is none is asked for again).
template <typename T, typename Fetch>
const std::optional<T>& cached(std::optional<T>& cache, Fetch fetch)
{
    if (!cache)
        cache = fetch();
    return cache;
}

// The running process's limits of a store, else the kit's defaults.
BBXUserLoggingKVStorage storageWithLimits(const std::string& incremental, const std::string& compacted, bool internal)
{
    BBXUserLoggingKVStorage storage{incremental.c_str(), compacted.c_str(), BBXUserLoggingMaxIncrementalEntries,
                                    internal ? BBXUserLoggingMaxInternalEntries : 16};
    const BBXUserLoggingFiles* files = BBXUserLoggingContextFiles();
    const BBXUserLoggingKVStorage* running =
        files ? (internal ? &files->internalKVStorage : &files->userKVStorage) : nullptr;
    if (running && running->maxIncrementalCount > 0) { // 0: the log files are not set up yet
        storage.maxIncrementalCount = running->maxIncrementalCount;
        storage.maxCount = running->maxCount;
    }
    return storage;
}

} // namespace

BBXReport::BBXReport(std::shared_ptr<BBXInternalReport> internalReport, bool prefetchData)
    : internalReport_(std::move(internalReport)), readOnly_(prefetchData)
{
    if (internalReport_) {
        internalCompactedKVFile_ = internalReport_->pathForContentFile("internal_compacted_kv.bbxrecord");
        internalIncrementalKVFile_ = internalReport_->pathForContentFile("internal_incremental_kv.bbxrecord");
        userCompactedKVFile_ = internalReport_->pathForContentFile("user_compacted_kv.bbxrecord");
        userIncrementalKVFile_ = internalReport_->pathForContentFile("user_incremental_kv.bbxrecord");
    }
    if (prefetchData) {
        identifier();
        bundleVersion();
        bundleShortVersionString();
        dateCreated();
        crashedOnDate();
        OSVersion();
        OSBuildVersion();
        isCrash();
        customKeys();
    }
}

std::optional<std::string> BBXReport::identifier() const
{
    return cached(identifier_, [&]() -> std::optional<std::string> {
        return internalReport_ ? std::optional(internalReport_->identifier()) : std::nullopt;
    });
}

std::optional<foundation::PropertyListDictionary> BBXReport::customKeys() const
{
    return cached(customKeys_, [&] { return readCustomKeys(); });
}

std::optional<std::string> BBXReport::bundleVersion() const
{
    return cached(bundleVersion_, [&] { return internalReport_ ? internalReport_->bundleVersion() : std::nullopt; });
}

std::optional<std::string> BBXReport::bundleShortVersionString() const
{
    return cached(bundleShortVersionString_,
                  [&] { return internalReport_ ? internalReport_->bundleShortVersionString() : std::nullopt; });
}

std::optional<BBXReport::Date> BBXReport::dateCreated() const
{
    return cached(dateCreated_, [&] { return internalReport_ ? internalReport_->dateCreated() : std::nullopt; });
}

std::optional<BBXReport::Date> BBXReport::crashedOnDate() const
{
    return cached(crashedOnDate_, [&] { return internalReport_ ? internalReport_->crashedOnDate() : std::nullopt; });
}

std::optional<std::string> BBXReport::OSVersion() const
{
    return cached(OSVersion_, [&] { return internalReport_ ? internalReport_->OSVersion() : std::nullopt; });
}

std::optional<std::string> BBXReport::OSBuildVersion() const
{
    return cached(OSBuildVersion_, [&] { return internalReport_ ? internalReport_->OSBuildVersion() : std::nullopt; });
}

std::optional<bool> BBXReport::isCrash() const
{
    return cached(isCrash_, [&] { return internalReport_ ? std::optional(internalReport_->isCrash()) : std::nullopt; });
}

void BBXReport::setObjectValueForKey(const foundation::PropertyListValue* value, const std::string& key)
{
    recordValueForUserKey(value, key);
}

void BBXReport::setUserIdentifier(const std::optional<std::string>& identifier)
{
    const auto value = identifier ? std::optional<foundation::PropertyListValue>(*identifier) : std::nullopt;
    recordValueForInternalKey(value ? &*value : nullptr, "com.faultmere.user-id");
}

void BBXReport::setUserName(const std::optional<std::string>& name)
{
    const auto value = name ? std::optional<foundation::PropertyListValue>(*name) : std::nullopt;
    recordValueForInternalKey(value ? &*value : nullptr, "com.faultmere.user-name");
}

void BBXReport::setUserEmail(const std::optional<std::string>& email)
{
    const auto value = email ? std::optional<foundation::PropertyListValue>(*email) : std::nullopt;
    recordValueForInternalKey(value ? &*value : nullptr, "com.faultmere.user-email");
}

BBXUserLoggingKVStorage BBXReport::internalKVStorage() const
{
    return storageWithLimits(internalIncrementalKVFile_, internalCompactedKVFile_, true);
}

BBXUserLoggingKVStorage BBXReport::userKVStorage() const
{
    return storageWithLimits(userIncrementalKVFile_, userCompactedKVFile_, false);
}

bool BBXReport::canRecordNewValues() const
{
    return !readOnly_ && internalReport_ && BBXContextIsInitialized();
}

void BBXReport::recordValueForInternalKey(const foundation::PropertyListValue* value, const std::string& key)
{
    if (!canRecordNewValues())
        return;
    BBXUserLoggingKVStorage storage = internalKVStorage();
    BBXUserLoggingRecordKeyValue(&key, value, &storage, &internalKVCounter_);
}

void BBXReport::recordValueForUserKey(const foundation::PropertyListValue* value, const std::string& key)
{
    if (!canRecordNewValues())
        return;
    BBXUserLoggingKVStorage storage = userKVStorage();
    BBXUserLoggingRecordKeyValue(&key, value, &storage, &userKVCounter_);
}

std::optional<foundation::PropertyListDictionary> BBXReport::readCustomKeys() const
{
    const BBXUserLoggingKVStorage storage = userKVStorage();
    return BBXUserLoggingGetCompactedKVEntries(&storage, true);
}

} // namespace kits
