// ICU date and interval formatters fixed to GMT and fed wall times, as the rest of foundation does.
// The interval formatter takes its fields from the locale's pattern of the same styles, so a range
// is written with the same fields and widths as a single date of those styles.
#include "foundation/date_text_formatter.h"

#include "foundation/calendar.h"
#include "foundation/locale.h"

#include <unicode/datefmt.h>
#include <unicode/dtitvfmt.h>
#include <unicode/dtptngen.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

namespace foundation {
namespace {

icu::DateFormat::EStyle icuStyle(DateTextStyle style)
{
    switch (style) {
    case DateTextStyle::none: return icu::DateFormat::kNone;
    case DateTextStyle::shortStyle: return icu::DateFormat::kShort;
    case DateTextStyle::mediumStyle: return icu::DateFormat::kMedium;
    case DateTextStyle::longStyle: return icu::DateFormat::kLong;
    case DateTextStyle::fullStyle: return icu::DateFormat::kFull;
    }
    return icu::DateFormat::kNone;
}

std::unique_ptr<icu::DateFormat> makeFormat(const Locale& locale, DateTextStyle dateStyle, DateTextStyle timeStyle)
{
    if (dateStyle == DateTextStyle::none && timeStyle == DateTextStyle::none)
        return nullptr;
    std::unique_ptr<icu::DateFormat> format(icu::DateFormat::createDateTimeInstance(
        icuStyle(dateStyle), icuStyle(timeStyle), icu::Locale(locale.id().c_str())));
    if (format)
        format->setTimeZone(*icu::TimeZone::getGMT());
    return format;
}

// ICU milliseconds of the wall time of `date` in `calendar`, to be formatted in GMT.
UDate wallMillis(Date date, const Calendar& calendar)
{
    const auto micros = calendar.wallTimeAsUtc(date).time_since_epoch().count();
    return static_cast<UDate>(micros / 1000 - (micros % 1000 < 0 ? 1 : 0));
}

std::string utf8(const icu::UnicodeString& text)
{
    std::string out;
    text.toUTF8String(out);
    return out;
}

} // namespace

DateTextFormatter::DateTextFormatter(const Locale& locale, DateTextStyle dateStyle, DateTextStyle timeStyle)
    : format_(makeFormat(locale, dateStyle, timeStyle))
{}

DateTextFormatter::~DateTextFormatter() = default;

std::optional<std::string> DateTextFormatter::text(Date date, const Calendar& calendar) const
{
    if (!format_)
        return std::nullopt;
    icu::UnicodeString out;
    format_->format(wallMillis(date, calendar), out);
    return utf8(out);
}

DateIntervalTextFormatter::DateIntervalTextFormatter(const Locale& locale, DateTextStyle dateStyle,
                                                     DateTextStyle timeStyle)
{
    const std::unique_ptr<icu::DateFormat> single = makeFormat(locale, dateStyle, timeStyle);
    const auto* pattern = dynamic_cast<const icu::SimpleDateFormat*>(single.get());
    if (!pattern)
        return;
    icu::UnicodeString text;
    pattern->toPattern(text);
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString skeleton = icu::DateTimePatternGenerator::staticGetSkeleton(text, status);
    if (U_FAILURE(status))
        return;
    format_.reset(icu::DateIntervalFormat::createInstance(skeleton, icu::Locale(locale.id().c_str()), status));
    if (U_FAILURE(status)) {
        format_.reset();
        return;
    }
    format_->setTimeZone(*icu::TimeZone::getGMT());
}

DateIntervalTextFormatter::~DateIntervalTextFormatter() = default;

std::optional<std::string> DateIntervalTextFormatter::text(Date from, Date to, const Calendar& calendar) const
{
    if (!format_)
        return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    const icu::DateInterval interval(wallMillis(from, calendar), wallMillis(to, calendar));
    icu::UnicodeString out;
    icu::FieldPosition position(icu::FieldPosition::DONT_CARE);
    format_->format(&interval, out, position, status);
    if (U_FAILURE(status))
        return std::nullopt;
    return utf8(out);
}

} // namespace foundation
