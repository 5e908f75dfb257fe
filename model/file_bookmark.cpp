// Encoding, decoding and resolution of file bookmarks. The search for a moved file is breadth-first,
// stays on the bookmark's device, never follows symbolic links and stops at its time and entry budget.
#include "model/file_bookmark.h"
#include "foundation/diagnostics.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace model {

namespace fs = std::filesystem;

namespace {

constexpr std::uint8_t magic[4] = {'H', 'V', 'F', 'B'};
constexpr std::size_t headerSize = sizeof magic + 1;
constexpr std::size_t fixedFieldsSize = 5 * 8 + 4;
// Far beyond any real path; bounds what a damaged blob can make us allocate.
constexpr std::uint32_t maxPathLength = 1u << 16;

void appendInteger(data::Blob& blob, std::uint64_t value, int bytes)
{
    for (int index = 0; index < bytes; ++index)
        blob.push_back(static_cast<std::uint8_t>(value >> (8 * index)));
}

std::uint64_t readInteger(const data::Blob& blob, std::size_t& offset, int bytes)
{
    std::uint64_t value = 0;
    for (int index = 0; index < bytes; ++index)
        value |= static_cast<std::uint64_t>(blob[offset + static_cast<std::size_t>(index)]) << (8 * index);
    offset += static_cast<std::size_t>(bytes);
    return value;
}

std::int64_t nanoseconds(const struct statx_timestamp& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

// What identifies a file on Linux, and its kind.
struct FileStatus {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t birthTime = 0;
    std::uint64_t size = 0;
    std::int64_t modificationTime = 0;
    mode_t mode = 0;
};

std::optional<FileStatus> statusAt(int folder, const char* name, bool followLinks, int* error = nullptr)
{
    struct statx info {};
    const int flags = followLinks ? 0 : AT_SYMLINK_NOFOLLOW;
    if (::statx(folder, name, flags, STATX_BASIC_STATS | STATX_BTIME, &info) != 0) {
        if (error)
            *error = errno;
        return std::nullopt;
    }
    FileStatus status;
    status.device = makedev(info.stx_dev_major, info.stx_dev_minor);
    status.inode = info.stx_ino;
    status.birthTime = (info.stx_mask & STATX_BTIME) ? nanoseconds(info.stx_btime) : 0;
    status.size = info.stx_size;
    status.modificationTime = nanoseconds(info.stx_mtime);
    status.mode = info.stx_mode;
    return status;
}

// Same device and inode; the birth time, where both sides know it, tells a reused inode number apart.
// Without it, a file found elsewhere whose size and modification time both differ from the bookmark's
// is taken for another file that got the number: a move keeps both, and an edit after a move rarely
// leaves neither. At the old path a changed file is still accepted, as editors rewrite files in place.
bool isBookmarkedFile(const FileStatus& status, const FileBookmark& bookmark, bool atOldPath)
{
    if (status.device != bookmark.device || status.inode != bookmark.inode)
        return false;
    if (status.birthTime != 0 && bookmark.birthTime != 0)
        return status.birthTime == bookmark.birthTime;
    return atOldPath || status.size == bookmark.size || status.modificationTime == bookmark.modificationTime;
}

fs::path homeFolder()
{
    if (const char* home = std::getenv("HOME"); home && fs::path(home).is_absolute())
        return fs::path(home).lexically_normal();
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir)
        return fs::path(entry->pw_dir).lexically_normal();
    return {};
}

bool isWithin(const fs::path& path, const fs::path& folder)
{
    if (folder.empty())
        return false;
    const auto [folderEnd, pathEnd] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    (void)pathEnd;
    return folderEnd == folder.end() || (std::next(folderEnd) == folder.end() && folderEnd->empty());
}

// Breadth-first search for the bookmarked file under a budget shared by all the folders searched.
class MovedFileSearch {
public:
    MovedFileSearch(const FileBookmark& bookmark, const BookmarkSearchLimits& limits)
        : bookmark_(bookmark), deadline_(std::chrono::steady_clock::now() + limits.time), entriesLeft_(limits.entries)
    {}

    // Searches `root` and its sub-folders, leaving out the sub-folder `skipped` (already searched).
    std::optional<fs::path> searchTree(const fs::path& root, const fs::path& skipped = {})
    {
        std::deque<fs::path> folders{root};
        // The root is the user's own path and may be reached through a link; sub-folders never are.
        bool followLink = true;
        while (!folders.empty() && !exhausted()) {
            const fs::path folder = std::move(folders.front());
            folders.pop_front();
            if (auto found = searchFolder(folder, followLink, skipped, folders))
                return found;
            followLink = false;
        }
        return std::nullopt;
    }

    bool exhausted() const { return exhausted_; }

private:
    std::optional<fs::path> searchFolder(const fs::path& folder, bool followLink, const fs::path& skipped,
                                         std::deque<fs::path>& queue)
    {
        const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
        const int descriptor = ::open(folder.c_str(), flags);
        if (descriptor < 0)
            return std::nullopt;
        DIR* directory = ::fdopendir(descriptor);
        if (!directory) {
            ::close(descriptor);
            return std::nullopt;
        }
        std::optional<fs::path> found;
        while (const dirent* entry = ::readdir(directory)) {
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                continue;
            if (!spendOneEntry())
                break;
            const auto status = statusAt(::dirfd(directory), entry->d_name, false);
            if (!status)
                continue;
            if (isBookmarkedFile(*status, bookmark_, false)) {
                found = folder / entry->d_name;
                break;
            }
            // Other volumes are not entered: the file cannot have moved there under the same identity.
            if (S_ISDIR(status->mode) && status->device == bookmark_.device) {
                fs::path child = folder / entry->d_name;
                if (child != skipped)
                    queue.push_back(std::move(child));
            }
        }
        ::closedir(directory);
        return found;
    }

    bool spendOneEntry()
    {
        if (entriesLeft_ == 0 || std::chrono::steady_clock::now() >= deadline_) {
            exhausted_ = true;
            return false;
        }
        --entriesLeft_;
        return true;
    }

    const FileBookmark& bookmark_;
    std::chrono::steady_clock::time_point deadline_;
    std::size_t entriesLeft_;
    bool exhausted_ = false;
};

// The nearest folder of `path` (itself excluded) that still exists.
std::optional<fs::path> nearestExistingFolder(const fs::path& path)
{
    for (fs::path folder = path.parent_path();; folder = folder.parent_path()) {
        struct stat info {};
        if (::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            return folder;
        if (folder == folder.root_path() || folder.empty())
            return std::nullopt;
    }
}

// The old folder's tree, then each parent level's entries and other sub-folders, up to the home
// folder (or, outside it, to the top folder below the root: searching the whole system is pointless).
std::optional<fs::path> searchNearOldPlace(const FileBookmark& bookmark, const fs::path& start,
                                           const BookmarkSearchLimits& limits)
{
    MovedFileSearch search(bookmark, limits);
    if (auto found = search.searchTree(start))
        return found;
    const fs::path home = homeFolder();
    const bool inHome = isWithin(start, home);
    fs::path searched = start;
    while (!search.exhausted()) {
        const fs::path parent = searched.parent_path();
        if (parent == searched || (inHome && !isWithin(parent, home)) || (!inHome && parent == parent.root_path()))
            break;
        struct stat info {};
        if (::stat(parent.c_str(), &info) != 0 || static_cast<std::uint64_t>(info.st_dev) != bookmark.device)
            break;
        if (auto found = search.searchTree(parent, searched))
            return found;
        searched = parent;
    }
    return std::nullopt;
}

} // namespace

std::variant<FileBookmark, std::string> FileBookmark::ofFile(const fs::path& absolutePath)
{
    int error = 0;
    const auto status = statusAt(AT_FDCWD, absolutePath.c_str(), true, &error);
    if (!status)
        return "Cannot make a bookmark of \"" + absolutePath.string() + "\": " + std::strerror(error);
    FileBookmark bookmark;
    bookmark.device = status->device;
    bookmark.inode = status->inode;
    bookmark.size = status->size;
    bookmark.modificationTime = status->modificationTime;
    bookmark.birthTime = status->birthTime;
    bookmark.path = absolutePath;
    return bookmark;
}

data::Blob FileBookmark::encoded() const
{
    const std::string& text = path.native();
    data::Blob blob(std::begin(magic), std::end(magic));
    blob.push_back(currentVersion);
    appendInteger(blob, device, 8);
    appendInteger(blob, inode, 8);
    appendInteger(blob, size, 8);
    appendInteger(blob, static_cast<std::uint64_t>(modificationTime), 8);
    appendInteger(blob, static_cast<std::uint64_t>(birthTime), 8);
    appendInteger(blob, text.size(), 4);
    blob.insert(blob.end(), text.begin(), text.end());
    return blob;
}

std::variant<FileBookmark, FileBookmark::DecodeError> FileBookmark::decode(const data::Blob& blob)
{
    if (blob.size() < headerSize || !std::equal(std::begin(magic), std::end(magic), blob.begin()))
        return DecodeError::malformed;
    if (blob[sizeof magic] != currentVersion)
        return DecodeError::unknownVersion;
    if (blob.size() < headerSize + fixedFieldsSize)
        return DecodeError::malformed;
    std::size_t offset = headerSize;
    FileBookmark bookmark;
    bookmark.device = readInteger(blob, offset, 8);
    bookmark.inode = readInteger(blob, offset, 8);
    bookmark.size = readInteger(blob, offset, 8);
    bookmark.modificationTime = static_cast<std::int64_t>(readInteger(blob, offset, 8));
    bookmark.birthTime = static_cast<std::int64_t>(readInteger(blob, offset, 8));
    const auto length = static_cast<std::uint32_t>(readInteger(blob, offset, 4));
    if (length == 0 || length > maxPathLength || blob.size() - offset != length)
        return DecodeError::malformed;
    std::string text(blob.begin() + static_cast<std::ptrdiff_t>(offset), blob.end());
    if (text.find('\0') != std::string::npos || text.front() != '/')
        return DecodeError::malformed;
    bookmark.path = std::move(text);
    return bookmark;
}

BookmarkResolution resolveFileBookmark(const data::Blob& blob, const BookmarkSearchLimits& limits)
{
    const auto decoded = FileBookmark::decode(blob);
    if (const auto* error = std::get_if<FileBookmark::DecodeError>(&decoded))
        return {std::nullopt, *error == FileBookmark::DecodeError::unknownVersion};
    const auto& bookmark = std::get<FileBookmark>(decoded);

    const auto atOldPath = statusAt(AT_FDCWD, bookmark.path.c_str(), true);
    if (atOldPath && isBookmarkedFile(*atOldPath, bookmark, true))
        return {bookmark.path, false};

    // The volume that held the file is gone (unmounted, or another one mounted in its place).
    const auto folder = nearestExistingFolder(bookmark.path);
    struct stat folderInfo {};
    if (!folder || ::stat(folder->c_str(), &folderInfo) != 0
        || static_cast<std::uint64_t>(folderInfo.st_dev) != bookmark.device)
        return {std::nullopt, true};

    if (auto found = searchNearOldPlace(bookmark, *folder, limits))
        return {std::move(found), false};
    if (atOldPath && S_ISREG(atOldPath->mode))
        return {bookmark.path, false};
    return {};
}

std::optional<fs::path> normalizedFilePath(const fs::path& path)
{
    if (path.empty())
        return std::nullopt;
    std::error_code error;
    fs::path absolute = fs::absolute(path, error);
    if (error)
        return std::nullopt;
    absolute = absolute.lexically_normal();
    if (!absolute.has_filename() && absolute != absolute.root_path())
        absolute = absolute.parent_path();
    return absolute;
}

std::optional<data::Blob> bookmarkData(const fs::path& path)
{
    const auto absolute = normalizedFilePath(path);
    if (!absolute) {
        foundation::diagnostic("ERROR: Cannot make a bookmark of an empty path");
        return std::nullopt;
    }
    auto made = FileBookmark::ofFile(*absolute);
    if (const auto* error = std::get_if<std::string>(&made)) {
        foundation::diagnostic("ERROR: " + *error);
        return std::nullopt;
    }
    return std::get<FileBookmark>(made).encoded();
}

std::optional<fs::path> resolveBookmark(const data::Blob& bookmark)
{
    auto resolution = resolveFileBookmark(bookmark);
    if (resolution.stale) {
        foundation::diagnostic("ERROR: Could not create file URL from bookmark data; bookmark is stale");
        return std::nullopt;
    }
    if (!resolution.path)
        foundation::diagnostic("ERROR: Could not create file URL from bookmark data");
    return std::move(resolution.path);
}

std::optional<FileIdentity> fileIdentity(const fs::path& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

bool bookmarkMayResolveTo(const data::Blob& bookmark, const fs::path& path, const FileIdentity& identity)
{
    const auto decoded = FileBookmark::decode(bookmark);
    const auto* made = std::get_if<FileBookmark>(&decoded);
    if (!made)
        return false;
    return (identity.device == made->device && identity.inode == made->inode) || path == made->path;
}

std::optional<fs::path> BookmarkResolver::resolve(const data::Blob& bookmark, const BookmarkSearchLimits& limits)
{
    if (bookmark != bookmark_) {
        *this = BookmarkResolver();
        bookmark_ = bookmark;
    }
    if (path_) {
        if (fileIdentity(*path_) == identity_)
            return path_;
        path_.reset();
    }
    if (failedAt_ && !mayRetry(bookmark))
        return std::nullopt;

    auto resolution = resolveFileBookmark(bookmark, limits);
    const auto identity = resolution.path ? fileIdentity(*resolution.path) : std::nullopt;
    if (identity) {
        path_ = resolution.path;
        identity_ = *identity;
        failedAt_.reset();
        return path_;
    }
    failedAt_ = foundation::now();
    if (resolution.stale)
        foundation::diagnostic("ERROR: Could not create file URL from bookmark data; bookmark is stale");
    else
        foundation::diagnostic("ERROR: Could not create file URL from bookmark data");
    return std::nullopt;
}

bool BookmarkResolver::mayRetry(const data::Blob& bookmark) const
{
    if (foundation::now() - *failedAt_ >= retryAfter)
        return true;
    // The file, or one saved in its place, is back where it was: that is cheap to see and worth a look.
    const auto decoded = FileBookmark::decode(bookmark);
    const auto* made = std::get_if<FileBookmark>(&decoded);
    struct stat info {};
    return made && ::stat(made->path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

} // namespace model
