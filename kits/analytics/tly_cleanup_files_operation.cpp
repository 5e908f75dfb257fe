// The clean-up pass: entries sorted by extension into logs, gz files and packages keyed by base name.

#include "kits/analytics/tly_cleanup_files_operation.h"

#include "kits/analytics/tly_file_utils.h"
#include "kits/analytics/tly_logger.h"

#include <algorithm>
#include <map>
#include <vector>

namespace kits {

TLYCleanupFilesOperation::TLYCleanupFilesOperation(std::filesystem::path directoryUrl,
                                                   std::int64_t maximumPendingMultipartFiles)
    : directoryUrl_(std::move(directoryUrl)), maximumPendingMultipartFiles_(maximumPendingMultipartFiles)
{}

void TLYCleanupFilesOperation::main()
{
    std::map<std::string, std::filesystem::path> logs, compressed, packaged;
    for (const auto& file : TLYFileUtils::allFilesInDirectory(directoryUrl_)) {
        std::error_code error;
        const std::string extension = TLYFileUtils::pathExtension(file);
        const std::string base = file.stem().string();
        // A directory is never one of ours, whatever its name.
        if (std::filesystem::is_directory(std::filesystem::symlink_status(file, error)))
            std::filesystem::remove_all(file, error);
        else if (extension == "log")
            logs.emplace(base, file);
        else if (extension == "gz")
            compressed.emplace(base, file);
        else if (extension == "multipartmime")
            packaged.emplace(base, file);
        else
            std::filesystem::remove(file, error);
    }
    for (const auto& [base, log] : logs) {
        const auto gz = compressed.find(base);
        if (gz == compressed.end())
            continue;
        std::error_code error;
        if (!std::filesystem::remove(gz->second, error) && error)
            TLYLogger::sharedLogger().logWithLabel("CleanupOperation",
                                                   "Failed to remove " + gz->second.string() + ": " + error.message());
        compressed.erase(gz);
    }
    Files packages;
    for (const auto& entry : packaged)
        packages.insert(entry.second);
    const Files kept = URLsByRemovingOldFiles(packages, maximumPendingMultipartFiles_);
    if (!successBlock_)
        return;
    Files logFiles, gzFiles;
    for (const auto& entry : logs)
        logFiles.insert(entry.second);
    for (const auto& entry : compressed)
        gzFiles.insert(entry.second);
    successBlock_(logFiles, gzFiles, kept);
}

TLYCleanupFilesOperation::Files TLYCleanupFilesOperation::URLsByRemovingOldFiles(const Files& files,
                                                                                 std::int64_t maximumFileCount)
{
    if (static_cast<std::int64_t>(files.size()) <= maximumFileCount)
        return files;
    std::vector<std::pair<foundation::Date, std::filesystem::path>> dated;
    for (const auto& file : files)
        dated.emplace_back(TLYFileUtils::fileCreatedDateAtURL(file, foundation::Date::min()), file);
    std::stable_sort(dated.begin(), dated.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    const std::size_t keep = static_cast<std::size_t>(std::max<std::int64_t>(0, maximumFileCount));
    Files kept;
    for (std::size_t index = 0; index < dated.size(); ++index) {
        if (index < keep)
            kept.insert(dated[index].second);
        else {
            std::error_code error;
            std::filesystem::remove(dated[index].second, error);
        }
    }
    return kept;
}

} // namespace kits
