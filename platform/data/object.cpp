// Name-based access and the write paths of a stored object; the context does the bookkeeping.
#include "data/object.h"

#include "data/object_context.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace data {
namespace {

int requireAttribute(const EntityDescription& entity, std::string_view key)
{
    const int index = entity.attributeIndex(key);
    if (index < 0)
        throw std::invalid_argument(entity.name() + " has no attribute " + std::string(key));
    return index;
}

int requireRelationship(const EntityDescription& entity, std::string_view key)
{
    const int index = entity.relationshipIndex(key);
    if (index < 0)
        throw std::invalid_argument(entity.name() + " has no relationship " + std::string(key));
    return index;
}

} // namespace

// Every loaded object carries this header: keep it to one cache line.
static_assert(sizeof(Object) <= 64);

Object::~Object()
{
    if (!entity_)
        return;
    if (values_)
        for (std::size_t a = 0; a < entity_->attributes().size(); ++a)
            if (hasValue(static_cast<int>(a)))
                releaseValue(values_[a], entity_->attributeType(static_cast<int>(a)));
    if (relationships_) {
        const auto& relationships = entity_->relationships();
        for (std::size_t r = 0; r < relationships.size(); ++r) {
            if (relationships[r].toMany)
                std::destroy_at(&relationships_[r].many);
            else
                std::destroy_at(&relationships_[r].toOne);
        }
    }
}

std::string Object::uriRepresentation() const
{
    return "x-horavine://" + context_->storeIdentifier() + "/" + entity_->name() + "/p" + std::to_string(primaryKey_);
}

Value Object::value(int attribute) const
{
    if (!hasValue(attribute))
        return std::monostate{};
    return loadValue(values_[attribute], entity_->attributeType(attribute));
}

Value Object::value(std::string_view key) const
{
    return value(requireAttribute(*entity_, key));
}

void Object::replaceValue(int attribute, const Value& value, ObjectArena* arena)
{
    const AttributeType type = entity_->attributeType(attribute);
    ValueSlot& slot = values_[attribute];
    ValueSlot filled{};
    if (!isAbsent(value))
        storeValue(filled, type, value, arena); // should this throw, the old value stays
    if (hasValue(attribute))
        releaseValue(slot, type);
    slot = filled;
    const auto bit = std::uint32_t{1} << attribute;
    presentValues_ = isAbsent(value) ? presentValues_ & ~bit : presentValues_ | bit;
}

int compareAttributeValues(const Object& left, const Object& right, int attribute)
{
    const bool leftPresent = left.hasValue(attribute), rightPresent = right.hasValue(attribute);
    if (!leftPresent || !rightPresent)
        return static_cast<int>(leftPresent) - static_cast<int>(rightPresent);
    return compareSlots(left.values_[attribute], right.values_[attribute], left.entity_->attributeType(attribute));
}

void sortByAttributes(std::vector<Object*>& objects, const std::vector<std::pair<int, bool>>& keys)
{
    // Later keys, then the primary key, for objects the earlier keys leave tied.
    const auto lessFrom = [&keys](std::size_t first, const Object* a, const Object* b) {
        for (std::size_t k = first; k < keys.size(); ++k) {
            const auto [index, ascending] = keys[k];
            const int order = compareAttributeValues(*a, *b, index);
            if (order != 0)
                return ascending ? order < 0 : order > 0;
        }
        return a->primaryKey() < b->primaryKey();
    };
    if (objects.empty() || keys.empty()) {
        std::sort(objects.begin(), objects.end(), [&](const Object* a, const Object* b) { return lessFrom(0, a, b); });
        return;
    }
    const auto [index, ascending] = keys.front();
    const AttributeType type = objects.front()->entity().attributeType(index);
    if (type != AttributeType::integer && type != AttributeType::date) {
        std::sort(objects.begin(), objects.end(), [&](const Object* a, const Object* b) { return lessFrom(0, a, b); });
        return;
    }
    // A first key of integers or dates (timers by start) is read once per object, so the sort
    // compares keys side by side instead of reaching into two objects a comparison.
    struct Keyed {
        std::int64_t value;
        Object* object;
        bool present;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(objects.size());
    for (Object* object : objects) {
        const bool present = object->hasValue(index);
        keyed.push_back({present ? object->values_[index].integer : 0, object, present});
    }
    std::sort(keyed.begin(), keyed.end(), [&](const Keyed& a, const Keyed& b) {
        // Absent first, as compareValues() orders it.
        const int order =
            a.present != b.present ? (a.present ? 1 : -1) : (a.value < b.value ? -1 : (b.value < a.value ? 1 : 0));
        if (order != 0)
            return ascending ? order < 0 : order > 0;
        return lessFrom(1, a.object, b.object);
    });
    for (std::size_t i = 0; i < keyed.size(); ++i)
        objects[i] = keyed[i].object;
}

void Object::setValue(int attribute, Value value)
{
    const auto& description = entity_->attributes().at(static_cast<std::size_t>(attribute));
    if (!valueMatchesType(value, description.type))
        throw std::invalid_argument("value of the wrong type for " + entity_->name() + "." + description.name);
    if (deleted_)
        return;
    context_->writeValue(*this, attribute, std::move(value));
}

void Object::setValue(std::string_view key, Value value)
{
    setValue(requireAttribute(*entity_, key), std::move(value));
}

// By name, the other kind of relationship answers as an empty one: nothing, or no members.
Object* Object::toOne(std::string_view key) const
{
    const int index = requireRelationship(*entity_, key);
    return entity_->relationships()[static_cast<std::size_t>(index)].toMany ? nullptr : toOne(index);
}

const std::vector<Object*>& Object::toMany(std::string_view key) const
{
    static const std::vector<Object*> none;
    const int index = requireRelationship(*entity_, key);
    return entity_->relationships()[static_cast<std::size_t>(index)].toMany ? toMany(index) : none;
}

void Object::setToOne(int relationship, Object* target)
{
    const auto& description = entity_->relationships().at(static_cast<std::size_t>(relationship));
    if (description.toMany)
        throw std::invalid_argument(entity_->name() + "." + description.name + " is a to-many relationship");
    if (target && target->entity().index() != description.destinationIndex)
        throw std::invalid_argument("wrong destination entity for " + entity_->name() + "." + description.name);
    if (target && target->context_ != context_)
        throw std::invalid_argument("relationship target belongs to another context");
    if (deleted_ || (target && target->deleted_))
        return;
    context_->writeToOne(*this, relationship, target);
}

void Object::setToOne(std::string_view key, Object* target)
{
    setToOne(requireRelationship(*entity_, key), target);
}

void Object::addToMany(int relationship, Object* member)
{
    const auto& description = entity_->relationships().at(static_cast<std::size_t>(relationship));
    if (!description.toMany)
        throw std::invalid_argument(entity_->name() + "." + description.name + " is a to-one relationship");
    if (member && !deleted_)
        member->setToOne(description.inverseIndex, this);
}

void Object::removeFromMany(int relationship, Object* member)
{
    const auto& description = entity_->relationships().at(static_cast<std::size_t>(relationship));
    if (!description.toMany)
        throw std::invalid_argument(entity_->name() + "." + description.name + " is a to-one relationship");
    if (member && member->toOne(description.inverseIndex) == this)
        member->setToOne(description.inverseIndex, nullptr);
}

void Object::announceChange(int key)
{
    if (!deleted_)
        context_->markChanged(*this, key, false);
}

void Object::announceChange(std::string_view key)
{
    const int index = entity_->keyIndex(key);
    if (index < 0)
        throw std::invalid_argument(entity_->name() + " has no key " + std::string(key));
    announceChange(index);
}

} // namespace data
