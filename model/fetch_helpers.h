// Shared fetches of the entities that keep a user-defined order in `sortOrder` (projects and
// clients): all of them in that order, the highest number in use, a project by its number, and
// the numbering again without gaps.
#pragma once

#include "model/managed_object.h"

#include "data/object_context.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace model {

class Project;

// Every object of T (Project or Client) that passes the predicate, by ascending sortOrder.
template <typename T>
std::vector<T*> fetchAll(data::ObjectContext& context, const std::function<bool(const T&)>& predicate = {})
{
    const auto& entity = *context.model().entity(T::entityName);
    return downcast<T>(context.fetch(
        entity,
        predicate ? data::Predicate([&](const data::Object& o) { return predicate(static_cast<const T&>(o)); })
                  : data::Predicate(),
        {{"sortOrder", true}}));
}

// Every object of an entity class, unordered or by the given sort keys.
template <typename T>
std::vector<T*> fetch(data::ObjectContext& context, const std::vector<data::SortDescriptor>& sort = {})
{
    return downcast<T>(context.fetch(*context.model().entity(T::entityName), {}, sort));
}

// The highest sortOrder in use by T (leaving out `excluding`, e.g. an object being inserted), or -1
// when there is none.
template <typename T>
std::int64_t highestSortOrder(const data::ObjectContext& context, const data::Object* excluding = nullptr)
{
    std::int64_t highest = -1;
    for (const data::Object* object : context.objects(*context.model().entity(T::entityName)))
        if (object != excluding)
            highest = std::max(highest, static_cast<const T*>(object)->sortOrder());
    return highest;
}

// Numbers every object of T 0, 1, 2, ... in its present order (after a delete, or a drag and drop
// that moved one), writing only the numbers that change.
template <typename T>
void renumberSortOrders(data::ObjectContext& context)
{
    std::int64_t order = 0;
    for (T* object : fetchAll<T>(context)) {
        if (object->sortOrder() != order)
            object->setSortOrder(order);
        ++order;
    }
}

// The project with that sortOrder (the one with the lowest key when several share it), or nullptr.
Project* projectWithSortOrder(std::int64_t sortOrder, const data::ObjectContext& context);

// Moves `project` among all projects of the context in sortOrder (archived and unlisted ones
// included) to the place of `target`, or without a target to right after `lastListed` (the last
// project a view lists; the end when there is none), and numbers them all 0, 1, 2, ... Projects are
// found by identity, not by their numbers, so stored numbers with gaps or duplicates move no other
// project. Nothing for a project (or a target) the context does not hold.
void moveProject(data::ObjectContext& context, Project& project, const Project* target, const Project* lastListed);

} // namespace model
