// The kits' defaults store: values behind the access lock, the file behind the io lock, an XML
// property list written under a temporary name and renamed into place.
#include "kits/platform/bbx_user_defaults.h"

#include "foundation/main_bundle.h"
#include "foundation/property_list_file.h"
#include "kits/platform/atomic_file.h"
#include "kits/platform/bundle_functions.h"
#include "kits/platform/kit_log.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace kits {

namespace {

std::shared_ptr<BBXMigrationSource>& standardMigrationSource()
{
    // Never destroyed: the kits' threads may still reach it while the process exits.
    static auto* source = new std::shared_ptr<BBXMigrationSource>();
    return *source;
}
std::mutex standardMigrationSourceMutex;

} // namespace

BBXUserDefaults& BBXUserDefaults::standardUserDefaults()
{
    static BBXUserDefaults* instance = [] {
        std::shared_ptr<BBXMigrationSource> source;
        {
            std::lock_guard lock(standardMigrationSourceMutex);
            source = standardMigrationSource();
        }
        // Never destroyed: kit threads may still use it while the process exits.
        return new BBXUserDefaults(foundation::MainBundle::applicationSupportDirectory(),
                                   getEscapedAppBundleIdentifier(), std::move(source));
    }();
    return *instance;
}

void BBXUserDefaults::setStandardMigrationSource(std::shared_ptr<BBXMigrationSource> source)
{
    std::lock_guard lock(standardMigrationSourceMutex);
    standardMigrationSource() = std::move(source);
}

BBXUserDefaults::BBXUserDefaults(const std::filesystem::path& baseDirectory,
                                 const std::optional<std::string>& hostAppBundleIdentifier,
                                 std::shared_ptr<BBXMigrationSource> migrationSource)
    : migrationSource_(std::move(migrationSource))
{
    std::lock_guard access(accessMutex_);
    directoryURL_ = generateDirectoryURLForBaseURL(baseDirectory, hostAppBundleIdentifier);
    fileURL_ = directoryURL_ / "BBXUserDefaults.plist";
    dataDictionary_ = loadDefaults().value_or(foundation::PropertyListDictionary{});
}

std::optional<foundation::PropertyListDictionary> BBXUserDefaults::loadDefaults()
{
    std::lock_guard io(ioMutex_);
    std::error_code error;
    const auto status = std::filesystem::status(fileURL_, error);
    if (std::filesystem::is_directory(status)) {
        kitLog("[Keystone:UserDefaults] found directory where file expected. Removing conflicting directory");
        std::filesystem::remove_all(fileURL_, error);
        if (error)
            kitLog("[Keystone:UserDefaults] error removing conflicting directory: {error = " + error.message() + "}");
        return std::nullopt;
    }
    if (!std::filesystem::exists(status))
        return std::nullopt;
    std::ifstream input(fileURL_, std::ios::binary);
    std::ostringstream bytes;
    bytes << input.rdbuf();
    auto read = input ? foundation::propertyListFromBytes(bytes.str())
                      : foundation::PropertyListResult<foundation::PropertyListValue>::failure("unreadable");
    const auto* dictionary = read ? read.value->get<foundation::PropertyListDictionary>() : nullptr;
    if (!dictionary) {
        kitLog("[Keystone:UserDefaults] failed to read existing UserDefaults file");
        return std::nullopt;
    }
    return *dictionary;
}

std::optional<foundation::PropertyListValue> BBXUserDefaults::objectForKey(const std::string& key) const
{
    std::lock_guard access(accessMutex_);
    const foundation::PropertyListValue* value = dataDictionary_.find(key);
    return value ? std::optional(*value) : std::nullopt;
}

std::optional<std::string> BBXUserDefaults::stringForKey(const std::string& key) const
{
    const auto value = objectForKey(key);
    const std::string* text = value ? value->get<std::string>() : nullptr;
    return text ? std::optional(*text) : std::nullopt;
}

bool BBXUserDefaults::boolForKey(const std::string& key) const
{
    const auto value = objectForKey(key);
    if (!value || !(value->holds<bool>() || value->holds<std::int64_t>() || value->holds<double>()))
        return false;
    return KSTBoolValue(*value);
}

void BBXUserDefaults::setObject(std::optional<foundation::PropertyListValue> value, const std::string& key)
{
    std::lock_guard access(accessMutex_);
    if (!value || value->isNull())
        dataDictionary_.erase(key);
    else
        dataDictionary_.set(key, std::move(*value));
    ++generation_;
}

void BBXUserDefaults::setString(std::optional<std::string> value, const std::string& key)
{
    setObject(value ? std::optional<foundation::PropertyListValue>(std::move(*value)) : std::nullopt, key);
}

void BBXUserDefaults::setBool(bool value, const std::string& key)
{
    setObject(foundation::PropertyListValue(value), key);
}

void BBXUserDefaults::removeObjectForKey(const std::string& key)
{
    setObject(std::nullopt, key);
}

void BBXUserDefaults::removeAllObjects()
{
    std::lock_guard access(accessMutex_);
    dataDictionary_.clear();
    ++generation_;
}

foundation::PropertyListDictionary BBXUserDefaults::dictionaryRepresentation() const
{
    std::lock_guard access(accessMutex_);
    return dataDictionary_;
}

void BBXUserDefaults::synchronize()
{
    foundation::PropertyListDictionary snapshot;
    std::uint64_t generation = 0;
    {
        std::lock_guard access(accessMutex_);
        snapshot = dataDictionary_;
        generation = generation_;
    }
    write(snapshot, generation);
}

void BBXUserDefaults::write(const foundation::PropertyListDictionary& snapshot, std::uint64_t generation)
{
    std::lock_guard io(ioMutex_);
    // Another thread's synchronize may have written a newer snapshot since this one was taken.
    if (writtenGeneration_ > generation)
        return;
    std::error_code error;
    if (!std::filesystem::is_directory(directoryURL_, error)) {
        std::filesystem::create_directories(directoryURL_, error);
        if (error) {
            kitLog("[Keystone:UserDefaults] failed to create directory with error:" + error.message());
            return;
        }
    }
    const auto xml = foundation::xmlPropertyList(snapshot);
    if (!xml || !writeFileAtomically(fileURL_, *xml.value, 0600)) {
        kitLog("[Keystone:UserDefaults] Unable to open file for writing at path " + fileURL_.string());
        return;
    }
    writtenGeneration_ = generation;
}

void BBXUserDefaults::migrateFromNSUserDefaults(const std::vector<std::string>& keys)
{
    if (!migrationSource_)
        return;
    bool copied = false;
    for (const auto& key : keys) {
        if (auto value = migrationSource_->objectForKey(key)) {
            setObject(std::move(*value), key);
            copied = true;
        }
    }
    if (!copied)
        return;
    synchronize();
    for (const auto& key : keys)
        migrationSource_->removeObjectForKey(key);
    migrationSource_->synchronize();
}

std::optional<foundation::PropertyListValue>
BBXUserDefaults::objectForKeyByMigratingFromNSUserDefaults(const std::string& key)
{
    if (auto value = objectForKey(key))
        return value;
    if (!migrationSource_)
        return std::nullopt;
    auto value = migrationSource_->objectForKey(key);
    if (!value || value->isNull())
        return std::nullopt;
    setObject(*value, key);
    synchronize();
    migrationSource_->removeObjectForKey(key);
    migrationSource_->synchronize();
    return value;
}

std::filesystem::path
BBXUserDefaults::generateDirectoryURLForBaseURL(const std::filesystem::path& base,
                                                const std::optional<std::string>& hostAppBundleIdentifier)
{
    std::filesystem::path directory = base;
    if (hostAppBundleIdentifier) {
        std::string escaped = *hostAppBundleIdentifier;
        std::replace(escaped.begin(), escaped.end(), '/', '_');
        if (!escaped.empty())
            directory /= escaped;
    }
    return directory / "com.faultmere";
}

std::filesystem::path BBXUserDefaults::generateDirectoryURL()
{
    return generateDirectoryURLForBaseURL(foundation::MainBundle::applicationSupportDirectory(),
                                          getEscapedAppBundleIdentifier());
}

std::optional<std::string> BBXUserDefaults::getEscapedAppBundleIdentifier()
{
    return KSTEscapedBundleIdentifier();
}

} // namespace kits
