// The per-user defaults: typed values in a JSON file that is rewritten atomically on every change,
// over an in-memory registration domain of built-in values. Reads look at the stored value, then the
// registered one, then the caller's fall-back. Not thread-safe: main thread only.
#pragma once

#include "foundation/defaults_value.h"
#include "foundation/status.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace foundation {

class NotificationCenter;

class DefaultsStore {
public:
    // Posted after every change of a stored value, with the store as sender and userInfo
    // {"key": std::string}.
    static constexpr const char* didChangeNotification = "DefaultsDidChange";

    // Loads `file` when it exists; an empty file is an empty store. A file that cannot be read or
    // understood is reported once (stderr and loadProblem()), copied aside as
    // "<name>.corrupt-<timestamp>" (mode 0600), and left in place until the next change writes a new
    // file. The report says in plain words what is wrong, with the line and column of bad JSON.
    // Keys of a readable file whose values have no meaning here (null, nesting too deep, an integer
    // out of range) are reported once, read as absent, and written back unchanged with every save.
    explicit DefaultsStore(std::filesystem::path file);
    DefaultsStore(std::filesystem::path file, NotificationCenter& center);

    // $XDG_CONFIG_HOME/horavine/defaults.json, else ~/.config/horavine/defaults.json.
    static std::filesystem::path defaultPath();

    const std::filesystem::path& file() const { return file_; }
    // What went wrong loading the file, in words the app can show; nothing when it loaded.
    const std::optional<std::string>& loadProblem() const { return loadProblem_; }

    // Adds built-in values (replacing registered ones of the same key); they are never written.
    void registerDefaults(const std::map<std::string, DefaultsValue>& values);

    // The stored value, else the registered one.
    std::optional<DefaultsValue> object(const std::string& key) const;
    // The first of stored and registered value that `acceptable` takes.
    std::optional<DefaultsValue> object(const std::string& key,
                                        const std::function<bool(const DefaultsValue&)>& acceptable) const;

    // Reports values a reader cannot use ("\"key\" holds a text where a number belongs"), as the
    // unusable values of the file are: printed once, and gathered in loadProblem() unless the whole
    // file could not be used.
    void reportUnusableValues(const std::vector<std::string>& reasons);

    // Typed reads take the first of stored and registered values that has the asked-for type
    // (a hand-edited value of the wrong type falls back to the built-in one), else `fallback`.
    bool boolValue(const std::string& key, bool fallback = false) const;
    std::int64_t integerValue(const std::string& key, std::int64_t fallback = 0) const;
    std::optional<double> numberValue(const std::string& key) const; // integer or double, not Boolean
    std::optional<std::string> stringValue(const std::string& key) const;
    std::optional<std::vector<std::string>> stringArray(const std::string& key) const; // all elements strings

    // Store or remove a value and write the file. On a write failure (ioError, or unavailable while
    // an unreadable file must be kept) the change stays in memory and is written with the next
    // change; the message says why, file() says where. A double that is not finite cannot be written
    // as JSON and is refused (invalidArgument), storing nothing.
    Status set(const std::string& key, DefaultsValue value);
    Status remove(const std::string& key);

private:
    void load();
    // `reason` follows "The settings file <path>"; `contents` is the file as read, to copy aside.
    void reportLoadProblem(const std::string& reason, const std::optional<std::string>& contents);
    Status save();
    void postChange(const std::string& key);
    template <typename T, typename Read>
    std::optional<T> firstReadable(const std::string& key, Read read) const;

    std::filesystem::path file_;
    NotificationCenter& center_;
    std::map<std::string, DefaultsValue> stored_;
    std::map<std::string, DefaultsValue> registered_;
    // Unusable values of the loaded file as JSON text by key, kept so that a save never drops them.
    std::map<std::string, std::string> unusableKeptVerbatim_;
    std::optional<std::string> loadProblem_;
    bool fileProblem_ = false; // the whole file could not be used
    std::vector<std::string> unusableReasons_;
    bool unsavedChanges_ = false;
    // Set when a bad file could not be copied aside: writing would destroy the only copy.
    bool mustNotReplaceFile_ = false;
};

} // namespace foundation
