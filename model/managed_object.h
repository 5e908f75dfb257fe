// Typed access to the stored values of the model's entities, shared by the entity classes.
#pragma once

#include "data/object.h"
#include "data/object_context.h"

#include <optional>
#include <vector>

namespace model {

// The objects of one entity as their entity class.
template <typename T>
std::vector<T*> downcast(const std::vector<data::Object*>& objects)
{
    std::vector<T*> result;
    result.reserve(objects.size());
    for (data::Object* object : objects)
        result.push_back(static_cast<T*>(object));
    return result;
}

class ManagedObject : public data::Object {
protected:
    template <typename T>
    std::optional<T> optionalValue(int attribute) const
    {
        return typedValue<T>(attribute);
    }
    template <typename T>
    void setOptionalValue(int attribute, const std::optional<T>& newValue)
    {
        setValue(attribute, newValue ? data::Value(*newValue) : data::Value());
    }
    bool boolValue(int attribute) const { return optionalValue<bool>(attribute).value_or(false); }
    std::int64_t integerValue(int attribute) const { return optionalValue<std::int64_t>(attribute).value_or(0); }

    template <typename T>
    T* relatedObject(int relationship) const
    {
        return static_cast<T*>(toOne(relationship));
    }
    template <typename T>
    std::vector<T*> relatedObjects(int relationship) const
    {
        return downcast<T>(toMany(relationship));
    }
};

// Inserts a new object of an entity class into a context; the class's insertion defaults apply.
template <typename T>
T* initInContext(data::ObjectContext& context)
{
    return context.insert<T>();
}

} // namespace model
