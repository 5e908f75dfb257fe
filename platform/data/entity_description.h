// The schema of a store: entities with typed attributes and relationships (with inverses and
// delete rules), and the factory that makes each entity's object class.
#pragma once

#include "data/value.h"

#include <cstddef>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace data {

class Object;

struct AttributeDescription {
    std::string name;
    AttributeType type;
    Value initialValue; // the value a newly inserted object holds
};

enum class DeleteRule { nullify, cascade };

struct RelationshipDescription {
    std::string name;
    std::string destination; // entity name
    bool toMany = false;
    std::string inverse; // name of the inverse relationship in the destination
    DeleteRule deleteRule = DeleteRule::nullify;

    // Resolved by ManagedObjectModel::finalize().
    int destinationIndex = -1;
    int inverseIndex = -1;
};

// How to build the object class of an entity in memory the context provides.
struct ObjectClass {
    std::size_t size = 0;
    std::size_t alignment = 0;
    Object* (*construct)(void* memory) = nullptr;

    template <typename T>
    static ObjectClass of()
    {
        return {sizeof(T), alignof(T), [](void* memory) -> Object* { return new (memory) T(); }};
    }
};

class EntityDescription {
public:
    // Without an object class the entity's objects are plain data::Object.
    EntityDescription(std::string name, std::vector<AttributeDescription> attributes,
                      std::vector<RelationshipDescription> relationships, ObjectClass objectClass = {});

    const std::string& name() const { return name_; }
    int index() const { return index_; }
    const std::vector<AttributeDescription>& attributes() const { return attributes_; }
    AttributeType attributeType(int attribute) const { return attributeTypes_[static_cast<std::size_t>(attribute)]; }
    // An object keeps one presence bit per attribute.
    static constexpr int maxAttributes = 24;
    const std::vector<RelationshipDescription>& relationships() const { return relationships_; }

    // Attribute index or relationship index by name; -1 when there is none.
    int attributeIndex(std::string_view name) const;
    int relationshipIndex(std::string_view name) const;

    // Keys are numbered attributes first, then relationships; a change set names changed keys so.
    int keyCount() const { return static_cast<int>(attributes_.size() + relationships_.size()); }
    int keyIndex(std::string_view name) const;
    const std::string& keyName(int key) const;

    const ObjectClass& objectClass() const { return objectClass_; }

private:
    friend class ManagedObjectModel;
    std::string name_;
    int index_ = -1;
    std::vector<AttributeDescription> attributes_;
    std::vector<AttributeType> attributeTypes_; // the attributes' types, read on every value access
    std::vector<RelationshipDescription> relationships_;
    ObjectClass objectClass_;
};

// A finished set of entities. Throws std::logic_error on a malformed schema (programmer misuse).
class ManagedObjectModel {
public:
    explicit ManagedObjectModel(std::vector<EntityDescription> entities);

    const std::vector<EntityDescription>& entities() const { return entities_; }
    const EntityDescription* entity(std::string_view name) const;
    const EntityDescription& entity(int index) const { return entities_.at(static_cast<std::size_t>(index)); }

private:
    std::vector<EntityDescription> entities_;
};

} // namespace data
