// Schema lookups and the consistency checks of a model (inverses must pair up).
#include "data/entity_description.h"

#include "data/object.h"

#include <stdexcept>

namespace data {

EntityDescription::EntityDescription(std::string name, std::vector<AttributeDescription> attributes,
                                     std::vector<RelationshipDescription> relationships, ObjectClass objectClass)
    : name_(std::move(name)), attributes_(std::move(attributes)), relationships_(std::move(relationships)),
      objectClass_(objectClass.construct ? objectClass : ObjectClass::of<Object>())
{
    if (keyCount() > 64)
        throw std::logic_error("entity " + name_ + " has more than 64 keys");
    if (attributes_.size() > static_cast<std::size_t>(maxAttributes))
        throw std::logic_error("entity " + name_ + " has more than " + std::to_string(maxAttributes) + " attributes");
    for (const auto& attribute : attributes_) {
        attributeTypes_.push_back(attribute.type);
        if (!valueMatchesType(attribute.initialValue, attribute.type))
            throw std::logic_error("initial value of " + name_ + "." + attribute.name + " has the wrong type");
    }
}

int EntityDescription::attributeIndex(std::string_view name) const
{
    for (std::size_t i = 0; i < attributes_.size(); ++i)
        if (attributes_[i].name == name)
            return static_cast<int>(i);
    return -1;
}

int EntityDescription::relationshipIndex(std::string_view name) const
{
    for (std::size_t i = 0; i < relationships_.size(); ++i)
        if (relationships_[i].name == name)
            return static_cast<int>(i);
    return -1;
}

int EntityDescription::keyIndex(std::string_view name) const
{
    if (int a = attributeIndex(name); a >= 0)
        return a;
    if (int r = relationshipIndex(name); r >= 0)
        return static_cast<int>(attributes_.size()) + r;
    return -1;
}

const std::string& EntityDescription::keyName(int key) const
{
    const auto attributeCount = static_cast<int>(attributes_.size());
    if (key < attributeCount)
        return attributes_.at(static_cast<std::size_t>(key)).name;
    return relationships_.at(static_cast<std::size_t>(key - attributeCount)).name;
}

ManagedObjectModel::ManagedObjectModel(std::vector<EntityDescription> entities) : entities_(std::move(entities))
{
    for (std::size_t i = 0; i < entities_.size(); ++i)
        entities_[i].index_ = static_cast<int>(i);
    for (auto& entity : entities_) {
        for (auto& relationship : entity.relationships_) {
            const EntityDescription* destination = this->entity(relationship.destination);
            if (!destination)
                throw std::logic_error("unknown destination " + relationship.destination);
            relationship.destinationIndex = destination->index();
            relationship.inverseIndex = destination->relationshipIndex(relationship.inverse);
            if (relationship.inverseIndex < 0)
                throw std::logic_error("missing inverse " + relationship.inverse + " of " + entity.name() + "."
                                       + relationship.name);
            const auto& inverse = destination->relationships()[static_cast<std::size_t>(relationship.inverseIndex)];
            if (inverse.inverse != relationship.name || inverse.destination != entity.name())
                throw std::logic_error("inverse of " + entity.name() + "." + relationship.name + " does not pair up");
            // Only one-to-many pairs: the to-one side is the stored column and the undo record.
            if (relationship.toMany == inverse.toMany)
                throw std::logic_error("only one-to-many relationships are supported: " + relationship.name);
        }
    }
}

const EntityDescription* ManagedObjectModel::entity(std::string_view name) const
{
    for (const auto& entity : entities_)
        if (entity.name() == name)
            return &entity;
    return nullptr;
}

} // namespace data
