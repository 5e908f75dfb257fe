// The read-only view of one report directory that the report pipeline uses: its identifier (from the
// launch's metadata), which record files it holds (crash or only logged errors and custom
// exceptions), and the launch's versions and dates. The metadata is read once and kept; nothing here
// is locked, so one report belongs to one queue at a time.
#pragma once

#include "foundation/property_list.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kits {

class BBXInternalReport {
public:
    using Date = std::chrono::sys_seconds;

    // The report of a directory; none (with "[Blackbox:Crash] Unable to read identifier at path ...")
    // when its metadata has no identifier.
    static std::shared_ptr<BBXInternalReport> reportWithPath(const std::string& path);
    // None unless both are given.
    static std::shared_ptr<BBXInternalReport> reportWithPath(const std::string& path,
                                                             const std::string& executionIdentifier);
    // The lines of a record file; none for a missing, empty or unreadable file.
    static std::optional<std::vector<nlohmann::json>> readBBXFileAtPath(const std::string& path);
    // "exception.bbxrecord", "mach_exception.bbxrecord", "signal.bbxrecord".
    static const std::vector<std::string>& crashFilenames();

    const std::string& identifier() const { return identifier_; }
    const std::string& path() const { return path_; }
    void setPath(std::string path) { path_ = std::move(path); }

    std::string directoryName() const;
    std::string pathForContentFile(const std::string& name) const;
    std::string metadataPath() const;
    std::string binaryImagePath() const;

    // A crash file, or a file of logged errors or custom exceptions, exists.
    bool needsToBeSubmitted() const;
    bool isCrash() const;
    // Checks the names in order and stops at the first that exists.
    bool checkExistenceOfAtLeastOnceFileInArray(const std::vector<std::string>& names) const;
    // The directory's path of each crash file name, whether or not the file exists.
    void enumerateSymbolicatableFilesInContent(const std::function<void(const std::string& path)>& block) const;

    // The metadata's values; none when their line or key is missing.
    std::optional<std::string> APIKey() const;
    std::optional<std::string> bundleVersion() const;
    std::optional<std::string> bundleShortVersionString() const;
    std::optional<std::string> OSVersion() const;
    std::optional<std::string> OSBuildVersion() const;
    std::optional<Date> dateCreated() const;
    // None for a report that is no crash; else the Mach exception's time, else the signal's.
    std::optional<Date> crashedOnDate() const;
    // "time" of line 0's `sectionName` in the file; none when missing.
    std::optional<Date> timeFromCrashContentFile(const std::string& fileName, const std::string& sectionName) const;
    // The internal report has none; a report's keys come from its key-value store.
    std::optional<foundation::PropertyListDictionary> customKeys() const { return std::nullopt; }

    // The sections of "metadata.bbxrecord", read on first use and kept (empty when unreadable).
    const std::vector<nlohmann::json>& metadataSections() const;

private:
    BBXInternalReport(std::string identifier, std::string path);
    std::optional<std::string> metadataString(std::size_t line, const char* section, const char* key) const;

    std::string identifier_;
    std::string path_;
    mutable std::optional<std::vector<nlohmann::json>> metadataSections_;
};

} // namespace kits
