// The store file: open checks that never write to a file they do not recognise, schema creation
// and migration, row loading with type checks, and transactional batched writes.
#include "data/sqlite_store.h"

#include "data/object.h"

#include "foundation/diagnostics.h"
#include "foundation/uuid.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace data {
namespace {

constexpr const char* metadataTable = "horavine_metadata";

std::string quoted(const std::string& identifier)
{
    std::string result = "\"";
    for (char c : identifier) {
        if (c == '"')
            result += '"';
        result += c;
    }
    return result + "\"";
}

const char* columnType(AttributeType type)
{
    switch (type) {
    case AttributeType::integer:
    case AttributeType::boolean:
    case AttributeType::date: return "INTEGER";
    case AttributeType::real: return "REAL";
    case AttributeType::string:
    case AttributeType::decimal: return "TEXT";
    case AttributeType::binary: return "BLOB";
    }
    return "BLOB";
}

// Columns of an entity's table, in binding order (without the primary key).
std::vector<std::string> columnNames(const EntityDescription& entity)
{
    std::vector<std::string> names;
    for (const auto& attribute : entity.attributes())
        names.push_back(attribute.name);
    for (const auto& relationship : entity.relationships())
        if (!relationship.toMany)
            names.push_back(relationship.name);
    return names;
}

bool exec(sqlite3* db, const std::string& sql, std::string& error)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        error = message ? message : sqlite3_errmsg(db);
        sqlite3_free(message);
        return false;
    }
    return true;
}

// Reads one column as the attribute's type; a value of a foreign kind reads as absent and is counted.
Value readColumn(sqlite3_stmt* stmt, int column, AttributeType type, std::size_t& mismatches)
{
    const int storage = sqlite3_column_type(stmt, column);
    if (storage == SQLITE_NULL)
        return std::monostate{};
    switch (type) {
    case AttributeType::integer:
        if (storage == SQLITE_INTEGER)
            return static_cast<std::int64_t>(sqlite3_column_int64(stmt, column));
        break;
    case AttributeType::boolean:
        if (storage == SQLITE_INTEGER)
            return sqlite3_column_int64(stmt, column) != 0;
        break;
    case AttributeType::date:
        if (storage == SQLITE_INTEGER)
            return foundation::Date(std::chrono::microseconds(sqlite3_column_int64(stmt, column)));
        if (storage == SQLITE_FLOAT) {
            const double micros = sqlite3_column_double(stmt, column);
            if (std::isfinite(micros) && std::fabs(micros) < 9.2e18)
                return foundation::Date(std::chrono::microseconds(std::llround(micros)));
        }
        break;
    case AttributeType::real:
        if (storage == SQLITE_FLOAT || storage == SQLITE_INTEGER)
            return sqlite3_column_double(stmt, column);
        break;
    case AttributeType::string:
        if (storage == SQLITE_TEXT)
            return std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)),
                               static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)));
        break;
    case AttributeType::decimal:
        if (storage == SQLITE_TEXT) {
            std::string_view text(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)),
                                  static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)));
            if (auto decimal = foundation::Decimal::parse(text))
                return *decimal;
        } else if (storage == SQLITE_INTEGER) {
            return foundation::Decimal(static_cast<std::int64_t>(sqlite3_column_int64(stmt, column)));
        } else if (storage == SQLITE_FLOAT) {
            if (auto decimal = foundation::Decimal::fromDouble(sqlite3_column_double(stmt, column)))
                return *decimal;
        }
        break;
    case AttributeType::binary:
        if (storage == SQLITE_BLOB) {
            const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt, column));
            return Blob(bytes, bytes + sqlite3_column_bytes(stmt, column));
        }
        break;
    }
    ++mismatches;
    return std::monostate{};
}

int bindValue(sqlite3_stmt* stmt, int index, const Value& value)
{
    return std::visit(
        [&](const auto& v) -> int {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>)
                return sqlite3_bind_null(stmt, index);
            else if constexpr (std::is_same_v<T, std::int64_t>)
                return sqlite3_bind_int64(stmt, index, v);
            else if constexpr (std::is_same_v<T, double>)
                return sqlite3_bind_double(stmt, index, v);
            else if constexpr (std::is_same_v<T, bool>)
                return sqlite3_bind_int64(stmt, index, v ? 1 : 0);
            else if constexpr (std::is_same_v<T, std::string>)
                return sqlite3_bind_text(stmt, index, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
            else if constexpr (std::is_same_v<T, foundation::Decimal>) {
                const std::string text = v.toString();
                return sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
            } else if constexpr (std::is_same_v<T, foundation::Date>)
                return sqlite3_bind_int64(stmt, index, v.time_since_epoch().count());
            else
                return sqlite3_bind_blob(stmt, index, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        },
        value);
}

// An object's text outlives the statement's step, so it is bound without a copy.
int bindAttribute(sqlite3_stmt* stmt, int index, const Object& object, int attribute)
{
    if (object.entity().attributeType(attribute) == AttributeType::string) {
        const auto text = object.typedValue<std::string_view>(attribute);
        return text ? sqlite3_bind_text(stmt, index, text->data(), static_cast<int>(text->size()), SQLITE_STATIC)
                    : sqlite3_bind_null(stmt, index);
    }
    return bindValue(stmt, index, object.value(attribute));
}

SqliteStore::WriteProblem classify(int code)
{
    switch (code & 0xff) {
    case SQLITE_FULL: return SqliteStore::WriteProblem::diskFull;
    case SQLITE_READONLY:
    case SQLITE_PERM: return SqliteStore::WriteProblem::readOnly;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return SqliteStore::WriteProblem::busy;
    default: return SqliteStore::WriteProblem::ioError;
    }
}

StoreError makeError(StoreError::Code code, const std::filesystem::path& path, const std::string& reason)
{
    return {code, "The store " + path.string() + " cannot be opened: " + reason};
}

} // namespace

SqliteStore::SqliteStore(std::filesystem::path path, const ManagedObjectModel& model, const Options& options,
                         sqlite3* db, int lockFd)
    : path_(std::move(path)), model_(model), options_(options), db_(db), lockFd_(lockFd),
      nextKeys_(model.entities().size(), 1)
{
    for (const auto& entity : model.entities()) {
        const auto columns = columnNames(entity);
        std::string insert = "INSERT OR REPLACE INTO " + quoted(entity.name()) + " (";
        std::string update = "UPDATE " + quoted(entity.name()) + " SET ";
        for (std::size_t i = 0; i < columns.size(); ++i) {
            insert += quoted(columns[i]) + ", ";
            update += (i ? ", " : "") + quoted(columns[i]) + "=?";
        }
        insert += "\"id\") VALUES (";
        for (std::size_t i = 0; i < columns.size(); ++i)
            insert += "?, ";
        insertSql_.push_back(insert + "?)");
        updateSql_.push_back(update + " WHERE \"id\"=?");
        deleteSql_.push_back("DELETE FROM " + quoted(entity.name()) + " WHERE \"id\"=?");
    }
}

SqliteStore::~SqliteStore()
{
    for (auto& [sql, stmt] : statements_)
        sqlite3_finalize(stmt);
    if (db_)
        sqlite3_close_v2(db_);
    if (lockFd_ >= 0)
        ::close(lockFd_); // closing the descriptor releases the lock
}

std::unique_ptr<SqliteStore> SqliteStore::open(const std::filesystem::path& path, const ManagedObjectModel& model,
                                               const Options& options, StoreError* error)
{
    auto fail = [&](StoreError::Code code, const std::string& reason) -> std::unique_ptr<SqliteStore> {
        if (error)
            *error = makeError(code, path, reason);
        return nullptr;
    };
    // SQLite says "unable to open database file" for every problem of access; the user is told
    // which permission is missing instead.
    const std::string folder = path.parent_path().empty() ? std::string(".") : path.parent_path().string();
    const auto denied = [](int code) { return code == EACCES || code == EPERM; };
    std::error_code ec;
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path(), ec);
    if (ec && denied(ec.value()))
        return fail(StoreError::Code::cannotOpen, "you may not create its folder " + folder + " (permission denied)");
    if (ec)
        return fail(StoreError::Code::ioError, "its folder cannot be created (" + ec.message() + ")");

    const bool existed = std::filesystem::exists(path, ec);
    if (ec && denied(ec.value()))
        return fail(StoreError::Code::cannotOpen, "you may not open its folder " + folder + " (permission denied)");
    if (existed && !std::filesystem::is_regular_file(path, ec))
        return fail(StoreError::Code::cannotOpen, "it is not a regular file");
    if (existed) {
        const int probe = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (probe < 0 && denied(errno))
            return fail(StoreError::Code::cannotOpen, "you may not read it (permission denied)");
        if (probe >= 0)
            ::close(probe);
    } else if (::access(folder.c_str(), W_OK | X_OK) != 0 && denied(errno)) {
        return fail(StoreError::Code::cannotOpen,
                    "it does not exist, and you may not create files in its folder " + folder + " (permission denied)");
    }
    const int flags = SQLITE_OPEN_READWRITE | (existed ? 0 : SQLITE_OPEN_CREATE);
    std::string reason;
    sqlite3* db = connect(path, flags, options.busyTimeoutMilliseconds, reason);
    if (!db)
        return fail(StoreError::Code::cannotOpen, reason);
    // One process per store, or one would overwrite changes it cannot see: an advisory lock on the
    // store file itself, so no lock file is left behind. flock() and SQLite's own fcntl() locks do
    // not meet on Linux; the descriptor stays open until after the connection closes, because
    // closing any descriptor of a file drops the process's fcntl() locks on it.
    const int lockFd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (lockFd < 0 || ::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        const bool inUse = lockFd >= 0 && errno == EWOULDBLOCK;
        const std::string lockProblem = inUse ? "it is in use by another Horavine process"
                                              : std::string("it cannot be locked (") + std::strerror(errno) + ")";
        sqlite3_close_v2(db);
        if (lockFd >= 0)
            ::close(lockFd);
        return fail(inUse ? StoreError::Code::locked : StoreError::Code::ioError, lockProblem);
    }
    std::unique_ptr<SqliteStore> store(new SqliteStore(path, model, options, db, lockFd));
    if (!store->prepareSchema(options, existed, error))
        return nullptr;
    return store;
}

sqlite3* SqliteStore::connect(const std::filesystem::path& path, int flags, int busyTimeoutMilliseconds,
                              std::string& error)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        error = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close_v2(db);
        return nullptr;
    }
    sqlite3_extended_result_codes(db, 1);
    // A backup tool or a reader holding the file for a moment makes a save wait, not fail.
    sqlite3_busy_timeout(db, busyTimeoutMilliseconds);
    return db;
}

bool SqliteStore::isReadOnly() const
{
    return sqlite3_db_readonly(db_, "main") == 1;
}

bool SqliteStore::reopen(std::string& error)
{
    std::error_code ec;
    if (!std::filesystem::exists(path_, ec)) {
        error = "the file is missing";
        return false;
    }
    sqlite3* db = connect(path_, SQLITE_OPEN_READWRITE, options_.busyTimeoutMilliseconds, error);
    if (!db)
        return false;
    if (sqlite3_db_readonly(db, "main") == 1) {
        error = "the file is still read-only";
        sqlite3_close_v2(db);
        return false;
    }
    for (auto& [sql, stmt] : statements_)
        sqlite3_finalize(stmt);
    statements_.clear();
    sqlite3_close_v2(db_);
    db_ = db;
    largeCache_ = false;
    std::string ignored;
    exec(db_, "PRAGMA journal_mode=" + options_.journalMode, ignored);
    return true;
}

SqliteStore::FileState SqliteStore::fileState() const
{
    struct stat atPath {
    }, held{};
    if (::stat(path_.c_str(), &atPath) != 0)
        return errno == ENOENT || errno == ENOTDIR ? FileState::removed : FileState::same;
    if (::fstat(lockFd_, &held) != 0)
        return FileState::same;
    return atPath.st_dev == held.st_dev && atPath.st_ino == held.st_ino ? FileState::same : FileState::replaced;
}

bool SqliteStore::prepareSchema(const Options& options, bool existed, StoreError* error)
{
    auto fail = [&](StoreError::Code code, const std::string& reason) {
        if (error)
            *error = makeError(code, path_, reason);
        return false;
    };
    // Nothing below writes before the file has been recognised: a read of the header comes first.
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &stmt, nullptr) != SQLITE_OK) {
        const int code = sqlite3_errcode(db_);
        const std::string reason = sqlite3_errmsg(db_);
        sqlite3_finalize(stmt);
        return fail((code & 0xff) == SQLITE_NOTADB ? StoreError::Code::notADatabase : StoreError::Code::cannotOpen,
                    reason);
    }
    int version = 0;
    const int step = sqlite3_step(stmt);
    if (step == SQLITE_ROW)
        version = sqlite3_column_int(stmt, 0);
    sqlite3_finalize(stmt);
    if (step != SQLITE_ROW) {
        const int code = sqlite3_errcode(db_);
        return fail((code & 0xff) == SQLITE_NOTADB ? StoreError::Code::notADatabase : StoreError::Code::cannotOpen,
                    sqlite3_errmsg(db_));
    }
    if (version > options.schemaVersion)
        return fail(StoreError::Code::newerVersion, "it was written by a newer version of Horavine (schema "
                                                        + std::to_string(version) + ", this version reads up to "
                                                        + std::to_string(options.schemaVersion) + ")");
    std::string message;
    if (version == 0) {
        int tables = 0;
        if (sqlite3_prepare_v2(db_, "SELECT count(*) FROM sqlite_master", -1, &stmt, nullptr) == SQLITE_OK
            && sqlite3_step(stmt) == SQLITE_ROW)
            tables = sqlite3_column_int(stmt, 0);
        sqlite3_finalize(stmt);
        if (tables > 0)
            return fail(StoreError::Code::foreignSchema, "it is an SQLite database of another program");
        (void)existed;
        if (!createSchema(options.schemaVersion, message))
            return fail(StoreError::Code::ioError, message);
    } else if (version < options.schemaVersion) {
        if (!migrate(version, options, error))
            return false;
    }
    if (!checkSchema(error))
        return false;
    std::string mode = options.journalMode;
    if (!exec(db_, "PRAGMA journal_mode=" + mode, message))
        return fail(StoreError::Code::ioError, message);
    if (!loadMetadata(message))
        return fail(StoreError::Code::foreignSchema, message);
    return true;
}

bool SqliteStore::createSchema(int version, std::string& error)
{
    std::string sql = "BEGIN IMMEDIATE;";
    for (const auto& entity : model_.entities()) {
        sql += "CREATE TABLE " + quoted(entity.name()) + " (\"id\" INTEGER PRIMARY KEY";
        for (const auto& attribute : entity.attributes())
            sql += ", " + quoted(attribute.name) + " " + columnType(attribute.type);
        for (const auto& relationship : entity.relationships())
            if (!relationship.toMany)
                sql += ", " + quoted(relationship.name) + " INTEGER";
        sql += ");";
    }
    sql += std::string("CREATE TABLE ") + metadataTable + " (key TEXT PRIMARY KEY, value);";
    std::string identifier = options_.identifier.empty() ? foundation::makeUuid() : options_.identifier;
    std::string literal = "'";
    for (char c : identifier)
        literal += c == '\'' ? std::string("''") : std::string(1, c);
    sql += std::string("INSERT INTO ") + metadataTable + " VALUES ('uuid', " + literal + "');";
    sql += "PRAGMA user_version=" + std::to_string(version) + ";COMMIT;";
    if (!exec(db_, sql, error)) {
        std::string ignored;
        exec(db_, "ROLLBACK", ignored);
        return false;
    }
    return true;
}

bool SqliteStore::checkSchema(StoreError* error)
{
    for (const auto& entity : model_.entities()) {
        sqlite3_stmt* stmt = nullptr;
        const std::string sql = "SELECT name FROM pragma_table_info(" + quoted(entity.name()) + ")";
        std::vector<std::string> present;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK) {
            while (sqlite3_step(stmt) == SQLITE_ROW)
                present.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
        }
        sqlite3_finalize(stmt);
        auto expected = columnNames(entity);
        expected.push_back("id");
        for (const auto& column : expected) {
            if (std::find(present.begin(), present.end(), column) == present.end()) {
                if (error)
                    *error = makeError(StoreError::Code::foreignSchema, path_,
                                       "it lacks the column " + entity.name() + "." + column);
                return false;
            }
        }
    }
    return true;
}

bool SqliteStore::migrate(int from, const Options& options, StoreError* error)
{
    auto fail = [&](StoreError::Code code, const std::string& reason) {
        if (error)
            *error = makeError(code, path_, reason);
        return false;
    };
    // A copy of the old file comes first, so a migration can never cost the user their data.
    std::filesystem::path backup = path_;
    backup += ".v" + std::to_string(from) + ".backup";
    std::error_code ec;
    if (std::filesystem::exists(backup, ec)) {
        backup += "." + std::to_string(std::chrono::system_clock::now().time_since_epoch().count());
    }
    std::filesystem::copy_file(path_, backup, std::filesystem::copy_options::none, ec);
    if (ec)
        return fail(StoreError::Code::ioError, "its backup copy before the upgrade failed (" + ec.message() + ")");
    std::string message;
    if (!exec(db_, "BEGIN IMMEDIATE", message))
        return fail(StoreError::Code::migrationFailed, message);
    for (int version = from + 1; version <= options.schemaVersion; ++version) {
        auto step = std::find_if(options.migrations.begin(), options.migrations.end(),
                                 [version](const Migration& m) { return m.toVersion == version; });
        bool applied = step != options.migrations.end() && step->apply(db_, message);
        if (step == options.migrations.end())
            message = "no upgrade to schema " + std::to_string(version);
        if (applied)
            applied = exec(db_, "PRAGMA user_version=" + std::to_string(version), message);
        if (!applied) {
            std::string ignored;
            exec(db_, "ROLLBACK", ignored);
            return fail(StoreError::Code::migrationFailed, message);
        }
    }
    if (!exec(db_, "COMMIT", message)) {
        std::string ignored;
        exec(db_, "ROLLBACK", ignored);
        return fail(StoreError::Code::migrationFailed, message);
    }
    return true;
}

bool SqliteStore::loadMetadata(std::string& error)
{
    sqlite3_stmt* stmt = nullptr;
    const std::string sql = std::string("SELECT key, value FROM ") + metadataTable;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(db_);
        return false;
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        const auto* keyText = sqlite3_column_text(stmt, 0);
        if (!keyText)
            continue;
        const std::string key = reinterpret_cast<const char*>(keyText);
        if (key == "uuid" && sqlite3_column_type(stmt, 1) == SQLITE_TEXT) {
            uuid_ = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1));
        } else if (key.rfind("nextKey.", 0) == 0) {
            if (const auto* entity = model_.entity(key.substr(8)))
                nextKeys_[static_cast<std::size_t>(entity->index())] =
                    std::max<std::int64_t>(1, sqlite3_column_int64(stmt, 1));
        }
    }
    sqlite3_finalize(stmt);
    if (uuid_.empty() || uuid_.find('/') != std::string::npos) {
        error = "its identifier is missing";
        return false;
    }
    return true;
}

namespace {

bool readRows(sqlite3* db, const std::filesystem::path& path, const EntityDescription& entity,
              const std::function<void(StoredRow&)>& sink, std::string& error, std::size_t& unreadableValues)
{
    std::string sql = "SELECT \"id\"";
    for (const auto& column : columnNames(entity))
        sql += ", " + quoted(column);
    sql += " FROM " + quoted(entity.name()) + " ORDER BY \"id\"";
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        error = "The store " + path.string() + " cannot be read: " + sqlite3_errmsg(db);
        return false;
    }
    // Finalized however the walk ends: left open by a sink that throws, the read would keep the
    // file locked against writes for as long as the process runs.
    const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> finalizer(stmt, sqlite3_finalize);
    const auto& attributes = entity.attributes();
    const auto& relationships = entity.relationships();
    std::size_t mismatches = 0;
    int step;
    StoredRow row; // its key vector is reused; the values move into each new object
    while ((step = sqlite3_step(stmt)) == SQLITE_ROW) {
        if (sqlite3_column_type(stmt, 0) != SQLITE_INTEGER)
            continue;
        row.values.clear();
        row.primaryKey = sqlite3_column_int64(stmt, 0);
        if (row.primaryKey <= 0) {
            ++mismatches;
            continue;
        }
        row.values.reserve(attributes.size());
        int column = 1;
        for (const auto& attribute : attributes)
            row.values.push_back(readColumn(stmt, column++, attribute.type, mismatches));
        row.toOneKeys.assign(relationships.size(), std::nullopt);
        for (std::size_t r = 0; r < relationships.size(); ++r) {
            if (relationships[r].toMany)
                continue;
            const int storage = sqlite3_column_type(stmt, column);
            if (storage == SQLITE_INTEGER)
                row.toOneKeys[r] = sqlite3_column_int64(stmt, column);
            else if (storage != SQLITE_NULL)
                ++mismatches;
            ++column;
        }
        sink(row);
    }
    const bool done = step == SQLITE_DONE;
    if (!done)
        error = "The store " + path.string() + " cannot be read: " + sqlite3_errmsg(db);
    if (mismatches > 0)
        foundation::diagnostic(std::to_string(mismatches) + " stored values of " + entity.name()
                               + " were unreadable and read as empty");
    unreadableValues += mismatches;
    return done;
}

} // namespace

namespace {

// SQLite asks every thousand steps of a statement; a request to stop ends it with SQLITE_INTERRUPT.
void watchStop(sqlite3* db, const std::stop_token& stop)
{
    if (!stop.stop_possible()) {
        sqlite3_progress_handler(db, 0, nullptr, nullptr);
        return;
    }
    sqlite3_progress_handler(
        db, 1000, [](void* token) { return static_cast<const std::stop_token*>(token)->stop_requested() ? 1 : 0; },
        const_cast<std::stop_token*>(&stop));
}

std::optional<std::string> quickCheckOf(sqlite3* db)
{
    // Ten findings say enough; the check stops counting there.
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA quick_check(10)", -1, &stmt, nullptr) != SQLITE_OK) {
        std::string problem = sqlite3_errmsg(db);
        sqlite3_finalize(stmt);
        return problem;
    }
    std::string findings;
    int step;
    while ((step = sqlite3_step(stmt)) == SQLITE_ROW) {
        const auto* text = sqlite3_column_text(stmt, 0);
        const std::string finding = text ? reinterpret_cast<const char*>(text) : "";
        if (finding == "ok")
            continue;
        findings += (findings.empty() ? "" : "; ") + finding;
    }
    if (step != SQLITE_DONE)
        findings += (findings.empty() ? "" : "; ") + std::string(sqlite3_errmsg(db));
    sqlite3_finalize(stmt);
    if (findings.empty())
        return std::nullopt;
    std::replace(findings.begin(), findings.end(), '\n', ' ');
    return findings;
}

} // namespace

std::optional<std::string> SqliteStore::quickCheck() const
{
    return quickCheckOf(db_);
}

void SqliteStore::setStopToken(std::stop_token stop)
{
    stop_ = std::move(stop);
    watchStop(db_, stop_);
}

bool SqliteStore::quickCheckOnOwnConnection(const std::filesystem::path& path, int busyTimeoutMilliseconds,
                                            std::optional<std::string>& findings, std::stop_token stop)
{
    std::string ignored;
    sqlite3* db = connect(path, SQLITE_OPEN_READONLY, busyTimeoutMilliseconds, ignored);
    if (!db)
        return false;
    const std::unique_ptr<sqlite3, int (*)(sqlite3*)> closer(db, sqlite3_close_v2);
    watchStop(db, stop);
    findings = quickCheckOf(db);
    return !stop.stop_requested(); // what a stopped check found says nothing of the file
}

bool SqliteStore::loadRows(const EntityDescription& entity, const std::function<void(StoredRow&)>& sink,
                           std::string& error, std::size_t& unreadableValues)
{
    return readRows(db_, path_, entity, sink, error, unreadableValues);
}

bool SqliteStore::loadRowsOnOwnConnection(const EntityDescription& entity, const std::function<void(StoredRow&)>& sink,
                                          std::string& error, std::size_t& unreadableValues) const
{
    std::string reason;
    sqlite3* db = connect(path_, SQLITE_OPEN_READONLY, options_.busyTimeoutMilliseconds, reason);
    if (!db) {
        error = "The store " + path_.string() + " cannot be read: " + reason;
        return false;
    }
    const std::unique_ptr<sqlite3, int (*)(sqlite3*)> closer(db, sqlite3_close_v2); // on a throw too
    watchStop(db, stop_);
    return readRows(db, path_, entity, sink, error, unreadableValues);
}

std::int64_t SqliteStore::nextPrimaryKey(const EntityDescription& entity) const
{
    return nextKeys_[static_cast<std::size_t>(entity.index())];
}

sqlite3_stmt* SqliteStore::statement(const std::string& sql, std::string& error)
{
    for (auto& [text, stmt] : statements_)
        if (text == sql)
            return stmt;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(db_);
        sqlite3_finalize(stmt);
        return nullptr;
    }
    statements_.emplace_back(sql, stmt);
    return stmt;
}

bool SqliteStore::bindRow(sqlite3_stmt* stmt, const Object& object, std::string& error)
{
    int index = 1;
    int status = SQLITE_OK;
    const auto& entity = object.entity();
    for (std::size_t a = 0; a < entity.attributes().size() && status == SQLITE_OK; ++a)
        status = bindAttribute(stmt, index++, object, static_cast<int>(a));
    for (std::size_t r = 0; r < entity.relationships().size() && status == SQLITE_OK; ++r) {
        if (entity.relationships()[r].toMany)
            continue;
        const Object* target = object.toOne(static_cast<int>(r));
        status = target ? sqlite3_bind_int64(stmt, index, target->primaryKey()) : sqlite3_bind_null(stmt, index);
        ++index;
    }
    if (status == SQLITE_OK)
        status = sqlite3_bind_int64(stmt, index, object.primaryKey());
    if (status != SQLITE_OK)
        error = sqlite3_errmsg(db_);
    return status == SQLITE_OK;
}

bool SqliteStore::writeMetadata(const std::string& key, const std::string& value, std::string& error)
{
    if (key == "uuid") {
        error = "the identifier is not metadata to set";
        return false;
    }
    sqlite3_stmt* stmt = statement(std::string("INSERT OR REPLACE INTO ") + metadataTable + " VALUES (?, ?)", error);
    if (!stmt)
        return false;
    const bool written =
        sqlite3_bind_text(stmt, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT) == SQLITE_OK
        && sqlite3_bind_text(stmt, 2, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT) == SQLITE_OK
        && sqlite3_step(stmt) == SQLITE_DONE;
    if (!written) {
        error = sqlite3_errmsg(db_);
        lastWriteProblem_ = classify(sqlite3_extended_errcode(db_));
    }
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    return written;
}

std::optional<std::vector<std::pair<std::string, std::string>>>
SqliteStore::readMetadata(const std::filesystem::path& path)
{
    std::string ignored;
    sqlite3* db = connect(path, SQLITE_OPEN_READONLY, 0, ignored);
    if (!db)
        return std::nullopt;
    const std::unique_ptr<sqlite3, int (*)(sqlite3*)> closer(db, sqlite3_close_v2);
    sqlite3_stmt* stmt = nullptr;
    const std::string sql = std::string("SELECT key, value FROM ") + metadataTable;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt);
        return std::nullopt;
    }
    const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> finalizer(stmt, sqlite3_finalize);
    std::vector<std::pair<std::string, std::string>> rows;
    int step;
    while ((step = sqlite3_step(stmt)) == SQLITE_ROW) {
        if (sqlite3_column_type(stmt, 0) != SQLITE_TEXT || sqlite3_column_type(stmt, 1) != SQLITE_TEXT)
            continue;
        const auto text = [stmt](int column) {
            return std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)),
                               static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)));
        };
        rows.emplace_back(text(0), text(1));
    }
    if (step != SQLITE_DONE)
        return std::nullopt;
    return rows;
}

bool SqliteStore::write(const Batch& batch, std::string& error)
{
    // Rows in table and key order touch the file's pages in order, which keeps large batches
    // (an undone deletion of thousands of timers) from thrashing the page cache.
    auto ordered = [](std::vector<const Object*> objects) {
        std::sort(objects.begin(), objects.end(), [](const Object* a, const Object* b) {
            return std::pair(a->entity().index(), a->primaryKey()) < std::pair(b->entity().index(), b->primaryKey());
        });
        return objects;
    };
    // A large batch (an undone deletion of thousands of timers) needs room for every page it
    // touches, or SQLite spills pages and syncs the journal in the middle of the transaction. The
    // larger cache stays afterwards: faulting its memory in again for the next large batch (its redo,
    // typically) would cost more than the tens of MiB it keeps.
    const std::size_t rows = batch.inserts.size() + batch.updates.size() + batch.deletes.size();
    std::string ignored;
    if (rows > 1000 && !largeCache_)
        largeCache_ = exec(db_, "PRAGMA cache_size=-131072", ignored);
    const bool ok =
        writeRows(ordered(batch.deletes), ordered(batch.inserts), ordered(batch.updates), batch.nextKeys, error);
    // Statements bind object values without copying them; drop those pointers with the batch.
    for (auto& [sql, stmt] : statements_)
        sqlite3_clear_bindings(stmt);
    if (ok)
        for (const auto& [entityIndex, next] : batch.nextKeys)
            nextKeys_[static_cast<std::size_t>(entityIndex)] = next;
    return ok;
}

bool SqliteStore::writeRows(const std::vector<const Object*>& deletes, const std::vector<const Object*>& inserts,
                            const std::vector<const Object*>& updates,
                            const std::vector<std::pair<int, std::int64_t>>& nextKeys, std::string& error)
{
    if (!exec(db_, "BEGIN IMMEDIATE", error)) {
        lastWriteProblem_ = classify(sqlite3_extended_errcode(db_));
        return false;
    }
    auto run = [&](sqlite3_stmt* stmt) {
        const int status = sqlite3_step(stmt);
        if (status != SQLITE_DONE)
            error = sqlite3_errmsg(db_);
        sqlite3_reset(stmt);
        return status == SQLITE_DONE;
    };
    bool ok = true;
    for (const Object* object : deletes) {
        sqlite3_stmt* stmt = statement(deleteSql_[static_cast<std::size_t>(object->entity().index())], error);
        ok = stmt && sqlite3_bind_int64(stmt, 1, object->primaryKey()) == SQLITE_OK && run(stmt);
        if (!ok)
            break;
    }
    auto writeAll = [&](const std::vector<const Object*>& objects, const std::vector<std::string>& sql) {
        const EntityDescription* lastEntity = nullptr;
        sqlite3_stmt* stmt = nullptr;
        for (const Object* object : objects) {
            if (&object->entity() != lastEntity) {
                lastEntity = &object->entity();
                stmt = statement(sql[static_cast<std::size_t>(lastEntity->index())], error);
            }
            if (!stmt || !bindRow(stmt, *object, error) || !run(stmt))
                return false;
        }
        return true;
    };
    ok = ok && writeAll(inserts, insertSql_) && writeAll(updates, updateSql_);
    for (const auto& [entityIndex, next] : nextKeys) {
        if (!ok)
            break;
        sqlite3_stmt* stmt =
            statement(std::string("INSERT OR REPLACE INTO ") + metadataTable + " VALUES (?, ?)", error);
        const std::string key = "nextKey." + model_.entity(entityIndex).name();
        ok = stmt && sqlite3_bind_text(stmt, 1, key.c_str(), -1, SQLITE_TRANSIENT) == SQLITE_OK
             && sqlite3_bind_int64(stmt, 2, next) == SQLITE_OK && run(stmt);
    }
    std::string ignored;
    if (!ok || !exec(db_, "COMMIT", error)) {
        lastWriteProblem_ = classify(sqlite3_extended_errcode(db_));
        exec(db_, "ROLLBACK", ignored);
        return false;
    }
    lastWriteProblem_ = WriteProblem::none;
    return true;
}

} // namespace data
