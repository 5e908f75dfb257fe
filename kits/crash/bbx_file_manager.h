// The crash kit's tree of report directories under the kits' caches folder: one directory per launch
// under "active", moved at the next launch to "processing" and, packaged, to "prepared". Every
// operation is an independent file-system call; failures go to the kits' console and come back as
// false or nothing, never as an exception. Names starting with "." are never listed, moved or removed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kits {

class BBXInternalReport;

class BBXFileManager {
public:
    // Computes the root path from the kits' caches folder and the bundle identifier; creates nothing.
    BBXFileManager();

    // caches / "com.faultmere.data" / pathNamespace (without the last part when there is no bundle
    // identifier).
    const std::string& rootPath() const { return rootPath_; }
    // The bundle identifier with every "/" replaced by "_"; empty without one.
    std::string pathNamespace() const;
    std::string structurePath() const;
    std::string activePath() const;
    std::string pendingPath() const;
    std::string processingPath() const;
    std::string preparedPath() const;

    // With intermediate directories, mode 0755. True also when the directory exists already.
    bool createDirectoryAtPath(const std::string& path) const;
    // Removes a file or a whole directory; false for an empty path or a path that does not exist.
    bool removeItemAtPath(const std::string& path) const;
    // Tries every listed entry; true only when all went (true for an empty or missing directory).
    bool removeContentsOfDirectoryAtPath(const std::string& path) const;
    // Moves to directory / the path's last component; never replaces what is there.
    bool moveItemAtPathToDirectory(const std::string& path, const std::string& directory) const;
    // Full path and extension (possibly empty) of each listed entry, in listing order.
    void enumerateFilesInDirectory(
        const std::string& directory,
        const std::function<void(const std::string& path, const std::string& extension)>& block) const;
    // Moves each listed entry; stops at the first failure, which gives false.
    bool moveItemsFromDirectoryToDirectory(const std::string& source, const std::string& destination) const;
    std::optional<std::uint64_t> fileSizeAtPath(const std::string& path) const;
    // Full paths of the listed entries: names not starting with ".", sorted by name (the listing order
    // every operation here uses). An unreadable directory lists nothing, without a message.
    std::vector<std::string> contentsOfDirectory(const std::string& path) const;
    std::vector<std::string> activePathContents() const { return contentsOfDirectory(activePath()); }
    std::vector<std::string> processingPathContents() const { return contentsOfDirectory(processingPath()); }
    std::vector<std::string> preparedPathContents() const { return contentsOfDirectory(preparedPath()); }

    // Creates active, processing and prepared in this order, stopping at the first failure. "pending"
    // is never created.
    bool prepareForNewLaunch() const;
    // Creates active / identifier and returns it; nothing when that failed.
    std::optional<std::string> setupNewPathForExecutionIdentifier(const std::string& identifier) const;
    // An older layout left root / "sendable": the whole root goes.
    void removeLegacyDirectories() const;

    // Each listed entry of processing with its report (none when it has no identifier) and its path.
    void enumerateReportsInProcessingDirectory(
        const std::function<void(std::shared_ptr<BBXInternalReport> report, const std::string& path)>& block) const;
    void enumerateFilesInActiveDirectory(
        const std::function<void(const std::string& path, const std::string& extension)>& block) const;
    void enumerateFilesInPreparedDirectory(
        const std::function<void(const std::string& path, const std::string& extension)>& block) const;
    bool moveProcessingContentsToPrepared() const;
    bool movePendingToProcessing() const;
    bool removeContentsOfProcessingPath() const;
    bool removeContentsOfPendingPath() const;
    // Empties processing, pending, prepared and active, every one tried; true only when all four went.
    bool removeContentsOfAllPaths() const;

private:
    std::string rootPath_;
};

} // namespace kits
