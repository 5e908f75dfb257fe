// A report directory read through the record-file reader of the capture core.

#include "kits/crash/bbx_internal_report.h"

#include "kits/crash/capture/bbx_file.h"
#include "kits/platform/kit_log.h"

#include <filesystem>

namespace kits {

namespace fs = std::filesystem;

namespace {

// The value of `key` in section `section` of line `line`; nullptr when any part is missing.
const nlohmann::json* sectionValue(const std::vector<nlohmann::json>& lines, std::size_t line, const char* section,
                                   const char* key)
{
    if (line >= lines.size())
        return nullptr;
    const auto hash = lines[line].find(section);
    if (hash == lines[line].end() || !hash->is_object())
        return nullptr;
    const auto value = hash->find(key);
    return value == hash->end() ? nullptr : &*value;
}

// A count of seconds since 1970 as the platform's unsigned reading of a number gives it.
std::optional<BBXInternalReport::Date> dateFromSeconds(const nlohmann::json* value)
{
    if (!value)
        return std::nullopt;
    std::int64_t seconds = 0;
    if (value->is_number_unsigned()) {
        const auto count = value->get<std::uint64_t>();
        if (count > static_cast<std::uint64_t>(INT64_MAX))
            return std::nullopt;
        seconds = static_cast<std::int64_t>(count);
    } else if (value->is_number_integer() && value->get<std::int64_t>() >= 0) {
        seconds = value->get<std::int64_t>();
    } else if (value->is_number_float() && value->get<double>() >= 0 && value->get<double>() < 9.2e18) {
        seconds = static_cast<std::int64_t>(value->get<double>());
    } else {
        return std::nullopt;
    }
    return BBXInternalReport::Date(std::chrono::seconds(seconds));
}

} // namespace

BBXInternalReport::BBXInternalReport(std::string identifier, std::string path)
    : identifier_(std::move(identifier)), path_(std::move(path))
{}

std::shared_ptr<BBXInternalReport> BBXInternalReport::reportWithPath(const std::string& path)
{
    std::shared_ptr<BBXInternalReport> report(new BBXInternalReport({}, path));
    const nlohmann::json* identifier = sectionValue(report->metadataSections(), 0, "identity", "session_id");
    if (!identifier || !identifier->is_string()) {
        kitLog("[Blackbox:Crash] Unable to read identifier at path " + path);
        return nullptr;
    }
    report->identifier_ = identifier->get<std::string>();
    return report;
}

std::shared_ptr<BBXInternalReport> BBXInternalReport::reportWithPath(const std::string& path,
                                                                     const std::string& executionIdentifier)
{
    if (path.empty() || executionIdentifier.empty())
        return nullptr;
    return std::shared_ptr<BBXInternalReport>(new BBXInternalReport(executionIdentifier, path));
}

std::optional<std::vector<nlohmann::json>> BBXInternalReport::readBBXFileAtPath(const std::string& path)
{
    auto sections = BBXFileReadSections(path.c_str(), false, nullptr);
    if (!sections || sections->empty())
        return std::nullopt;
    return sections;
}

const std::vector<std::string>& BBXInternalReport::crashFilenames()
{
    // Never destroyed: a processing thread may still read it while the process exits.
    static const auto* names =
        new std::vector<std::string>{"exception.bbxrecord", "mach_exception.bbxrecord", "signal.bbxrecord"};
    return *names;
}

std::string BBXInternalReport::directoryName() const
{
    fs::path directory(path_);
    if (!directory.has_filename())
        directory = directory.parent_path();
    return directory.filename().string();
}

std::string BBXInternalReport::pathForContentFile(const std::string& name) const
{
    return (fs::path(path_) / name).string();
}

std::string BBXInternalReport::metadataPath() const
{
    return pathForContentFile("metadata.bbxrecord");
}

std::string BBXInternalReport::binaryImagePath() const
{
    return pathForContentFile("binary_images.bbxrecord");
}

bool BBXInternalReport::needsToBeSubmitted() const
{
    // Never destroyed: a processing thread may still read it while the process exits.
    static const auto* names = new std::vector<std::string>{"exception.bbxrecord",
                                                            "signal.bbxrecord",
                                                            "custom_exception_a.bbxrecord",
                                                            "custom_exception_b.bbxrecord",
                                                            "mach_exception.bbxrecord",
                                                            "errors_a.bbxrecord",
                                                            "errors_b.bbxrecord"};
    return checkExistenceOfAtLeastOnceFileInArray(*names);
}

bool BBXInternalReport::isCrash() const
{
    return checkExistenceOfAtLeastOnceFileInArray(crashFilenames());
}

bool BBXInternalReport::checkExistenceOfAtLeastOnceFileInArray(const std::vector<std::string>& names) const
{
    for (const auto& name : names) {
        std::error_code ignored;
        if (fs::exists(pathForContentFile(name), ignored))
            return true;
    }
    return false;
}

void BBXInternalReport::enumerateSymbolicatableFilesInContent(
    const std::function<void(const std::string& path)>& block) const
{
    for (const auto& name : crashFilenames())
        block(pathForContentFile(name));
}

const std::vector<nlohmann::json>& BBXInternalReport::metadataSections() const
{
    if (!metadataSections_)
        metadataSections_ = readBBXFileAtPath(metadataPath()).value_or(std::vector<nlohmann::json>{});
    return *metadataSections_;
}

std::optional<std::string> BBXInternalReport::metadataString(std::size_t line, const char* section,
                                                             const char* key) const
{
    const nlohmann::json* value = sectionValue(metadataSections(), line, section, key);
    if (!value || !value->is_string())
        return std::nullopt;
    return value->get<std::string>();
}

std::optional<std::string> BBXInternalReport::APIKey() const
{
    return metadataString(0, "identity", "api_key");
}

std::optional<std::string> BBXInternalReport::bundleVersion() const
{
    return metadataString(2, "application", "build_version");
}

std::optional<std::string> BBXInternalReport::bundleShortVersionString() const
{
    return metadataString(2, "application", "display_version");
}

std::optional<std::string> BBXInternalReport::OSVersion() const
{
    return metadataString(1, "host", "os_display_version");
}

std::optional<std::string> BBXInternalReport::OSBuildVersion() const
{
    return metadataString(1, "host", "os_build_version");
}

std::optional<BBXInternalReport::Date> BBXInternalReport::dateCreated() const
{
    return dateFromSeconds(sectionValue(metadataSections(), 0, "identity", "started_at"));
}

std::optional<BBXInternalReport::Date> BBXInternalReport::crashedOnDate() const
{
    if (!isCrash())
        return std::nullopt;
    if (auto date = timeFromCrashContentFile("mach_exception.bbxrecord", "mach_exception"))
        return date;
    return timeFromCrashContentFile("signal.bbxrecord", "signal");
}

std::optional<BBXInternalReport::Date> BBXInternalReport::timeFromCrashContentFile(const std::string& fileName,
                                                                                   const std::string& sectionName) const
{
    const auto lines = readBBXFileAtPath(pathForContentFile(fileName));
    if (!lines)
        return std::nullopt;
    return dateFromSeconds(sectionValue(*lines, 0, sectionName.c_str(), "time"));
}

} // namespace kits
