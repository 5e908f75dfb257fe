// The kits' own small key-value store, kept apart from the application's defaults in an XML
// property list at <application support>/<escaped bundle identifier>/com.faultmere/BBXUserDefaults.plist.
// Values change in memory; only synchronize() writes the file (a temporary name, then a rename).
// Any thread may call it: the access lock guards the values, the io lock the file, and when both are
// held they are taken in that order (access, then io).
#pragma once

#include "foundation/property_list.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kits {

// The host's own defaults, which older versions of the kits wrote into; values found there are moved
// into the kits' store. The host may supply one; without it nothing is migrated.
class BBXMigrationSource {
public:
    virtual ~BBXMigrationSource() = default;
    virtual std::optional<foundation::PropertyListValue> objectForKey(const std::string& key) = 0;
    virtual void removeObjectForKey(const std::string& key) = 0;
    virtual void synchronize() = 0;
};

class BBXUserDefaults {
public:
    // The one store of the process, in the main bundle's application-support folder, migrating from
    // the source set before its first use.
    static BBXUserDefaults& standardUserDefaults();
    static void setStandardMigrationSource(std::shared_ptr<BBXMigrationSource> source);

    // A store under `baseDirectory` for the given bundle identifier (tests; the kits use the standard one).
    BBXUserDefaults(const std::filesystem::path& baseDirectory,
                    const std::optional<std::string>& hostAppBundleIdentifier,
                    std::shared_ptr<BBXMigrationSource> migrationSource = nullptr);
    BBXUserDefaults(const BBXUserDefaults&) = delete;
    BBXUserDefaults& operator=(const BBXUserDefaults&) = delete;

    const std::filesystem::path& directoryURL() const { return directoryURL_; }
    const std::filesystem::path& fileURL() const { return fileURL_; }

    std::optional<foundation::PropertyListValue> objectForKey(const std::string& key) const;
    // The value when it is a string, else nothing.
    std::optional<std::string> stringForKey(const std::string& key) const;
    // The value's Boolean value when it is a Boolean or a number, else false.
    bool boolForKey(const std::string& key) const;
    // Stores the value; nothing (or a null) removes the key.
    void setObject(std::optional<foundation::PropertyListValue> value, const std::string& key);
    void setString(std::optional<std::string> value, const std::string& key);
    void setBool(bool value, const std::string& key);
    void removeObjectForKey(const std::string& key);
    void removeAllObjects();
    foundation::PropertyListDictionary dictionaryRepresentation() const;

    // Writes every value to the file. Problems are logged, never raised; a failed write leaves the old
    // file. A snapshot older than one already written is not written over it.
    void synchronize();

    // Copies the listed keys that the migration source holds; when any was copied, synchronizes and
    // removes every listed key from the source.
    void migrateFromNSUserDefaults(const std::vector<std::string>& keys);
    // The value here, else the source's value moved here (written, then removed from the source).
    std::optional<foundation::PropertyListValue> objectForKeyByMigratingFromNSUserDefaults(const std::string& key);

    // <base>/<escaped identifier>/com.faultmere; the identifier's part is left out without one.
    static std::filesystem::path
    generateDirectoryURLForBaseURL(const std::filesystem::path& base,
                                   const std::optional<std::string>& hostAppBundleIdentifier);
    static std::filesystem::path generateDirectoryURL();
    static std::optional<std::string> getEscapedAppBundleIdentifier();

private:
    // The file's values: nothing when there is no file, it cannot be read, or a directory stood in its place.
    std::optional<foundation::PropertyListDictionary> loadDefaults();
    void write(const foundation::PropertyListDictionary& snapshot, std::uint64_t generation);

    std::filesystem::path directoryURL_;
    std::filesystem::path fileURL_;
    std::shared_ptr<BBXMigrationSource> migrationSource_;

    mutable std::mutex accessMutex_; // "com.faultmere.BBXUserDefaults.access": the values
    foundation::PropertyListDictionary dataDictionary_;
    std::uint64_t generation_ = 0; // counts changes, so a stale snapshot is never written over a newer one

    std::mutex ioMutex_;                  // "com.faultmere.BBXUserDefaults.io": the file
    std::uint64_t writtenGeneration_ = 0; // of the snapshot last written
};

} // namespace kits
