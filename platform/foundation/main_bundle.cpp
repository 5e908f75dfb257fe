// The host's bundle facts (and strings tables) behind one mutex; readers get snapshots, so a kit thread never sees a
// dictionary change under it.
#include "foundation/main_bundle.h"

#include <cstdlib>
#include <mutex>
#include <pwd.h>
#include <unistd.h>

namespace foundation {

namespace {

struct BundleState {
    std::mutex mutex;
    std::shared_ptr<const PropertyListDictionary> infoDictionary;
    std::optional<PropertyListData> iconPNG;
    std::optional<std::filesystem::path> caches;
    std::optional<std::filesystem::path> applicationSupport;
    std::map<std::string, std::shared_ptr<const PropertyListDictionary>, std::less<>> stringsTables;
};

BundleState& state()
{
    // Never destroyed: the kits' threads may still read it while the process exits.
    static auto* shared = new BundleState();
    return *shared;
}

std::filesystem::path homeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return std::filesystem::temp_directory_path();
}

std::filesystem::path xdgFolder(const char* variable, const char* fallbackBelowHome)
{
    // The XDG rules ignore a relative path.
    if (const char* value = std::getenv(variable); value && *value == '/')
        return value;
    return homeFolder() / fallbackBelowHome;
}

} // namespace

void MainBundle::setInfoDictionary(std::shared_ptr<const PropertyListDictionary> dictionary)
{
    std::lock_guard lock(state().mutex);
    state().infoDictionary = std::move(dictionary);
}

void MainBundle::setInfoDictionary(PropertyListDictionary dictionary)
{
    setInfoDictionary(std::make_shared<const PropertyListDictionary>(std::move(dictionary)));
}

std::shared_ptr<const PropertyListDictionary> MainBundle::infoDictionary()
{
    std::lock_guard lock(state().mutex);
    return state().infoDictionary;
}

std::optional<PropertyListValue> MainBundle::objectForInfoDictionaryKey(std::string_view key)
{
    const auto dictionary = infoDictionary();
    if (!dictionary)
        return std::nullopt;
    const PropertyListValue* value = dictionary->find(key);
    return value ? std::optional(*value) : std::nullopt;
}

std::optional<std::string> MainBundle::bundleIdentifier()
{
    const auto dictionary = infoDictionary();
    const std::string* identifier = dictionary ? dictionary->get<std::string>("CFBundleIdentifier") : nullptr;
    return identifier ? std::optional(*identifier) : std::nullopt;
}

void MainBundle::setStringsTable(const std::string& table, std::optional<PropertyListDictionary> strings)
{
    std::lock_guard lock(state().mutex);
    if (strings)
        state().stringsTables[table] = std::make_shared<const PropertyListDictionary>(std::move(*strings));
    else
        state().stringsTables.erase(table);
}

std::string MainBundle::localizedString(std::string_view key, std::string value, const std::string& table)
{
    std::shared_ptr<const PropertyListDictionary> strings;
    {
        std::lock_guard lock(state().mutex);
        const auto found = state().stringsTables.find(table);
        if (found != state().stringsTables.end())
            strings = found->second;
    }
    const std::string* text = strings ? strings->get<std::string>(key) : nullptr;
    return text ? *text : std::move(value);
}

void MainBundle::setIconPNG(std::optional<PropertyListData> png)
{
    std::lock_guard lock(state().mutex);
    state().iconPNG = std::move(png);
}

std::optional<PropertyListData> MainBundle::iconPNG()
{
    std::lock_guard lock(state().mutex);
    return state().iconPNG;
}

void MainBundle::setCachesDirectory(std::optional<std::filesystem::path> folder)
{
    std::lock_guard lock(state().mutex);
    state().caches = std::move(folder);
}

void MainBundle::setApplicationSupportDirectory(std::optional<std::filesystem::path> folder)
{
    std::lock_guard lock(state().mutex);
    state().applicationSupport = std::move(folder);
}

std::filesystem::path MainBundle::cachesDirectory()
{
    {
        std::lock_guard lock(state().mutex);
        if (state().caches)
            return *state().caches;
    }
    return xdgCacheHome();
}

std::filesystem::path MainBundle::applicationSupportDirectory()
{
    {
        std::lock_guard lock(state().mutex);
        if (state().applicationSupport)
            return *state().applicationSupport;
    }
    return xdgDataHome();
}

std::filesystem::path xdgCacheHome()
{
    return xdgFolder("XDG_CACHE_HOME", ".cache");
}

std::filesystem::path xdgDataHome()
{
    return xdgFolder("XDG_DATA_HOME", ".local/share");
}

} // namespace foundation
