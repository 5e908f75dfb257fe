// Whole-file replacement for the kits' small files: the bytes go to a temporary name beside the file,
// are flushed to disk and renamed over it, so a crash or a full disk leaves the old file or the new one.
#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>

namespace kits {

// False (and no temporary file left behind) when any step fails; the old file is then untouched.
bool writeFileAtomically(const std::filesystem::path& file, const std::string& bytes, mode_t mode);

} // namespace kits
