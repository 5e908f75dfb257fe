// In-memory object graph of one store with change tracking, undo recording and batched saves.
#include "data/object_context.h"

#include "data/sqlite_store.h"

#include "foundation/diagnostics.h"
#include "foundation/uuid.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace data {
namespace {

// A table of at least this many rows loads on a thread of its own beside the others.
constexpr std::int64_t parallelLoadMinimumRows = 4096;

// Keys below this index a vector; a few million keys cost a few dozen MiB at most.
constexpr std::int64_t denseKeyLimit = std::int64_t{1} << 22;

constexpr std::uint64_t bit(int key)
{
    return std::uint64_t{1} << key;
}

int relationshipKey(const Object& object, int relationship)
{
    return static_cast<int>(object.entity().attributes().size()) + relationship;
}

} // namespace

ObjectContext::ObjectContext(const ManagedObjectModel& model, foundation::NotificationCenter& center)
    : model_(model), center_(center), storeIdentifier_(foundation::makeUuid()), live_(model.entities().size()),
      byKey_(model.entities().size()), byLargeKey_(model.entities().size()), nextKey_(model.entities().size(), 1),
      undoManager_(*this)
{}

ObjectContext::~ObjectContext()
{
    destroyObjects();
}

Object* ObjectContext::makeObject(const EntityDescription& entity, std::vector<Value>* values, ObjectArena& arena)
{
    const ObjectClass& objectClass = entity.objectClass();
    Object* object = objectClass.construct(arena.allocate(objectClass.size, objectClass.alignment));
    object->entity_ = &entity;
    object->context_ = this;
    const auto attributeCount = entity.attributes().size();
    object->values_ = static_cast<ValueSlot*>(arena.allocate(sizeof(ValueSlot) * attributeCount, alignof(ValueSlot)));
    // Loaded values stay until the context goes, so their text and decimals can sit in the arena;
    // an inserted object's values are as likely to change as not.
    for (std::size_t a = 0; a < attributeCount; ++a)
        object->replaceValue(static_cast<int>(a), values ? (*values)[a] : entity.attributes()[a].initialValue,
                             values ? &arena : nullptr);
    const auto relationshipCount = entity.relationships().size();
    object->relationships_ = static_cast<Object::RelationshipSlot*>(
        arena.allocate(sizeof(Object::RelationshipSlot) * relationshipCount, alignof(Object::RelationshipSlot)));
    for (std::size_t r = 0; r < relationshipCount; ++r) {
        if (entity.relationships()[r].toMany)
            new (&object->relationships_[r].many) std::vector<Object*>();
        else
            new (&object->relationships_[r].toOne) Object::RelationshipSlot::ToOne();
    }
    return object;
}

// Objects live in the arena: their destructors run here, their memory goes with the arena.
void ObjectContext::destroyObjects()
{
    for (auto& list : live_) {
        for (Object* object : list)
            object->~Object();
        list.clear();
    }
    for (Object* object : retired_)
        object->~Object();
    retired_.clear();
}

bool ObjectContext::attachStore(std::unique_ptr<SqliteStore> store, std::string& error)
{
    if (!store) {
        error = "no store";
        return false;
    }
    const bool empty =
        retired_.empty() && std::all_of(live_.begin(), live_.end(), [](const auto& list) { return list.empty(); });
    if (!empty || store_) {
        error = "a store can only be attached to an empty context";
        return false;
    }
    // Stored references, resolved once every object is in: one list per relationship of each
    // entity, so a pending link is 16 bytes (a million timers and pauses hold two million).
    struct PendingLink {
        Object* object;
        std::int64_t key;
    };
    std::vector<std::vector<PendingLink>> links;
    std::vector<std::size_t> firstList; // per entity, the index of its first relationship's list
    for (const auto& entity : model_.entities()) {
        firstList.push_back(links.size());
        links.resize(links.size() + entity.relationships().size());
    }
    // The largest table (a million pauses, say) loads on a thread of its own, with a connection and
    // an arena of its own, while this thread loads the others; the arena joins this context's after
    // the join. Every per-entity list (live objects, keys, pending links, next key) is written only by
    // the thread that loads the entity, and nothing else is written until the join. The table's next
    // key tells its size.
    const EntityDescription* apart = nullptr;
    for (const auto& entity : model_.entities()) {
        if (store->nextPrimaryKey(entity) >= parallelLoadMinimumRows
            && (!apart || store->nextPrimaryKey(entity) > store->nextPrimaryKey(*apart)))
            apart = &entity;
    }
    const auto loadEntity = [&](const EntityDescription& entity, ObjectArena& arena, bool ownConnection,
                                std::string& failure, std::size_t& unreadableValues) {
        const auto entityIndex = static_cast<std::size_t>(entity.index());
        // Sized once from the next key (an upper bound of the rows), so no list is regrown and
        // no regrown list leaves its old memory in the loading thread's heap.
        const auto expected = static_cast<std::size_t>(std::min(store->nextPrimaryKey(entity), denseKeyLimit));
        live_[entityIndex].reserve(expected);
        byKey_[entityIndex].resize(std::max(byKey_[entityIndex].size(), expected + 1), nullptr);
        for (std::size_t r = 0; r < entity.relationships().size(); ++r) {
            if (!entity.relationships()[r].toMany)
                links[firstList[entityIndex] + r].reserve(expected);
        }
        std::int64_t highest = 0;
        const auto sink = [&](StoredRow& row) {
            Object* object = makeObject(entity, &row.values, arena);
            object->primaryKey_ = row.primaryKey;
            object->inStore_ = true;
            for (std::size_t r = 0; r < row.toOneKeys.size(); ++r) {
                if (row.toOneKeys[r])
                    links[firstList[entityIndex] + r].push_back({object, *row.toOneKeys[r]});
            }
            highest = std::max(highest, row.primaryKey);
            registerLive(*object);
        };
        const bool loaded = ownConnection ? store->loadRowsOnOwnConnection(entity, sink, failure, unreadableValues)
                                          : store->loadRows(entity, sink, failure, unreadableValues);
        if (loaded)
            nextKey_[entityIndex] = std::max(store->nextPrimaryKey(entity), highest + 1);
        return loaded;
    };
    ObjectArena apartArena;
    std::string apartError;
    std::size_t unreadableValues = 0;
    std::size_t apartUnreadableValues = 0;
    bool apartLoaded = true;
    std::exception_ptr apartException;
    std::thread apartThread;
    if (apart) {
        try {
            apartThread = std::thread([&] {
                try {
                    apartLoaded = loadEntity(*apart, apartArena, true, apartError, apartUnreadableValues);
                } catch (...) {
                    apartException = std::current_exception();
                }
            });
        } catch (const std::system_error&) {
            apartLoaded = false; // no thread to be had: the table loads on this one below
        }
    }
    bool loaded = true;
    const EntityDescription* failed = nullptr; // the first entity this thread could not load
    std::exception_ptr exception;
    try {
        for (const auto& entity : model_.entities()) {
            if (&entity != apart && !loadEntity(entity, arena_, false, error, unreadableValues)) {
                loaded = false;
                failed = &entity;
                break;
            }
        }
    } catch (...) {
        exception = std::current_exception();
    }
    if (apartThread.joinable())
        apartThread.join();
    arena_.adopt(std::move(apartArena));
    // A table that failed on its own connection loads again here, on the store's connection, when a
    // single-thread load would have reached it: so a load fails with the same message, and for the
    // same table, as one on this thread alone.
    if (!exception && !apartException && !apartLoaded && (loaded || apart->index() < failed->index())) {
        const auto apartIndex = static_cast<std::size_t>(apart->index());
        for (Object* object : live_[apartIndex])
            object->~Object();
        live_[apartIndex].clear();
        byKey_[apartIndex].clear();
        byLargeKey_[apartIndex].clear();
        for (std::size_t r = 0; r < apart->relationships().size(); ++r)
            links[firstList[apartIndex] + r].clear();
        apartUnreadableValues = 0;
        try {
            if (std::string retryError; !loadEntity(*apart, arena_, false, retryError, apartUnreadableValues)) {
                loaded = false;
                error = std::move(retryError);
            }
        } catch (...) {
            exception = std::current_exception();
        }
    }
    if (!loaded || exception || apartException) {
        destroyObjects();
        for (auto& slots : byKey_)
            slots.clear();
        for (auto& map : byLargeKey_)
            map.clear();
        if (exception || apartException)
            std::rethrow_exception(exception ? exception : apartException);
        return false;
    }
    // Calls visit(object, relationship, inverse, target) for every pending link; the target is
    // nullptr when the stored key names no object.
    const auto forEachLink = [&](const auto& visit) {
        for (const auto& entity : model_.entities()) {
            for (std::size_t r = 0; r < entity.relationships().size(); ++r) {
                const auto& description = entity.relationships()[r];
                const auto& destination = model_.entity(description.destinationIndex);
                for (const PendingLink& link : links[firstList[static_cast<std::size_t>(entity.index())] + r])
                    visit(*link.object, static_cast<int>(r), description.inverseIndex,
                          objectWithPrimaryKey(destination, link.key));
            }
        }
    };
    // Size every to-many list once, so linking 400,000 members does not regrow thousands of lists.
    // Members per list, by entity, then live index and relationship of the target.
    std::vector<std::vector<std::uint32_t>> memberCounts(live_.size());
    for (std::size_t e = 0; e < live_.size(); ++e)
        memberCounts[e].resize(live_[e].size() * model_.entities()[e].relationships().size());
    const auto countOf = [&memberCounts](const Object& target, int inverse) -> std::uint32_t& {
        const auto& entity = target.entity();
        return memberCounts[static_cast<std::size_t>(entity.index())]
                           [static_cast<std::size_t>(target.liveIndex_) * entity.relationships().size()
                            + static_cast<std::size_t>(inverse)];
    };
    forEachLink([&](Object&, int, int inverse, Object* target) {
        if (target)
            ++countOf(*target, inverse);
    });
    forEachLink([&](Object&, int, int inverse, Object* target) {
        if (!target)
            return;
        if (std::uint32_t& count = countOf(*target, inverse); count > 0) {
            target->relationships_[static_cast<std::size_t>(inverse)].many.reserve(count);
            count = 0;
        }
    });
    memberCounts.clear();
    std::size_t dangling = 0;
    forEachLink([&](Object& object, int relationship, int, Object* target) {
        if (!target) {
            ++dangling;
            return;
        }
        object.relationships_[static_cast<std::size_t>(relationship)].toOne.target = target;
        linkInverse(object, relationship, target);
    });
    if (dangling > 0)
        foundation::diagnostic(std::to_string(dangling)
                               + " stored references point to missing objects and were left empty");
    loadReport_ = {unreadableValues + apartUnreadableValues, dangling};
    storeIdentifier_ = store->uuid();
    store_ = std::move(store);
    for (const auto& list : live_)
        for (Object* object : list)
            object->awakeFromFetch();
    return true;
}

Object* ObjectContext::insertObject(const EntityDescription& entity)
{
    if (&model_.entity(entity.index()) != &entity)
        throw std::invalid_argument("entity " + entity.name() + " is not of this context's model");
    Object& object = *makeObject(entity, nullptr);
    object.primaryKey_ = nextKey_[static_cast<std::size_t>(entity.index())]++;
    registerLive(object);
    object.pendingInserted_ = true;
    queueForNotice(object);
    object.dirty_ = true;
    queueForSave(object);
    undoManager_.record({UndoRecord::Kind::insert, -1, &object, {}, nullptr});
    object.awakeFromInsert();
    return &object;
}

void ObjectContext::deleteObject(Object* object)
{
    if (!object || object->deleted_ || object->context_ != this)
        return;
    removeObject(*object, true);
}

void ObjectContext::removeObject(Object& object, bool cascade)
{
    if (object.deleted_)
        return;
    if (cascade)
        object.prepareForDeletion();
    const auto& relationships = object.entity().relationships();
    for (std::size_t r = 0; r < relationships.size(); ++r) {
        const auto& description = relationships[r];
        auto& slot = object.relationships_[r];
        if (description.toMany) {
            // Members leave the set one by one; copy first since each removal edits the list.
            const std::vector<Object*> members = slot.many;
            for (Object* member : members) {
                if (cascade && description.deleteRule == DeleteRule::cascade)
                    removeObject(*member, true);
                else
                    writeToOne(*member, description.inverseIndex, nullptr);
            }
        } else if (slot.toOne.target) {
            writeToOne(object, static_cast<int>(r), nullptr);
        }
    }
    undoManager_.record({UndoRecord::Kind::remove, -1, &object, {}, nullptr});
    object.deleted_ = true;
    unregisterLive(object);
    retire(object);
    if (object.pendingInserted_) {
        object.pendingInserted_ = false; // inserted and deleted within one pass: nothing to announce
        object.pendingKeys_ = 0;
    } else {
        object.pendingDeleted_ = true;
        queueForNotice(object);
    }
    queueForSave(object);
}

void ObjectContext::reinsertObject(Object& object)
{
    if (!object.deleted_)
        return;
    object.deleted_ = false;
    unretire(object);
    registerLive(object);
    if (object.pendingDeleted_)
        object.pendingDeleted_ = false; // deleted and restored within one pass
    else
        object.pendingInserted_ = true;
    queueForNotice(object);
    object.dirty_ = true;
    queueForSave(object);
    undoManager_.record({UndoRecord::Kind::insert, -1, &object, {}, nullptr});
}

void ObjectContext::writeValue(Object& object, int attribute, Value value)
{
    if (object.deleted_)
        return;
    Value previous = object.value(attribute);
    if (previous == value)
        return;
    object.replaceValue(attribute, value, nullptr);
    undoManager_.record({UndoRecord::Kind::setAttribute, attribute, &object, std::move(previous), nullptr});
    markChanged(object, attribute, true);
}

void ObjectContext::writeToOne(Object& object, int relationship, Object* target)
{
    if (object.deleted_ || (target && target->deleted_))
        return;
    auto& slot = object.relationships_[static_cast<std::size_t>(relationship)].toOne;
    Object* previous = slot.target;
    if (previous == target)
        return;
    undoManager_.record({UndoRecord::Kind::setToOne, relationship, &object, {}, previous});
    unlinkInverse(object, relationship);
    slot.target = target;
    if (target)
        linkInverse(object, relationship, target);
    markChanged(object, relationshipKey(object, relationship), true);
    const int inverseKey = [&] {
        const auto& description = object.entity().relationships()[static_cast<std::size_t>(relationship)];
        const auto& destination = model_.entity(description.destinationIndex);
        return static_cast<int>(destination.attributes().size()) + description.inverseIndex;
    }();
    if (previous)
        markChanged(*previous, inverseKey, false);
    if (target)
        markChanged(*target, inverseKey, false);
}

void ObjectContext::linkInverse(Object& object, int relationship, Object* target)
{
    const auto& description = object.entity().relationships()[static_cast<std::size_t>(relationship)];
    auto& members = target->relationships_[static_cast<std::size_t>(description.inverseIndex)].many;
    object.relationships_[static_cast<std::size_t>(relationship)].toOne.positionInInverse =
        static_cast<int>(members.size());
    members.push_back(&object);
}

void ObjectContext::unlinkInverse(Object& object, int relationship)
{
    auto& slot = object.relationships_[static_cast<std::size_t>(relationship)].toOne;
    if (!slot.target)
        return;
    const auto& description = object.entity().relationships()[static_cast<std::size_t>(relationship)];
    auto& members = slot.target->relationships_[static_cast<std::size_t>(description.inverseIndex)].many;
    const auto position = static_cast<std::size_t>(slot.positionInInverse);
    // Swap-remove keeps removal O(1); a to-many set has no order of its own.
    Object* last = members.back();
    members[position] = last;
    last->relationships_[static_cast<std::size_t>(relationship)].toOne.positionInInverse = static_cast<int>(position);
    members.pop_back();
    slot.positionInInverse = -1;
}

void ObjectContext::markChanged(Object& object, int key, bool dirty)
{
    object.pendingKeys_ |= bit(key);
    queueForNotice(object);
    if (dirty) {
        object.dirty_ = true;
        queueForSave(object);
        markOwnersChanged(object);
    }
}

// A stored change of a member shows as a change of the owner's to-many key, so observers of
// a timer hear of its pauses and observers of a project of its timers.
void ObjectContext::markOwnersChanged(Object& object)
{
    const auto& relationships = object.entity().relationships();
    for (std::size_t r = 0; r < relationships.size(); ++r) {
        if (relationships[r].toMany)
            continue;
        Object* owner = object.relationships_[r].toOne.target;
        if (!owner)
            continue;
        const auto& ownerEntity = owner->entity();
        owner->pendingKeys_ |= bit(static_cast<int>(ownerEntity.attributes().size()) + relationships[r].inverseIndex);
        queueForNotice(*owner);
    }
}

void ObjectContext::queueForSave(Object& object)
{
    if (!object.queuedForSave_) {
        object.queuedForSave_ = true;
        saveQueue_.push_back(&object);
    }
}

void ObjectContext::queueForNotice(Object& object)
{
    if (!object.queuedForNotice_) {
        object.queuedForNotice_ = true;
        noticeQueue_.push_back(&object);
    }
}

void ObjectContext::registerLive(Object& object)
{
    const auto entity = static_cast<std::size_t>(object.entity().index());
    object.liveIndex_ = static_cast<int>(live_[entity].size());
    live_[entity].push_back(&object);
    if (object.primaryKey_ >= denseKeyLimit) {
        byLargeKey_[entity][object.primaryKey_] = &object;
        return;
    }
    auto& slots = byKey_[entity];
    const auto key = static_cast<std::size_t>(object.primaryKey_);
    if (key >= slots.size())
        slots.resize(std::max(key + 1, slots.size() * 3 / 2), nullptr);
    slots[key] = &object;
}

void ObjectContext::unregisterLive(Object& object)
{
    const auto entity = static_cast<std::size_t>(object.entity().index());
    auto& list = live_[entity];
    const auto position = static_cast<std::size_t>(object.liveIndex_);
    Object* last = list.back();
    list[position] = last;
    last->liveIndex_ = static_cast<int>(position);
    list.pop_back();
    object.liveIndex_ = -1;
    if (object.primaryKey_ >= denseKeyLimit)
        byLargeKey_[entity].erase(object.primaryKey_);
    else
        byKey_[entity][static_cast<std::size_t>(object.primaryKey_)] = nullptr;
}

void ObjectContext::retire(Object& object)
{
    object.liveIndex_ = static_cast<int>(retired_.size());
    retired_.push_back(&object);
}

void ObjectContext::unretire(Object& object)
{
    const auto position = static_cast<std::size_t>(object.liveIndex_);
    Object* last = retired_.back();
    retired_[position] = last;
    last->liveIndex_ = static_cast<int>(position);
    retired_.pop_back();
    object.liveIndex_ = -1;
}

std::vector<Object*> ObjectContext::fetch(const EntityDescription& entity, const Predicate& predicate,
                                          const std::vector<SortDescriptor>& sort) const
{
    std::vector<Object*> result;
    for (Object* object : objects(entity)) {
        if (!predicate || predicate(*object))
            result.push_back(object);
    }
    std::vector<std::pair<int, bool>> keys;
    for (const auto& descriptor : sort) {
        const int index = entity.attributeIndex(descriptor.key);
        if (index < 0)
            throw std::invalid_argument("cannot sort " + entity.name() + " by " + descriptor.key);
        keys.emplace_back(index, descriptor.ascending);
    }
    sortByAttributes(result, keys);
    return result;
}

Object* ObjectContext::objectWithPrimaryKey(const EntityDescription& entity, std::int64_t key) const
{
    const auto index = static_cast<std::size_t>(entity.index());
    if (key >= denseKeyLimit) {
        auto found = byLargeKey_[index].find(key);
        return found == byLargeKey_[index].end() ? nullptr : found->second;
    }
    const auto& slots = byKey_[index];
    return key > 0 && static_cast<std::uint64_t>(key) < slots.size() ? slots[static_cast<std::size_t>(key)] : nullptr;
}

Object* ObjectContext::objectWithURI(std::string_view uri) const
{
    constexpr std::string_view scheme = "x-horavine://";
    if (uri.substr(0, scheme.size()) != scheme)
        return nullptr;
    uri.remove_prefix(scheme.size());
    const auto firstSlash = uri.find('/');
    if (firstSlash == std::string_view::npos || uri.substr(0, firstSlash) != storeIdentifier_)
        return nullptr;
    uri.remove_prefix(firstSlash + 1);
    const auto secondSlash = uri.find('/');
    if (secondSlash == std::string_view::npos)
        return nullptr;
    const EntityDescription* entity = model_.entity(uri.substr(0, secondSlash));
    std::string_view key = uri.substr(secondSlash + 1);
    if (!entity || key.size() < 2 || key[0] != 'p')
        return nullptr;
    key.remove_prefix(1);
    std::int64_t primaryKey = 0;
    const auto [end, status] = std::from_chars(key.data(), key.data() + key.size(), primaryKey);
    if (status != std::errc() || end != key.data() + key.size() || primaryKey <= 0)
        return nullptr;
    return objectWithPrimaryKey(*entity, primaryKey);
}

void ObjectContext::processPendingChanges()
{
    if (processing_)
        return;
    processing_ = true;
    std::vector<Object*> queue;
    queue.swap(noticeQueue_);
    auto changes = std::make_shared<ChangeSet>();
    for (Object* object : queue) {
        object->queuedForNotice_ = false;
        if (object->pendingInserted_ && !object->deleted_) {
            changes->inserted.push_back(object);
        } else if (object->pendingDeleted_ && object->deleted_) {
            changes->deleted.push_back(object);
        } else if (object->pendingKeys_ != 0 && !object->deleted_) {
            changes->updated.push_back(object);
            changes->updatedKeys.emplace(object, object->pendingKeys_);
        }
        object->pendingInserted_ = object->pendingDeleted_ = false;
        object->pendingKeys_ = 0;
    }
    undoManager_.closeGroup();
    processing_ = false;
    if (!changes->empty()) {
        center_.post(ObjectsDidChangeNotification, this,
                     {{"changes", std::shared_ptr<const ChangeSet>(std::move(changes))}});
    }
}

foundation::Status ObjectContext::save()
{
    if (saveQueue_.empty())
        return foundation::Status::success();
    if (store_) {
        SqliteStore::Batch batch;
        for (const Object* object : saveQueue_) {
            if (object->deleted_) {
                if (object->inStore_)
                    batch.deletes.push_back(object);
            } else if (!object->inStore_) {
                batch.inserts.push_back(object);
            } else if (object->dirty_) {
                batch.updates.push_back(object);
            }
        }
        for (const auto& entity : model_.entities())
            batch.nextKeys.emplace_back(entity.index(), nextKey_[static_cast<std::size_t>(entity.index())]);
        std::string message;
        if (!store_->write(batch, message)) {
            const bool busy = store_->lastWriteProblem() == SqliteStore::WriteProblem::busy;
            return foundation::Status::failure(
                busy ? foundation::StatusCode::unavailable : foundation::StatusCode::ioError, std::move(message));
        }
    }
    for (Object* object : saveQueue_) {
        object->inStore_ = !object->deleted_;
        object->dirty_ = false;
        object->queuedForSave_ = false;
    }
    saveQueue_.clear();
    return foundation::Status::success();
}

foundation::Status ObjectContext::writeCopy(const std::filesystem::path& path, const CopyOptions& copyOptions) const
{
    if (!store_)
        return foundation::Status::failure(foundation::StatusCode::unavailable, "there is no store to copy");
    const bool replaceExisting = copyOptions.replaceExisting;
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    const std::filesystem::path temporary =
        path.parent_path() / ("." + path.filename().string() + "." + foundation::makeUuid() + ".tmp");
    auto discardTemporary = [&] {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        std::filesystem::remove(std::filesystem::path(temporary.string() + "-journal"), ignored);
    };
    if (copyOptions.permissions) {
        // Made empty with its permissions before SQLite writes a byte (its journal takes the same ones),
        // so the data is never readable by more people than it should be.
        const auto mode = static_cast<mode_t>(*copyOptions.permissions);
        const int made = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (made < 0 || ::fchmod(made, mode) != 0) {
            const std::string why = std::strerror(errno);
            if (made >= 0)
                ::close(made);
            discardTemporary();
            return foundation::Status::failure(foundation::StatusCode::ioError, why);
        }
        ::close(made);
    }
    SqliteStore::Options options = store_->options();
    options.identifier = storeIdentifier_;
    StoreError openError{};
    auto copy = SqliteStore::open(temporary, model_, options, &openError);
    if (!copy) {
        discardTemporary();
        return foundation::Status::failure(foundation::StatusCode::ioError, openError.message);
    }
    SqliteStore::Batch batch;
    for (const auto& objects : live_)
        batch.inserts.insert(batch.inserts.end(), objects.begin(), objects.end());
    for (const auto& entity : model_.entities())
        batch.nextKeys.emplace_back(entity.index(), nextKey_[static_cast<std::size_t>(entity.index())]);
    std::string error;
    bool written = copy->write(batch, error);
    for (const auto& [key, value] : copyOptions.metadata) {
        if (written)
            written = copy->writeMetadata(key, value, error);
    }
    copy.reset(); // closes the connection and drops its lock before the file moves
    if (!written) {
        discardTemporary();
        return foundation::Status::failure(foundation::StatusCode::ioError, std::move(error));
    }
    int renamed = replaceExisting ? ::rename(temporary.c_str(), path.c_str())
                                  : ::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE);
    if (renamed != 0 && !replaceExisting && errno == EINVAL) {
        // A file system without no-replace renames: a hard link fails just the same on an existing name.
        renamed = ::link(temporary.c_str(), path.c_str());
        if (renamed == 0)
            ::unlink(temporary.c_str());
    }
    if (renamed != 0) {
        std::string why = errno == EEXIST ? "another file took its name meanwhile" : std::strerror(errno);
        discardTemporary();
        return foundation::Status::failure(foundation::StatusCode::ioError, std::move(why));
    }
    // The rename is durable only once the folder is synced.
    if (const int folder =
            ::open(path.parent_path().empty() ? "." : path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return foundation::Status::success();
}

foundation::Status ObjectContext::recreateStore()
{
    return replaceStoreFile(CopyOptions{});
}

foundation::Status ObjectContext::rewriteStore()
{
    if (!store_)
        return foundation::Status::failure(foundation::StatusCode::unavailable, "there is no store");
    std::error_code ec;
    const auto permissions = std::filesystem::status(store_->path(), ec).permissions();
    if (ec)
        return foundation::Status::failure(foundation::StatusCode::ioError, ec.message());
    CopyOptions options;
    options.replaceExisting = true;
    options.permissions = permissions & std::filesystem::perms::mask;
    return replaceStoreFile(options);
}

foundation::Status ObjectContext::replaceStoreFile(const CopyOptions& copyOptions)
{
    if (!store_)
        return foundation::Status::failure(foundation::StatusCode::unavailable, "there is no store");
    const std::filesystem::path path = store_->path();
    if (foundation::Status copied = writeCopy(path, copyOptions); !copied.isOk())
        return copied;
    SqliteStore::Options options = store_->options();
    options.identifier = storeIdentifier_;
    StoreError openError{};
    auto fresh = SqliteStore::open(path, model_, options, &openError);
    if (!fresh)
        return foundation::Status::failure(foundation::StatusCode::ioError, openError.message);
    store_ = std::move(fresh);
    const auto written = [](Object& object) {
        object.inStore_ = !object.deleted_;
        object.dirty_ = false;
        object.queuedForSave_ = false;
    };
    for (const auto& list : live_)
        for (Object* object : list)
            written(*object);
    for (Object* object : retired_)
        written(*object);
    saveQueue_.clear();
    return foundation::Status::success();
}

} // namespace data
