// A persistent, opaque reference to a file that finds it again after a rename or a move within its
// volume: the file's identity (device, inode, birth time) and where it was, in a small versioned
// binary form. Linux cannot open a file by its identity, so resolving searches near the old place.
#pragma once

#include "data/value.h"
#include "foundation/clock.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>

namespace model {

struct FileBookmark {
    static constexpr std::uint8_t currentVersion = 1;

    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modificationTime = 0; // nanoseconds since 1970
    std::int64_t birthTime = 0;        // nanoseconds since 1970; 0 when the file system keeps none
    std::filesystem::path path;        // absolute, as the file was reached when the bookmark was made

    // The bookmark of the file at `absolutePath` (symbolic links followed), or why it cannot be made.
    static std::variant<FileBookmark, std::string> ofFile(const std::filesystem::path& absolutePath);

    enum class DecodeError { malformed, unknownVersion };
    data::Blob encoded() const;
    // Reads only within `blob`; anything not exactly the current form is an error.
    static std::variant<FileBookmark, DecodeError> decode(const data::Blob& blob);
};

// Bounds of the search for a moved file, so a huge home folder never blocks the caller.
struct BookmarkSearchLimits {
    std::chrono::milliseconds time{200};
    std::size_t entries = 20'000;
};

struct BookmarkResolution {
    std::optional<std::filesystem::path> path; // the file, when found
    bool stale = false; // of an unknown format, or of a volume that is no longer where the file was
};

// Finds the file of a bookmark: the old path when it still holds the same file; else the same file
// in the old folder and its sub-folders, then up the parent folders to the home folder (symbolic
// links to folders and other volumes are not entered); else a regular file now at the old path, as
// editors leave when they save by writing a new file. Prints nothing.
BookmarkResolution resolveFileBookmark(const data::Blob& blob, const BookmarkSearchLimits& limits = {});

// An absolute, lexically normal path without a trailing separator; nothing for an empty path.
std::optional<std::filesystem::path> normalizedFilePath(const std::filesystem::path& path);

// The encoded bookmark of the file at `path` (made absolute); on failure prints "ERROR: " and why.
std::optional<data::Blob> bookmarkData(const std::filesystem::path& path);

// The file a bookmark refers to; prints "ERROR: Could not create file URL from bookmark data" when it
// cannot be found, with "; bookmark is stale" appended when the bookmark is stale.
std::optional<std::filesystem::path> resolveBookmark(const data::Blob& bookmark);

// Device and inode of the file at `path` (symbolic links followed); nothing when there is none.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};
std::optional<FileIdentity> fileIdentity(const std::filesystem::path& path);

// Whether `bookmark` can resolve to `path`, which holds the file `identity`, decided without a search:
// only the bookmarked file itself or a file now at the bookmark's old path can be its resolution.
bool bookmarkMayResolveTo(const data::Blob& bookmark, const std::filesystem::path& path, const FileIdentity& identity);

// Follows one bookmark again and again without paying for a search on every read, and without
// repeating the error lines of resolveBookmark() on every read. The path found last is trusted while
// it still holds the same file (one stat). A failed resolution is not retried for `retryAfter`
// (foundation::now()), unless a regular file appears at the old path meanwhile. A new bookmark starts
// afresh. In memory only.
class BookmarkResolver {
public:
    static constexpr std::chrono::seconds retryAfter{30};

    // As resolveBookmark(), but printing its error line once per failed resolution.
    std::optional<std::filesystem::path> resolve(const data::Blob& bookmark, const BookmarkSearchLimits& limits = {});

private:
    bool mayRetry(const data::Blob& bookmark) const;

    data::Blob bookmark_;
    std::optional<std::filesystem::path> path_;
    FileIdentity identity_;
    std::optional<foundation::Date> failedAt_;
};

} // namespace model
