// Laying out and moving the date filter's bounds.
#include "model/date_filter_state.h"

#include "model/date_filter_interval.h"
#include "model/dates.h"

namespace model {

void DateFilterState::setBounds(std::optional<foundation::Date> start, std::optional<foundation::Date> end)
{
    startDate_ = start;
    endDate_ = end;
}

void DateFilterState::update()
{
    switch (range_) {
    case DateFilterRange::all:
        startDate_.reset();
        endDate_.reset();
        break;
    case DateFilterRange::custom: break;
    case DateFilterRange::day:
    case DateFilterRange::week:
    case DateFilterRange::month:
    case DateFilterRange::year:
        if (const auto interval = dateFilterInterval(range_, referenceDate_)) {
            startDate_ = interval->from;
            endDate_ = interval->to;
        }
        break;
    }
}

void DateFilterState::navigate(bool forward, foundation::Date now)
{
    const auto days = forward ? addingDays : subtractingDays;
    const auto months = forward ? addingMonths : subtractingMonths;
    const auto years = forward ? addingYears : subtractingYears;
    switch (range_) {
    case DateFilterRange::day: referenceDate_ = days(referenceDate_, 1); break;
    case DateFilterRange::week: referenceDate_ = days(referenceDate_, 7); break;
    case DateFilterRange::month: referenceDate_ = months(referenceDate_, 1); break;
    case DateFilterRange::year: referenceDate_ = years(referenceDate_, 1); break;
    case DateFilterRange::all:
    case DateFilterRange::custom: referenceDate_ = roundedToMinute(now); break;
    }
    update();
}

void DateFilterState::navigateToToday(foundation::Date now)
{
    referenceDate_ = roundedToMinute(now);
    update();
}

} // namespace model
