// The host application as the kits see it, in place of a main bundle: its information dictionary
// (identifier, versions, kit configuration), its icon, its strings tables and its caches and
// application-support folders.
// The host sets these once at launch, before it starts the kits; any thread may read them.
#pragma once

#include "foundation/property_list.h"

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace foundation {

class MainBundle {
public:
    // Replaces the information dictionary; nullptr stands for a host that has none.
    static void setInfoDictionary(std::shared_ptr<const PropertyListDictionary> dictionary);
    static void setInfoDictionary(PropertyListDictionary dictionary);
    // The dictionary as last set; nullptr when there is none.
    static std::shared_ptr<const PropertyListDictionary> infoDictionary();
    // The value under `key` in the information dictionary; nothing when absent.
    static std::optional<PropertyListValue> objectForInfoDictionaryKey(std::string_view key);
    // "CFBundleIdentifier" when it is text.
    static std::optional<std::string> bundleIdentifier();

    // The application's icon as PNG bytes; nothing until the host hands one in.
    static void setIconPNG(std::optional<PropertyListData> png);
    static std::optional<PropertyListData> iconPNG();

    // The host's strings tables, by name: key -> translated text. Registering a table replaces one of
    // the same name; none removes it.
    static void setStringsTable(const std::string& table, std::optional<PropertyListDictionary> strings);
    // The text of `key` in `table` when the host registered one that has it as text, else `value`.
    static std::string localizedString(std::string_view key, std::string value, const std::string& table);

    // The user's caches and application-support folders for the kits: what the host set, else
    // $XDG_CACHE_HOME (~/.cache) and $XDG_DATA_HOME (~/.local/share).
    static void setCachesDirectory(std::optional<std::filesystem::path> folder);
    static void setApplicationSupportDirectory(std::optional<std::filesystem::path> folder);
    static std::filesystem::path cachesDirectory();
    static std::filesystem::path applicationSupportDirectory();
};

// $XDG_CACHE_HOME when it is an absolute path, else ~/.cache; likewise $XDG_DATA_HOME, ~/.local/share.
std::filesystem::path xdgCacheHome();
std::filesystem::path xdgDataHome();

} // namespace foundation
