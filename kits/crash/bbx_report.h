// The report handed to the host application's delegate: the values of one report directory (read
// from its internal report on first use, or all at once when prefetched) and its own two key-value
// stores, into which the host may still record custom keys and the user's identity while the
// capture context is running. A prefetched report is read-only. Not locked: one queue at a time.
#pragma once

#include "kits/crash/bbx_internal_report.h"
#include "kits/crash/capture/bbx_user_logging_files.h"

#include "foundation/property_list.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kits {

class BBXReport {
public:
    using Date = BBXInternalReport::Date;

    explicit BBXReport(std::shared_ptr<BBXInternalReport> internalReport, bool prefetchData = false);

    const std::shared_ptr<BBXInternalReport>& internalReport() const { return internalReport_; }

    // The values every crash report offers; each is read once and kept.
    std::optional<std::string> identifier() const;
    std::optional<foundation::PropertyListDictionary> customKeys() const;
    std::optional<std::string> bundleVersion() const;
    std::optional<std::string> bundleShortVersionString() const;
    std::optional<Date> dateCreated() const;
    std::optional<Date> crashedOnDate() const;
    std::optional<std::string> OSVersion() const;
    std::optional<std::string> OSBuildVersion() const;
    std::optional<bool> isCrash() const;

    // Record into the report's user store (none removes the key).
    void setObjectValueForKey(const foundation::PropertyListValue* value, const std::string& key);
    // Record into the report's internal store under "com.faultmere.user-id", "-name", "-email".
    void setUserIdentifier(const std::optional<std::string>& identifier);
    void setUserName(const std::optional<std::string>& name);
    void setUserEmail(const std::optional<std::string>& email);
    // Always none: what was set lives only in the report's store.
    std::optional<std::string> userIdentifier() const { return std::nullopt; }
    std::optional<std::string> userName() const { return std::nullopt; }
    std::optional<std::string> userEmail() const { return std::nullopt; }

    // The report's stores with the running process's limits. The paths point into this report.
    BBXUserLoggingKVStorage internalKVStorage() const;
    BBXUserLoggingKVStorage userKVStorage() const;
    // Not read-only and the capture context is initialized.
    bool canRecordNewValues() const;
    void recordValueForInternalKey(const foundation::PropertyListValue* value, const std::string& key);
    void recordValueForUserKey(const foundation::PropertyListValue* value, const std::string& key);
    // The user store's pairs, decoded.
    std::optional<foundation::PropertyListDictionary> readCustomKeys() const;

    bool readOnly() const { return readOnly_; }

private:
    std::shared_ptr<BBXInternalReport> internalReport_;
    std::uint32_t internalKVCounter_ = 0;
    std::uint32_t userKVCounter_ = 0;
    std::string internalCompactedKVFile_;
    std::string internalIncrementalKVFile_;
    std::string userCompactedKVFile_;
    std::string userIncrementalKVFile_;
    bool readOnly_ = false;

    mutable std::optional<std::string> identifier_;
    mutable std::optional<std::string> bundleVersion_;
    mutable std::optional<std::string> bundleShortVersionString_;
    mutable std::optional<Date> dateCreated_;
    mutable std::optional<Date> crashedOnDate_;
    mutable std::optional<std::string> OSVersion_;
    mutable std::optional<std::string> OSBuildVersion_;
    mutable std::optional<bool> isCrash_;
    mutable std::optional<foundation::PropertyListDictionary> customKeys_;
};

} // namespace kits
