// The report directory tree over std::filesystem and rename(2). Moves never replace an existing entry
// (renameat2 with RENAME_NOREPLACE), as a file manager's move does not.

#include "kits/crash/bbx_file_manager.h"

#include "kits/crash/bbx_internal_report.h"
#include "kits/platform/bundle_functions.h"
#include "kits/platform/kit_log.h"

#include "foundation/main_bundle.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <system_error>

namespace kits {

namespace fs = std::filesystem;

namespace {

std::string join(const std::string& directory, const std::string& name)
{
    return (fs::path(directory) / name).string();
}

std::string errorText(const std::string& path, const std::error_code& error)
{
    return "'" + path + "': " + error.message();
}

std::string lastPathComponent(const std::string& path)
{
    fs::path p(path);
    if (!p.has_filename())
        p = p.parent_path();
    return p.filename().string();
}

} // namespace

BBXFileManager::BBXFileManager()
{
    fs::path root = foundation::MainBundle::cachesDirectory() / "com.faultmere.data";
    const std::string space = pathNamespace();
    if (!space.empty())
        root /= space;
    rootPath_ = root.string();
}

std::string BBXFileManager::pathNamespace() const
{
    return KSTEscapedBundleIdentifier().value_or("");
}

std::string BBXFileManager::structurePath() const
{
    return join(rootPath_, "v3");
}

std::string BBXFileManager::activePath() const
{
    return join(structurePath(), "active");
}

std::string BBXFileManager::pendingPath() const
{
    return join(structurePath(), "pending");
}

std::string BBXFileManager::processingPath() const
{
    return join(structurePath(), "processing");
}

std::string BBXFileManager::preparedPath() const
{
    return join(structurePath(), "prepared");
}

bool BBXFileManager::createDirectoryAtPath(const std::string& path) const
{
    std::error_code error;
    if (path.empty()) {
        error = std::make_error_code(std::errc::invalid_argument);
    } else {
        // Each directory made here gets 0755 whatever the umask; existing ones are left as they are.
        fs::path partial;
        for (const auto& part : fs::path(path)) {
            partial /= part;
            if (fs::is_directory(partial, error))
                continue;
            if (fs::create_directory(partial, error))
                fs::permissions(partial, fs::perms(0755), error);
            if (error)
                break;
        }
    }
    if (error) {
        kitLog("[FileManager] Unable to create directory " + errorText(path, error));
        return false;
    }
    return true;
}

bool BBXFileManager::removeItemAtPath(const std::string& path) const
{
    if (path.empty())
        return false;
    std::error_code error;
    if (!fs::exists(fs::symlink_status(path, error)))
        error = std::make_error_code(std::errc::no_such_file_or_directory);
    else
        fs::remove_all(path, error);
    if (error) {
        kitLog("[FileManager] Failed to remove file '" + path + "' : " + error.message());
        return false;
    }
    return true;
}

bool BBXFileManager::removeContentsOfDirectoryAtPath(const std::string& path) const
{
    bool allRemoved = true;
    enumerateFilesInDirectory(path, [&](const std::string& entry, const std::string&) {
        allRemoved = removeItemAtPath(entry) && allRemoved;
    });
    return allRemoved;
}

bool BBXFileManager::moveItemAtPathToDirectory(const std::string& path, const std::string& directory) const
{
    if (path.empty() || directory.empty()) {
        kitLog("[FileManager] Failed to move file, inputs invalid");
        return false;
    }
    const std::string destination = join(directory, lastPathComponent(path));
    if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) != 0) {
        const std::error_code error(errno, std::generic_category());
        kitLog("[FileManager] Failed to move file: '" + path + "' to '" + destination + "': " + error.message());
        return false;
    }
    return true;
}

void BBXFileManager::enumerateFilesInDirectory(
    const std::string& directory,
    const std::function<void(const std::string& path, const std::string& extension)>& block) const
{
    for (const auto& path : contentsOfDirectory(directory)) {
        const std::string extension = fs::path(path).extension().string();
        block(path, extension.empty() ? extension : extension.substr(1));
    }
}

bool BBXFileManager::moveItemsFromDirectoryToDirectory(const std::string& source, const std::string& destination) const
{
    for (const auto& path : contentsOfDirectory(source)) {
        if (!moveItemAtPathToDirectory(path, destination))
            return false;
    }
    return true;
}

std::optional<std::uint64_t> BBXFileManager::fileSizeAtPath(const std::string& path) const
{
    std::error_code error;
    const auto size = fs::file_size(path, error);
    if (error) {
        kitLog("[Client] Unable to read file size: " + errorText(path, error));
        return std::nullopt;
    }
    return size;
}

std::vector<std::string> BBXFileManager::contentsOfDirectory(const std::string& path) const
{
    std::vector<std::string> names;
    std::error_code error;
    fs::directory_iterator entries(path, error);
    for (; !error && entries != fs::directory_iterator(); entries.increment(error)) {
        std::string name = entries->path().filename().string();
        if (!name.empty() && name.front() != '.')
            names.push_back(std::move(name));
    }
    if (error)
        return {};
    std::sort(names.begin(), names.end());
    std::vector<std::string> paths;
    paths.reserve(names.size());
    for (const auto& name : names)
        paths.push_back(join(path, name));
    return paths;
}

bool BBXFileManager::prepareForNewLaunch() const
{
    return createDirectoryAtPath(activePath()) && createDirectoryAtPath(processingPath())
           && createDirectoryAtPath(preparedPath());
}

std::optional<std::string> BBXFileManager::setupNewPathForExecutionIdentifier(const std::string& identifier) const
{
    const std::string path = join(activePath(), identifier);
    if (identifier.empty() || !createDirectoryAtPath(path))
        return std::nullopt;
    return path;
}

void BBXFileManager::removeLegacyDirectories() const
{
    std::error_code error;
    if (!fs::exists(fs::symlink_status(join(rootPath_, "sendable"), error)))
        return;
    fs::remove_all(rootPath_, error);
    if (error)
        kitLog("[Blackbox:FileManager] Unable to remove legacy directory structure " + errorText(rootPath_, error));
    kitLog("[Blackbox:FileManager] Removed legacy structure at " + rootPath_);
}

void BBXFileManager::enumerateReportsInProcessingDirectory(
    const std::function<void(std::shared_ptr<BBXInternalReport> report, const std::string& path)>& block) const
{
    enumerateFilesInDirectory(processingPath(), [&](const std::string& path, const std::string&) {
        block(BBXInternalReport::reportWithPath(path), path);
    });
}

void BBXFileManager::enumerateFilesInActiveDirectory(
    const std::function<void(const std::string& path, const std::string& extension)>& block) const
{
    enumerateFilesInDirectory(activePath(), block);
}

void BBXFileManager::enumerateFilesInPreparedDirectory(
    const std::function<void(const std::string& path, const std::string& extension)>& block) const
{
    enumerateFilesInDirectory(preparedPath(), block);
}

bool BBXFileManager::moveProcessingContentsToPrepared() const
{
    return moveItemsFromDirectoryToDirectory(processingPath(), preparedPath());
}

bool BBXFileManager::movePendingToProcessing() const
{
    return moveItemsFromDirectoryToDirectory(pendingPath(), processingPath());
}

bool BBXFileManager::removeContentsOfProcessingPath() const
{
    return removeContentsOfDirectoryAtPath(processingPath());
}

bool BBXFileManager::removeContentsOfPendingPath() const
{
    return removeContentsOfDirectoryAtPath(pendingPath());
}

bool BBXFileManager::removeContentsOfAllPaths() const
{
    bool allRemoved = removeContentsOfDirectoryAtPath(processingPath());
    allRemoved = removeContentsOfDirectoryAtPath(pendingPath()) && allRemoved;
    allRemoved = removeContentsOfDirectoryAtPath(preparedPath()) && allRemoved;
    allRemoved = removeContentsOfDirectoryAtPath(activePath()) && allRemoved;
    return allRemoved;
}

} // namespace kits
