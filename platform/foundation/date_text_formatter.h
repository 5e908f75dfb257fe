// Reusable date texts of one locale in the styles the platform knows (short ... full), for callers
// that format many instants: the ICU formatter is built once, and each text is made from the wall
// time the Calendar computed, so the system tz database decides the offsets, never ICU's own rules.
#pragma once

#include "foundation/clock.h"

#include <memory>
#include <optional>
#include <string>

#include <unicode/uversion.h>

U_NAMESPACE_BEGIN
class DateFormat;
class DateIntervalFormat;
U_NAMESPACE_END

namespace foundation {

class Calendar;
class Locale;

enum class DateTextStyle { none, shortStyle, mediumStyle, longStyle, fullStyle };

// One instant as text: "Jan 5, 2024" (medium, none), "Jan 5, 2024, 9:30 AM" (medium, short) in en_US.
class DateTextFormatter {
public:
    // Both styles none gives a formatter that yields nothing.
    DateTextFormatter(const Locale& locale, DateTextStyle dateStyle, DateTextStyle timeStyle);
    ~DateTextFormatter();
    DateTextFormatter(const DateTextFormatter&) = delete;
    DateTextFormatter& operator=(const DateTextFormatter&) = delete;

    // The text of `date` in `calendar`'s zone; nothing when ICU could not build the formatter.
    std::optional<std::string> text(Date date, const Calendar& calendar) const;

private:
    std::unique_ptr<icu::DateFormat> format_;
};

// A range of two instants as text, written compactly the locale's way: the fields the two ends share
// appear once ("1/5/24, 9:30 – 10:45 AM" for short, short in en_US).
class DateIntervalTextFormatter {
public:
    DateIntervalTextFormatter(const Locale& locale, DateTextStyle dateStyle, DateTextStyle timeStyle);
    ~DateIntervalTextFormatter();
    DateIntervalTextFormatter(const DateIntervalTextFormatter&) = delete;
    DateIntervalTextFormatter& operator=(const DateIntervalTextFormatter&) = delete;

    std::optional<std::string> text(Date from, Date to, const Calendar& calendar) const;

private:
    std::unique_ptr<icu::DateIntervalFormat> format_;
};

} // namespace foundation
