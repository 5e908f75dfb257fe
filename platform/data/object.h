// A stored object: typed attribute values and relationships of one entity, owned by its context.
// A deleted object stays valid as an inert object that belongs to no context, so a view that
// still holds one never dangles; writes to it are ignored.
#pragma once

#include "data/entity_description.h"
#include "data/value.h"
#include "data/value_slot.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
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

    // Attributes. value() builds the value from its slot; typedValue() reads one kind without
    // copying more than asked for.
    Value value(int attribute) const;
    Value value(std::string_view key) const;
    bool hasValue(int attribute) const { return (presentValues_ >> attribute & 1u) != 0; }
    // The attribute's value when it is present and of the kind T, else nothing. T is std::int64_t,
    // double, bool, foundation::Date, foundation::Decimal, std::string, Blob, or std::string_view
    // (for a string attribute; valid until the attribute changes or the object goes).
    template <typename T>
    std::optional<T> typedValue(int attribute) const;
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

    // Replaces the attribute's slot with `value` (absent allowed), releasing what it held.
    void replaceValue(int attribute, const Value& value, ObjectArena* arena);
    friend int compareAttributeValues(const Object& left, const Object& right, int attribute);

    // Sorts objects of one entity by attributes (index, ascending), ordered as compareAttributeValues()
    // orders them; ties keep primary-key order.
    void sortByAttributes(std::vector<Object*>& objects, const std::vector<std::pair<int, bool>>& keys);
    friend void sortByAttributes(std::vector<Object*>& objects, const std::vector<std::pair<int, bool>>& keys);

    const EntityDescription* entity_ = nullptr;
    ObjectContext* context_ = nullptr;
    std::int64_t primaryKey_ = 0;
    // One per attribute and one per relationship of the entity, in the context's arena.
    ValueSlot* values_ = nullptr;
    RelationshipSlot* relationships_ = nullptr;
    std::uint64_t pendingKeys_ = 0;

    // Position in the context's list of live objects of the entity, or in its list of deleted
    // objects while deleted.
    int liveIndex_ = -1;
    // Bit fields, so the header stays at 64 bytes: every loaded object carries them.
    std::uint32_t presentValues_ : EntityDescription::maxAttributes = 0; // bit a: attribute a has a value
    bool deleted_ : 1 = false;
    bool inStore_ : 1 = false; // a row exists in the store as of the last save
    bool dirty_ : 1 = false;   // attributes or to-ones changed since the last save
    bool queuedForSave_ : 1 = false;
    bool pendingInserted_ : 1 = false;
    bool pendingDeleted_ : 1 = false;
    bool queuedForNotice_ : 1 = false;
};

// Three-way order of one attribute of two objects of the same entity, as compareValues() orders
// their values, without building them.
int compareAttributeValues(const Object& left, const Object& right, int attribute);

// Sorts objects of one entity by attributes (index, ascending), ordered as compareAttributeValues()
// orders them; ties keep primary-key order.
void sortByAttributes(std::vector<Object*>& objects, const std::vector<std::pair<int, bool>>& keys);

template <typename T>
std::optional<T> Object::typedValue(int attribute) const
{
    if (!hasValue(attribute))
        return std::nullopt;
    const AttributeType type = entity_->attributeType(attribute);
    const ValueSlot& slot = values_[attribute];
    if constexpr (std::is_same_v<T, std::int64_t>)
        return type == AttributeType::integer ? std::optional<T>(slot.integer) : std::nullopt;
    else if constexpr (std::is_same_v<T, double>)
        return type == AttributeType::real ? std::optional<T>(slot.real) : std::nullopt;
    else if constexpr (std::is_same_v<T, bool>)
        return type == AttributeType::boolean ? std::optional<T>(slot.boolean) : std::nullopt;
    else if constexpr (std::is_same_v<T, foundation::Date>)
        return type == AttributeType::date ? std::optional<T>(T(std::chrono::microseconds(slot.integer)))
                                           : std::nullopt;
    else if constexpr (std::is_same_v<T, foundation::Decimal>)
        return type == AttributeType::decimal ? std::optional<T>(slot.decimal->value) : std::nullopt;
    else if constexpr (std::is_same_v<T, std::string_view>)
        return type == AttributeType::string ? std::optional<T>(slot.bytes->view()) : std::nullopt;
    else if constexpr (std::is_same_v<T, std::string>)
        return type == AttributeType::string ? std::optional<T>(std::string(slot.bytes->view())) : std::nullopt;
    else {
        static_assert(std::is_same_v<T, Blob>, "not a kind of stored value");
        if (type != AttributeType::binary)
            return std::nullopt;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(slot.bytes->data());
        return Blob(bytes, bytes + slot.bytes->size);
    }
}

// Downcast helper for entity classes: nullptr when `object` is not a T.
template <typename T>
T* objectCast(Object* object)
{
    return dynamic_cast<T*>(object);
}

} // namespace data
