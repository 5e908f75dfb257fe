// The value that narrows the timers shown and exported: start bounds (inclusive), a search term
// matched case-insensitively in the notes, whether billed timers stay, and the order of the result.
#pragma once

#include "data/object_context.h"

#include "foundation/clock.h"

#include <optional>
#include <string>
#include <vector>

namespace model {

struct Filter {
    std::optional<foundation::Date> fromDate;
    std::optional<foundation::Date> toDate;
    std::optional<std::vector<data::SortDescriptor>> sortDescriptors;
    std::optional<std::string> searchTerm;
    bool includeBilledTimers = false;
};

} // namespace model
