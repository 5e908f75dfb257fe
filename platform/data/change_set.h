// What one pass of change processing announces: the objects inserted, updated (with the keys
// that changed) and deleted since the previous pass.
#pragma once

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace data {

class Object;

// Name of the notification a context posts once per pass; userInfo "changes" holds a
// std::shared_ptr<const ChangeSet>, the sender is the context.
inline constexpr const char* ObjectsDidChangeNotification = "ObjectsDidChangeNotification";

struct ChangeSet {
    std::vector<Object*> inserted;
    std::vector<Object*> updated;
    std::vector<Object*> deleted;
    // Changed keys of each updated object, as a bit mask over the entity's key indices.
    std::unordered_map<const Object*, std::uint64_t> updatedKeys;

    bool empty() const { return inserted.empty() && updated.empty() && deleted.empty(); }
    bool isUpdated(const Object* object) const { return updatedKeys.count(object) != 0; }
    // Whether `key` of an updated object changed.
    bool changed(const Object* object, std::string_view key) const;
};

} // namespace data
