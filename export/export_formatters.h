// How every export document renders its values: dates of timers in three styles, durations, money in
// a project's currency and "now" to the minute. The formatters are built once and reused for every
// value; their calendar and locales are the user's at the time they are built.
#pragma once

#include "model/currency_formatter.h"

#include "foundation/calendar.h"
#include "foundation/clock.h"
#include "foundation/date_text_formatter.h"
#include "foundation/decimal.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace model {
class Timer;
}

namespace exports {

class ExportFormatters {
public:
    // `calendar` gives the zone (offsets from the system tz database), `timeLocaleId` the date texts;
    // `currency` is borrowed and must outlive the formatters.
    ExportFormatters(foundation::Calendar calendar, std::string_view timeLocaleId,
                     const model::CurrencyFormatter& currency);

    // The process-wide formatters of the user's zone and locales (TZ, LC_TIME, LC_MONETARY, LANG),
    // made on first use with the shared currency formatter. Main thread only.
    static const ExportFormatters& shared();

    const foundation::Calendar& calendar() const { return calendar_; }
    // The current time of the program's clock without seconds and fractions: where a running timer
    // needs an end.
    foundation::Date nowToMinute() const;

    // "Jan 5, 2024" in en_US: dates of duration and expense timers.
    std::string dateText(foundation::Date date) const;
    // "Jan 5, 2024, 9:30 AM": the start of a period timer, and the date cells of the CSV.
    std::string dateTimeText(foundation::Date date) const;
    // "1/5/24, 9:30 – 10:45 AM": the range of a period timer.
    std::string intervalText(foundation::Date from, foundation::Date to) const;
    // The amount in the locale's currency pattern with `currency` as its symbol (the locale's own
    // sign without one); nothing when it cannot be formatted (the value is then left out).
    std::optional<std::string> moneyText(const foundation::Decimal& amount,
                                         std::optional<std::string_view> currency) const;

    // The date of a timer in the plain-text and HTML documents: empty without a start; a period
    // timer's range to its end (to `now` while it runs) with `withStartEnd`, else its start with
    // date and time; every other type (or none) its start date alone.
    std::string timerDateText(const model::Timer& timer, bool withStartEnd, foundation::Date now) const;

private:
    foundation::Calendar calendar_;
    foundation::DateTextFormatter date_;
    foundation::DateTextFormatter dateTime_;
    foundation::DateIntervalTextFormatter interval_;
    const model::CurrencyFormatter& currency_;
};

// What a document of `projects` blocks and `timers` rows reserves before it is built: a kilobyte for
// each, room for long notes, so a document of tens of megabytes is not copied as it grows. The part a
// document leaves unused is never touched and takes no memory.
inline std::size_t documentCapacity(std::size_t projects, std::size_t timers)
{
    return 4096 + 1024 * (projects + timers);
}

// "02h 05m" for 125 minutes: the program's duration text (model::formattedDuration) with an ordinary
// space between hours and minutes, as the plain-text and HTML documents show it.
std::string durationText(std::int64_t minutes);

// "02:05" for 125 minutes: hours and minutes, each at least two digits; hours are not capped and a
// negative duration is a minus sign and its magnitude (-30 gives "-0:30"), as model::clockDuration.
std::string clockDurationText(std::int64_t minutes);

} // namespace exports
