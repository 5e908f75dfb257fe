// The date filter in force, without any widget: the range, the reference date the range is laid
// around, and the bounds that follow from the two (the custom range keeps bounds set by hand).
// The projects view shows it and turns the user's navigation into calls here.
#pragma once

#include "model/enums.h"

#include "foundation/clock.h"

#include <optional>

namespace model {

class DateFilterState {
public:
    explicit DateFilterState(foundation::Date referenceDate, DateFilterRange range = DateFilterRange::day)
        : range_(range), referenceDate_(referenceDate)
    {}

    DateFilterRange range() const { return range_; }
    foundation::Date referenceDate() const { return referenceDate_; }
    // Nothing for an open end.
    std::optional<foundation::Date> startDate() const { return startDate_; }
    std::optional<foundation::Date> endDate() const { return endDate_; }

    // The setters store only; update() lays the bounds out again.
    void setRange(DateFilterRange range) { range_ = range; }
    void setReferenceDate(foundation::Date date) { referenceDate_ = date; }
    // The custom range keeps whatever bounds are set here.
    void setBounds(std::optional<foundation::Date> start, std::optional<foundation::Date> end);

    // Lays the bounds out in the user's current calendar: none for all, the ones set by hand for
    // custom, the day, week, month or year around the reference date for the others. At the edge of
    // the calendar's years, where there are no bounds to compute, the old ones stay.
    void update();

    // Moves the reference date one period forward or back (a day, seven days, a month, a year);
    // under all and custom it goes to `now`, to the minute. Then updates.
    void navigate(bool forward, foundation::Date now);
    // The reference date becomes `now`, to the minute. Then updates.
    void navigateToToday(foundation::Date now);

private:
    DateFilterRange range_;
    foundation::Date referenceDate_;
    std::optional<foundation::Date> startDate_;
    std::optional<foundation::Date> endDate_;
};

} // namespace model
