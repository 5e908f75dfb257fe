// The SQLite file behind a context: one table per entity (a column per attribute and per to-one
// relationship), schema versions with PRAGMA user_version and ordered migrations, an exclusive
// advisory lock, and batched writes in one transaction with cached prepared statements.
#pragma once

#include "data/entity_description.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace data {

class Object;

struct StoreError {
    enum class Code { cannotOpen, notADatabase, foreignSchema, newerVersion, locked, migrationFailed, ioError };
    Code code;
    std::string message; // one line a user can read
};

// One step that brings a store of version `toVersion - 1` to `toVersion`.
struct Migration {
    int toVersion;
    std::function<bool(sqlite3* db, std::string& error)> apply;
};

// A row as loaded: the attribute values and, per relationship, the key of the to-one target.
struct StoredRow {
    std::int64_t primaryKey;
    std::vector<Value> values;
    std::vector<std::optional<std::int64_t>> toOneKeys;
};

class SqliteStore {
public:
    struct Options {
        int schemaVersion = 1;
        std::vector<Migration> migrations; // ordered by toVersion
        std::string journalMode = "DELETE";
        // A store created by open() takes this identifier; a fresh one when empty.
        std::string identifier;
        // How long opening and writing wait for another connection's lock before they fail.
        int busyTimeoutMilliseconds = 2000;
    };

    // Why the last write failed, in the terms a user is told.
    enum class WriteProblem { none, diskFull, readOnly, busy, ioError };

    // Whether the path still names the file this store has open.
    enum class FileState { same, removed, replaced };

    // Opens or creates the store at `path` (its directory is created when missing). A file that
    // cannot be read, is no SQLite database, belongs to another schema or has a newer version is
    // left exactly as it is and yields an error; so does a store another process holds.
    static std::unique_ptr<SqliteStore> open(const std::filesystem::path& path, const ManagedObjectModel& model,
                                             const Options& options, StoreError* error);
    ~SqliteStore();

    const std::filesystem::path& path() const { return path_; }
    const std::string& uuid() const { return uuid_; }
    const ManagedObjectModel& model() const { return model_; }
    const Options& options() const { return options_; }
    sqlite3* handle() const { return db_; }

    // A file that could be opened only for reading (its mode, a read-only mount) takes no writes.
    bool isReadOnly() const;
    // Connects anew for reading and writing, keeping the lock; for a file that has become writable.
    // On failure the store stays open as before (read-only) and the error says why.
    bool reopen(std::string& error);
    // Compares the file at path() with the one held open: a stat() and an fstat(), no I/O on the data.
    FileState fileState() const;

    // Loads and checks end early, and fail, once `stop` is requested (a quit during the load): on the
    // store's connection and on the connections of their own. An empty token lets them run to the end.
    void setStopToken(std::stop_token stop);
    const std::stop_token& stopToken() const { return stop_; }

    // SQLite's quick check of the file's structure (pages, b-trees, free list; not whether indexes
    // match their tables), in time linear in the file's size; writes nothing. Nothing when the file
    // is sound, else what the check found (its first few findings, in one line).
    std::optional<std::string> quickCheck() const;
    // The same for the store file at `path` over a read-only connection of its own, opened for the
    // call, so another thread can check while the rows load (the check uses nothing of a store
    // object, which may go meanwhile); false, and nothing checked, when no connection could be opened.
    static bool quickCheckOnOwnConnection(const std::filesystem::path& path, int busyTimeoutMilliseconds,
                                          std::optional<std::string>& findings, std::stop_token stop = {});

    // Every row of an entity, in primary-key order; the sink may take the row's values. Stored values
    // of a foreign kind, and rows without a usable key, are left out and added to `unreadableValues`.
    bool loadRows(const EntityDescription& entity, const std::function<void(StoredRow&)>& sink, std::string& error,
                  std::size_t& unreadableValues);
    // The same over a read-only connection of its own, opened for the call: another thread may load
    // entities this way while loadRows() runs. Nothing may write to the store meanwhile.
    bool loadRowsOnOwnConnection(const EntityDescription& entity, const std::function<void(StoredRow&)>& sink,
                                 std::string& error, std::size_t& unreadableValues) const;
    // The next unused primary key of an entity (keys are never reused, even after deletions).
    std::int64_t nextPrimaryKey(const EntityDescription& entity) const;

    // Writes in one transaction; on failure nothing is written and the error says why.
    struct Batch {
        std::vector<const Object*> inserts;
        std::vector<const Object*> updates;
        std::vector<const Object*> deletes;
        std::vector<std::pair<int, std::int64_t>> nextKeys; // entity index -> next primary key
    };
    bool write(const Batch& batch, std::string& error);
    WriteProblem lastWriteProblem() const { return lastWriteProblem_; }
    // Sets one text row of the store's metadata table (the identifier's key is refused).
    bool writeMetadata(const std::string& key, const std::string& value, std::string& error);
    // The text rows of the metadata table of the store file at `path`, read over a read-only
    // connection of their own, without the lock and without writing; nothing when the file is no
    // store of ours that can be read.
    static std::optional<std::vector<std::pair<std::string, std::string>>>
    readMetadata(const std::filesystem::path& path);

private:
    SqliteStore(std::filesystem::path path, const ManagedObjectModel& model, const Options& options, sqlite3* db,
                int lockFd);
    static sqlite3* connect(const std::filesystem::path& path, int flags, int busyTimeoutMilliseconds,
                            std::string& error);
    bool prepareSchema(const Options& options, bool existed, StoreError* error);
    bool checkSchema(StoreError* error);
    bool createSchema(int version, std::string& error);
    bool migrate(int from, const Options& options, StoreError* error);
    bool loadMetadata(std::string& error);
    sqlite3_stmt* statement(const std::string& sql, std::string& error);
    bool bindRow(sqlite3_stmt* stmt, const Object& object, std::string& error);
    bool writeRows(const std::vector<const Object*>& deletes, const std::vector<const Object*>& inserts,
                   const std::vector<const Object*>& updates, const std::vector<std::pair<int, std::int64_t>>& nextKeys,
                   std::string& error);

    std::filesystem::path path_;
    const ManagedObjectModel& model_;
    Options options_;
    sqlite3* db_ = nullptr;
    int lockFd_ = -1;
    bool largeCache_ = false;
    WriteProblem lastWriteProblem_ = WriteProblem::none;
    std::stop_token stop_;
    std::string uuid_;
    std::vector<std::int64_t> nextKeys_;
    std::vector<std::string> insertSql_, updateSql_, deleteSql_; // per entity index
    std::vector<std::pair<std::string, sqlite3_stmt*>> statements_;
};

} // namespace data
