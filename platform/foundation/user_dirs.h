// The user's Documents folder by the freedesktop user-dirs rules: $XDG_DOCUMENTS_DIR when set, else
// the XDG_DOCUMENTS_DIR line of $XDG_CONFIG_HOME/user-dirs.dirs, else ~/Documents. The store and the
// crash kit's storage figures both use it, so both name the same folder.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace foundation {

// The folder a user-dirs.dirs text names under `key` (such as "XDG_DOCUMENTS_DIR"): the last line
// that sets it, with its value quoted or bare, "$HOME" or "$HOME/..." taken relative to `home`, or
// absolute; backslash escapes are undone. Comments, other keys and relative values are skipped;
// nothing when no line sets the key.
std::optional<std::filesystem::path> userDirFromConfig(std::string_view text, std::string_view key,
                                                       const std::filesystem::path& home);

// The Documents folder for the current environment (see the top of this file); the current
// folder when not even $HOME is set.
std::filesystem::path documentsFolder();

} // namespace foundation
