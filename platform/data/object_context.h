// The one context of the main thread: every object of the store lives in memory here. It inserts,
// deletes (with cascade and nullify rules), fetches with predicates and sort keys, tracks changes,
// announces them once per pass as ObjectsDidChangeNotification, records undo groups, and saves
// only the dirty rows to its SQLite store.
#pragma once

#include "data/change_set.h"
#include "data/entity_description.h"
#include "data/object.h"
#include "data/object_arena.h"
#include "data/undo_manager.h"

#include "foundation/notification_center.h"
#include "foundation/status.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace data {

class SqliteStore;

struct SortDescriptor {
    std::string key;
    bool ascending = true;
};

using Predicate = std::function<bool(const Object&)>;

class ObjectContext {
public:
    // A context without a store (nothing is saved) until attachStore() loads one.
    explicit ObjectContext(const ManagedObjectModel& model,
                           foundation::NotificationCenter& center = foundation::NotificationCenter::defaultCenter());
    ~ObjectContext();
    ObjectContext(const ObjectContext&) = delete;
    ObjectContext& operator=(const ObjectContext&) = delete;

    const ManagedObjectModel& model() const { return model_; }
    foundation::NotificationCenter& notificationCenter() const { return center_; }
    UndoManager& undoManager() { return undoManager_; }

    // What a load had to leave out: stored values of a foreign kind (read as empty) and references
    // to objects that are not there (left empty). Both are also told in a diagnostic line.
    struct LoadReport {
        std::size_t unreadableValues = 0;
        std::size_t danglingReferences = 0;
    };

    // Loads every object of `store` into an empty context; the store then receives the saves.
    bool attachStore(std::unique_ptr<SqliteStore> store, std::string& error);
    // What the load of attachStore() left out.
    const LoadReport& loadReport() const { return loadReport_; }
    SqliteStore* store() const { return store_.get(); }
    // The identifier that URIs of this context carry.
    const std::string& storeIdentifier() const { return storeIdentifier_; }

    // Inserts a new object of the entity; its awakeFromInsert runs.
    Object* insertObject(const EntityDescription& entity);
    template <typename T>
    T* insert()
    {
        return static_cast<T*>(insertObject(*model_.entity(T::entityName)));
    }
    // Deletes the object, cascading and nullifying as the schema says.
    void deleteObject(Object* object);

    // Live objects of an entity (pending inserts included, pending deletes excluded), unordered.
    const std::vector<Object*>& objects(const EntityDescription& entity) const
    {
        return live_[static_cast<std::size_t>(entity.index())];
    }
    // Filtered and sorted; absent values sort first, ties keep primary-key order.
    std::vector<Object*> fetch(const EntityDescription& entity, const Predicate& predicate = {},
                               const std::vector<SortDescriptor>& sort = {}) const;
    Object* objectWithPrimaryKey(const EntityDescription& entity, std::int64_t key) const;
    // The live object a URI names; nothing for a malformed URI, another store's, an unknown or deleted object.
    Object* objectWithURI(std::string_view uri) const;

    bool hasPendingChanges() const { return !noticeQueue_.empty(); }
    bool hasUnsavedChanges() const { return !saveQueue_.empty(); }
    // Announces the changes since the last pass (one ObjectsDidChangeNotification) and closes one
    // undo group. Changes made by observers belong to the next pass.
    void processPendingChanges();

    // Writes the dirty rows in one transaction. Returns at once when nothing changed. On failure
    // (unavailable while the file is busy, else ioError) the changes stay pending for the next save.
    foundation::Status save();

    struct CopyOptions {
        // False: a file that took the path meanwhile is left alone and the copy fails.
        bool replaceExisting = false;
        // The copy's permission bits, whatever the umask; nothing: as the umask gives them.
        std::optional<std::filesystem::perms> permissions;
        // Further rows of the copy's metadata table (key, text), such as where a copy came from.
        std::vector<std::pair<std::string, std::string>> metadata;
    };
    // Writes every live object (pending changes included), with its key and this context's store
    // identifier, to a new store file at `path`: under a temporary name first (with its permissions
    // from the start), then renamed into place, so a failure leaves nothing half-written there. Needs
    // an attached store (unavailable without one).
    foundation::Status writeCopy(const std::filesystem::path& path, const CopyOptions& options) const;
    foundation::Status writeCopy(const std::filesystem::path& path, bool replaceExisting) const
    {
        CopyOptions options;
        options.replaceExisting = replaceExisting;
        return writeCopy(path, options);
    }
    // For a store whose file was removed: writes every live object anew at the store's path (same
    // identifier, so URIs stay valid) and saves to that file from then on; nothing stays unsaved.
    // On failure the context keeps its old store and its unsaved changes.
    foundation::Status recreateStore();
    // The same in place of a store file that is there (one found damaged): the new file takes its
    // name and its permissions; the old one is never written to.
    foundation::Status rewriteStore();

private:
    friend class Object;
    friend class UndoManager;

    // Primitive operations; record undo and change marks.
    void writeValue(Object& object, int attribute, Value value);
    void writeToOne(Object& object, int relationship, Object* target);
    void linkInverse(Object& object, int relationship, Object* target);
    void unlinkInverse(Object& object, int relationship);
    void markChanged(Object& object, int key, bool dirty);
    void markOwnersChanged(Object& object);
    void queueForSave(Object& object);
    void queueForNotice(Object& object);
    void registerLive(Object& object);
    void unregisterLive(Object& object);
    void retire(Object& object);
    void unretire(Object& object);
    void removeObject(Object& object, bool cascade);
    void reinsertObject(Object& object);
    // A new object of the entity in the arena, with `values` moved in (one per attribute) or the
    // entity's initial values.
    Object* makeObject(const EntityDescription& entity, std::vector<Value>* values)
    {
        return makeObject(entity, values, arena_);
    }
    // The same in another arena (a load on another thread).
    Object* makeObject(const EntityDescription& entity, std::vector<Value>* values, ObjectArena& arena);
    void destroyObjects();
    foundation::Status replaceStoreFile(const CopyOptions& options);

    const ManagedObjectModel& model_;
    foundation::NotificationCenter& center_;
    std::unique_ptr<SqliteStore> store_;
    std::string storeIdentifier_;
    LoadReport loadReport_;
    ObjectArena arena_;
    // Every object made here is in one of these two: the live ones per entity, the deleted ones
    // (kept for undo) in one list. Objects live in the arena; the lists are how they are destroyed.
    std::vector<std::vector<Object*>> live_;
    std::vector<Object*> retired_;
    // Live objects by primary key, per entity: keys are dense and never reused, so a vector indexed
    // by key (nullptr for deleted ones) beats a hash map on memory and load time.
    // Keys past a bound (only a damaged or foreign store has them) go to a map instead.
    std::vector<std::vector<Object*>> byKey_;
    std::vector<std::unordered_map<std::int64_t, Object*>> byLargeKey_;
    std::vector<std::int64_t> nextKey_;
    std::vector<Object*> saveQueue_;
    std::vector<Object*> noticeQueue_;
    bool processing_ = false;
    UndoManager undoManager_;
};

} // namespace data
