// A stored object: typed attribute values and relationships of one entity, owned by its context.
// A deleted object stays valid as an inert object that belongs to no context, so a view that
// still holds one never dangles; writes to it are ignored.
#pragma once

#include "data/entity_description.h"
#include "data/value.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace data {

class ObjectContext;

class Object {
public:
    Object() = default;
    virtual ~Object(); // destroys the values and relationship slots held in the context's arena
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    const EntityDescription& entity() const { return *entity_; }
    // The context the object lives in; nullptr once it is deleted.
    ObjectContext* context() const { return deleted_ ? nullptr : context_; }
    bool isDeleted() const { return deleted_; }
    // Permanent identifier, unique per entity within a store, never reused.
    std::int64_t primaryKey() const { return primaryKey_; }
    // "x-horavine://<store uuid>/<Entity>/p<key>"; stable across launches.
    std::string uriRepresentation() const;

    // Attributes.
    const Value& value(int attribute) const { return values_[attribute]; }
    const Value& value(std::string_view key) const;
    // Stores a value (absent allowed) and records the change; a value of the wrong type is a
    // programming error (std::invalid_argument).
    void setValue(int attribute, Value value);
    void setValue(std::string_view key, Value value);

    // Relationships. Setting a to-one keeps the inverse side in step; both sides count as updated.
    // By index, toOne() takes only a to-one relationship and toMany() only a to-many one.
    Object* toOne(int relationship) const { return relationships_[relationship].toOne.target; }
    Object* toOne(std::string_view key) const;
    const std::vector<Object*>& toMany(int relationship) const { return relationships_[relationship].many; }
    const std::vector<Object*>& toMany(std::string_view key) const;
    void setToOne(int relationship, Object* target);
    void setToOne(std::string_view key, Object* target);
    void addToMany(int relationship, Object* member);
    void removeFromMany(int relationship, Object* member);

    // Announces a change of a key whose stored value did not change (a derived value, or a
    // to-many set whose members changed), so observers of the context see this object as updated.
    void announceChange(int key);
    void announceChange(std::string_view key);

protected:
    // Hooks of entity classes. awakeFromInsert runs once when the object is first inserted (not
    // when undo brings it back), awakeFromFetch when it is loaded from the store, and
    // prepareForDeletion before a deletion cascades.
    virtual void awakeFromInsert() {}
    virtual void awakeFromFetch() {}
    virtual void prepareForDeletion() {}

private:
    friend class ObjectContext;

    // A slot is either side of a relationship, as its description says, never both: a to-one slot
    // holds the target and this object's index in the target's list, a to-many slot the members.
    // The context constructs and destroys the active member (24 bytes a slot instead of 40).
    union RelationshipSlot {
        struct ToOne {
            Object* target = nullptr;
            int positionInInverse = -1; // index of this object in target->many
        };
        RelationshipSlot() {}
        ~RelationshipSlot() {}
        ToOne toOne;
        std::vector<Object*> many;
    };

    const EntityDescription* entity_ = nullptr;
    ObjectContext* context_ = nullptr;
    std::int64_t primaryKey_ = 0;
    // One per attribute and one per relationship of the entity, in the context's arena.
    Value* values_ = nullptr;
    RelationshipSlot* relationships_ = nullptr;

    int liveIndex_ = -1; // position in the context's list of live objects of the entity
    // One bit each, so the header stays at 64 bytes: every loaded object carries them.
    bool deleted_ : 1 = false;
    bool inStore_ : 1 = false; // a row exists in the store as of the last save
    bool dirty_ : 1 = false;   // attributes or to-ones changed since the last save
    bool queuedForSave_ : 1 = false;
    bool pendingInserted_ : 1 = false;
    bool pendingDeleted_ : 1 = false;
    bool queuedForNotice_ : 1 = false;
    std::uint64_t pendingKeys_ = 0;
};

// Downcast helper for entity classes: nullptr when `object` is not a T.
template <typename T>
T* objectCast(Object* object)
{
    return dynamic_cast<T*>(object);
}

} // namespace data
