// File questions of the event log pipeline: a directory's entries, those of one extension, a file's
// size and its date. No state; any thread.
#pragma once

#include "foundation/clock.h"

#include <cstdint>
#include <filesystem>
#include <set>
#include <string_view>

namespace kits {

class TLYFileUtils {
public:
    // One path per entry of the directory, subdirectories included; empty when it cannot be listed.
    static std::set<std::filesystem::path> allFilesInDirectory(const std::filesystem::path& directory);
    // Those whose extension (without its dot) is `extension`.
    static std::set<std::filesystem::path> filesWithExtension(std::string_view extension,
                                                              const std::filesystem::path& directory);
    // The size in bytes; 0 when the file cannot be asked (a missing file).
    static std::uint64_t fileSizeAtURL(const std::filesystem::path& file);
    // When the file was written: its modification time (packages never change once written, and
    // birth times are missing on some file systems); `fallback` when it cannot be asked.
    static foundation::Date fileCreatedDateAtURL(const std::filesystem::path& file, foundation::Date fallback);
    // The extension without its dot ("" for none).
    static std::string pathExtension(const std::filesystem::path& file);
};

} // namespace kits
