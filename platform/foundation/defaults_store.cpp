// Loads and atomically rewrites the defaults JSON file, keeps a bad file aside instead of
// overwriting it, and resolves reads through stored and registered values.
#include "foundation/defaults_store.h"

#include "foundation/clock.h"
#include "foundation/diagnostics.h"
#include "foundation/notification_center.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <pwd.h>
#include <unistd.h>

namespace foundation {

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

// Deeper nesting than any setting needs; bounds the recursion over a hand-edited file.
constexpr int maxNestingDepth = 64;

std::optional<DefaultsValue> fromJson(const Json& json, int depth, std::string& problem)
{
    if (depth > maxNestingDepth) {
        problem = "holds lists or groups nested too deeply";
        return std::nullopt;
    }
    switch (json.type()) {
    case Json::value_t::boolean: return DefaultsValue(json.get<bool>());
    case Json::value_t::number_integer: return DefaultsValue(json.get<std::int64_t>());
    case Json::value_t::number_unsigned: {
        const auto value = json.get<std::uint64_t>();
        if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            problem = "holds a number too large to use";
            return std::nullopt;
        }
        return DefaultsValue(static_cast<std::int64_t>(value));
    }
    case Json::value_t::number_float: return DefaultsValue(json.get<double>());
    case Json::value_t::string: return DefaultsValue(json.get<std::string>());
    case Json::value_t::array: {
        DefaultsArray array;
        for (const auto& element : json) {
            auto value = fromJson(element, depth + 1, problem);
            if (!value)
                return std::nullopt;
            array.push_back(std::move(*value));
        }
        return DefaultsValue(std::move(array));
    }
    case Json::value_t::object: {
        DefaultsDictionary dictionary;
        for (const auto& [key, element] : json.items()) {
            auto value = fromJson(element, depth + 1, problem);
            if (!value)
                return std::nullopt;
            dictionary.emplace(key, std::move(*value));
        }
        return DefaultsValue(std::move(dictionary));
    }
    default:
        problem = json.is_null() ? "holds no value (null)" : "holds a value of an unknown kind";
        return std::nullopt;
    }
}

Json toJson(const DefaultsValue& value)
{
    return std::visit(
        [](const auto& held) -> Json {
            using Held = std::decay_t<decltype(held)>;
            if constexpr (std::is_same_v<Held, DefaultsArray>) {
                Json array = Json::array();
                for (const auto& element : held)
                    array.push_back(toJson(element));
                return array;
            } else if constexpr (std::is_same_v<Held, DefaultsDictionary>) {
                Json object = Json::object();
                for (const auto& [key, element] : held)
                    object[key] = toJson(element);
                return object;
            } else {
                return Json(held);
            }
        },
        value.storage());
}

// Why `value` cannot be written as JSON and read back the same, or nothing when it can.
std::optional<std::string> unwritableReason(const DefaultsValue& value)
{
    if (const double* number = value.get<double>(); number && !std::isfinite(*number))
        return "a number that is not finite cannot be stored";
    if (const auto* array = value.get<DefaultsArray>()) {
        for (const auto& element : *array) {
            if (auto reason = unwritableReason(element))
                return reason;
        }
    }
    if (const auto* dictionary = value.get<DefaultsDictionary>()) {
        for (const auto& [key, element] : *dictionary) {
            if (auto reason = unwritableReason(element))
                return reason;
        }
    }
    try {
        (void)toJson(value).dump(); // rejects text that is not UTF-8
    } catch (const Json::exception& error) {
        return std::string("the value cannot be written as JSON: ") + error.what();
    }
    return std::nullopt;
}

std::string timestampForFileName()
{
    const auto seconds = std::chrono::floor<std::chrono::seconds>(now()).time_since_epoch().count();
    const auto time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    gmtime_r(&time, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
    return text;
}

bool writeAll(int descriptor, const std::string& data);

// Writes `contents` (the bad file as read) to "<name>.corrupt-<timestamp>" beside `file`, never
// replacing an earlier copy. The copy gets mode 0600, the mode the settings file itself is written
// with: whatever it holds stays the user's own.
std::optional<fs::path> copyAside(const fs::path& file, const std::string& contents, std::string& error)
{
    const std::string base = file.filename().string() + ".corrupt-" + timestampForFileName();
    for (int attempt = 1; attempt <= 100; ++attempt) {
        const fs::path copy = file.parent_path() / (attempt == 1 ? base : base + "-" + std::to_string(attempt));
        const int descriptor = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (descriptor < 0 && errno == EEXIST)
            continue;
        if (descriptor < 0) {
            error = std::strerror(errno);
            return std::nullopt;
        }
        const bool written = writeAll(descriptor, contents) && ::fsync(descriptor) == 0;
        if (::close(descriptor) != 0 || !written) {
            error = std::strerror(errno);
            ::unlink(copy.c_str());
            return std::nullopt;
        }
        return copy;
    }
    error = "too many earlier copies";
    return std::nullopt;
}

// Where byte `offset` of `text` lies, as a 1-based line and column.
std::pair<std::size_t, std::size_t> lineAndColumn(const std::string& text, std::size_t offset)
{
    offset = std::min(offset, text.size());
    std::size_t line = 1;
    std::size_t lineStart = 0;
    for (std::size_t index = 0; index < offset; ++index) {
        if (text[index] == '\n') {
            ++line;
            lineStart = index + 1;
        }
    }
    return {line, offset - lineStart + 1};
}

bool writeAll(int descriptor, const std::string& data)
{
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t result = ::write(descriptor, data.data() + written, data.size() - written);
        if (result < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        written += static_cast<std::size_t>(result);
    }
    return true;
}

// Writes `data` to a temporary file beside `file`, flushes it to disk and renames it into place,
// so a reader sees either the old or the new file, never a partial one.
std::optional<std::string> writeAtomically(const fs::path& file, const std::string& data)
{
    const fs::path directory = file.parent_path().empty() ? fs::path(".") : file.parent_path();
    std::error_code code;
    fs::create_directories(directory, code);
    if (code)
        return "cannot create the folder " + directory.string() + ": " + code.message();

    std::string temporary = (directory / ("." + file.filename().string() + ".tmp-XXXXXX")).string();
    const int descriptor = ::mkstemp(temporary.data());
    if (descriptor < 0)
        return "cannot create a file in " + directory.string() + ": " + std::strerror(errno);
    std::optional<std::string> failure;
    if (!writeAll(descriptor, data) || ::fsync(descriptor) != 0)
        failure = "cannot write " + temporary + ": " + std::strerror(errno);
    if (::close(descriptor) != 0 && !failure)
        failure = "cannot write " + temporary + ": " + std::strerror(errno);
    if (!failure && ::rename(temporary.c_str(), file.c_str()) != 0)
        failure = "cannot replace " + file.string() + ": " + std::strerror(errno);
    if (failure) {
        ::unlink(temporary.c_str());
        return failure;
    }
    // Make the rename itself durable; the data is already safe if this fails.
    if (const int folder = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return std::nullopt;
}

// Reads all of `file` into `contents`; the reason when it cannot be read.
std::optional<std::string> readWholeFile(const fs::path& file, std::string& contents)
{
    const int descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return std::strerror(errno);
    std::optional<std::string> failure;
    char buffer[8192];
    for (;;) {
        const ssize_t count = ::read(descriptor, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            failure = std::strerror(errno);
        if (count <= 0)
            break;
        contents.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(descriptor);
    return failure;
}

} // namespace

DefaultsStore::DefaultsStore(fs::path file) : DefaultsStore(std::move(file), NotificationCenter::defaultCenter()) {}

DefaultsStore::DefaultsStore(fs::path file, NotificationCenter& center) : file_(std::move(file)), center_(center)
{
    load();
}

fs::path DefaultsStore::defaultPath()
{
    // Relative values of XDG_CONFIG_HOME are invalid and ignored.
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && fs::path(config).is_absolute())
        return fs::path(config) / "horavine" / "defaults.json";
    fs::path home;
    if (const char* variable = std::getenv("HOME"); variable && *variable) {
        home = variable;
    } else if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) {
        home = entry->pw_dir;
    }
    return home / ".config" / "horavine" / "defaults.json";
}

void DefaultsStore::load()
{
    std::error_code code;
    const bool exists = fs::exists(file_, code);
    if (code) {
        reportLoadProblem("cannot be reached (its folder cannot be read: " + code.message() + ")", std::nullopt);
        return;
    }
    if (!exists)
        return;

    std::string contents;
    if (auto failure = readWholeFile(file_, contents)) {
        reportLoadProblem("cannot be read (" + *failure + ")", std::nullopt);
        return;
    }
    if (contents.empty())
        return; // e.g. left by a crash before the data reached the disk: nothing was stored yet
    Json root;
    try {
        root = Json::parse(contents);
    } catch (const Json::parse_error& error) {
        // The library counts the byte after the last one it read; the fault is the one before. Its
        // own message names its internals, so the user hears only where the text goes wrong.
        const auto [line, column] = lineAndColumn(contents, error.byte > 0 ? error.byte - 1 : 0);
        reportLoadProblem("is not valid JSON at line " + std::to_string(line) + ", column " + std::to_string(column),
                          contents);
        return;
    } catch (const Json::exception&) {
        reportLoadProblem("is not valid JSON", contents);
        return;
    }
    if (!root.is_object()) {
        reportLoadProblem("does not hold settings: it is valid JSON, but not a group of named values", contents);
        return;
    }
    // One unusable value costs only its own key. It is kept verbatim rather than by copying the file
    // aside: then the file itself never loses it, whatever the program writes later, and nothing
    // else has to be merged back by hand.
    std::map<std::string, DefaultsValue> loaded;
    std::vector<std::string> unusable;
    for (const auto& [key, element] : root.items()) {
        std::string problem;
        if (auto value = fromJson(element, 1, problem)) {
            loaded.emplace(key, std::move(*value));
            continue;
        }
        unusableKeptVerbatim_.emplace(key, element.dump());
        unusable.push_back("\"" + key + "\" " + problem);
    }
    stored_ = std::move(loaded);
    reportUnusableValues(unusable);
}

void DefaultsStore::reportUnusableValues(const std::vector<std::string>& reasons)
{
    if (reasons.empty())
        return;
    const auto joined = [](const std::vector<std::string>& parts) {
        std::string text;
        for (const std::string& part : parts)
            text += (text.empty() ? "" : "; ") + part;
        return text;
    };
    // Each report is printed once; the text the user sees gathers all of them.
    diagnostic("some values in the settings file " + file_.string() + " could not be used: " + joined(reasons));
    unusableReasons_.insert(unusableReasons_.end(), reasons.begin(), reasons.end());
    if (!fileProblem_)
        loadProblem_ = "Some values in the settings file " + file_.string()
                       + " could not be used: " + joined(unusableReasons_)
                       + ". Built-in values stand in for them until you change them; the other settings are used.";
}

void DefaultsStore::reportLoadProblem(const std::string& reason, const std::optional<std::string>& contents)
{
    std::string message = "The settings file " + file_.string() + " " + reason + ". ";
    std::string copyError = "it cannot be read";
    if (auto copy = contents ? copyAside(file_, *contents, copyError) : std::nullopt) {
        message += "A copy was kept at " + copy->string() + "; the built-in settings are used.";
    } else {
        // Without a copy, replacing the file could destroy the user's only version of it.
        mustNotReplaceFile_ = true;
        message += "It could not be copied aside (" + copyError
                   + "), so it is left untouched and changed settings will not be saved.";
    }
    diagnostic(message);
    fileProblem_ = true;
    loadProblem_ = std::move(message);
}

template <typename T, typename Read>
std::optional<T> DefaultsStore::firstReadable(const std::string& key, Read read) const
{
    for (const auto* domain : {&stored_, &registered_}) {
        if (auto found = domain->find(key); found != domain->end()) {
            if (std::optional<T> value = read(found->second))
                return value;
        }
    }
    return std::nullopt;
}

void DefaultsStore::registerDefaults(const std::map<std::string, DefaultsValue>& values)
{
    for (const auto& [key, value] : values)
        registered_.insert_or_assign(key, value);
}

std::optional<DefaultsValue> DefaultsStore::object(const std::string& key) const
{
    return firstReadable<DefaultsValue>(key, [](const DefaultsValue& value) { return std::optional(value); });
}

std::optional<DefaultsValue> DefaultsStore::object(const std::string& key,
                                                   const std::function<bool(const DefaultsValue&)>& acceptable) const
{
    return firstReadable<DefaultsValue>(
        key, [&](const DefaultsValue& value) { return acceptable(value) ? std::optional(value) : std::nullopt; });
}

bool DefaultsStore::boolValue(const std::string& key, bool fallback) const
{
    auto value = firstReadable<bool>(key, [](const DefaultsValue& stored) -> std::optional<bool> {
        if (const bool* held = stored.get<bool>())
            return *held;
        return std::nullopt;
    });
    return value.value_or(fallback);
}

std::int64_t DefaultsStore::integerValue(const std::string& key, std::int64_t fallback) const
{
    auto value = firstReadable<std::int64_t>(key, [](const DefaultsValue& stored) -> std::optional<std::int64_t> {
        if (const auto* held = stored.get<std::int64_t>())
            return *held;
        return std::nullopt;
    });
    return value.value_or(fallback);
}

std::optional<double> DefaultsStore::numberValue(const std::string& key) const
{
    return firstReadable<double>(key, [](const DefaultsValue& value) -> std::optional<double> {
        if (const auto* integer = value.get<std::int64_t>())
            return static_cast<double>(*integer);
        if (const auto* number = value.get<double>())
            return *number;
        return std::nullopt;
    });
}

std::optional<std::string> DefaultsStore::stringValue(const std::string& key) const
{
    return firstReadable<std::string>(key, [](const DefaultsValue& value) -> std::optional<std::string> {
        if (const auto* text = value.get<std::string>())
            return *text;
        return std::nullopt;
    });
}

std::optional<std::vector<std::string>> DefaultsStore::stringArray(const std::string& key) const
{
    using Strings = std::vector<std::string>;
    return firstReadable<Strings>(key, [](const DefaultsValue& value) -> std::optional<Strings> {
        const auto* array = value.get<DefaultsArray>();
        if (!array)
            return std::nullopt;
        Strings strings;
        for (const auto& element : *array) {
            const auto* text = element.get<std::string>();
            if (!text)
                return std::nullopt;
            strings.push_back(*text);
        }
        return strings;
    });
}

Status DefaultsStore::set(const std::string& key, DefaultsValue value)
{
    if (auto reason = unwritableReason(value))
        return Status::failure(StatusCode::invalidArgument, "\"" + key + "\" was not changed: " + *reason);
    const auto found = stored_.find(key);
    const bool changed = found == stored_.end() || !(found->second == value);
    if (!changed && !unsavedChanges_)
        return Status::success();
    stored_.insert_or_assign(key, std::move(value));
    unusableKeptVerbatim_.erase(key);
    auto result = save();
    if (changed)
        postChange(key);
    return result;
}

Status DefaultsStore::remove(const std::string& key)
{
    const bool changed = (stored_.erase(key) + unusableKeptVerbatim_.erase(key)) > 0;
    if (!changed && !unsavedChanges_)
        return Status::success();
    auto result = save();
    if (changed)
        postChange(key);
    return result;
}

Status DefaultsStore::save()
{
    unsavedChanges_ = true;
    if (mustNotReplaceFile_)
        return Status::failure(StatusCode::unavailable,
                               "the unreadable settings file is left untouched, so changes are not saved");
    Json root = Json::object();
    for (const auto& [key, value] : stored_)
        root[key] = toJson(value);
    for (const auto& [key, text] : unusableKeptVerbatim_)
        root[key] = Json::parse(text);
    if (auto failure = writeAtomically(file_, root.dump(2) + "\n")) {
        diagnostic("settings not saved: " + *failure);
        return Status::failure(StatusCode::ioError, std::move(*failure));
    }
    unsavedChanges_ = false;
    return Status::success();
}

void DefaultsStore::postChange(const std::string& key)
{
    center_.post(didChangeNotification, this, {{"key", key}});
}

} // namespace foundation
