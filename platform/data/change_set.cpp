// Key look-ups in a change set.
#include "data/change_set.h"

#include "data/object.h"

namespace data {

bool ChangeSet::changed(const Object* object, std::string_view key) const
{
    auto found = updatedKeys.find(object);
    if (found == updatedKeys.end())
        return false;
    const int index = object->entity().keyIndex(key);
    return index >= 0 && (found->second & (std::uint64_t{1} << index)) != 0;
}

} // namespace data
