// ICU-backed locale services. Every ICU formatter here runs in GMT on a wall time that date/tz
// computed, because the zone rules bundled with ICU lag behind the system tz database.
#include "foundation/locale.h"

#include "foundation/calendar.h"

#include <unicode/brkiter.h>
#include <unicode/calendar.h>
#include <unicode/datefmt.h>
#include <unicode/dcfmtsym.h>
#include <unicode/dtitvfmt.h>
#include <unicode/timezone.h>
#include <unicode/ucurr.h>
#include <unicode/ulocdata.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace foundation {
namespace {

constexpr std::string_view kPosixLocale = "en_US_POSIX";

std::string utf8(const icu::UnicodeString& text)
{
    std::string out;
    text.toUTF8String(out);
    return out;
}

icu::UnicodeString unicode(std::string_view text)
{
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

// Three letters A-Z; ICU's placeholders for "no currency" ("¤", "¤¤") are not.
bool isIsoCurrencyCode(std::string_view code)
{
    return code.size() == 3 && std::all_of(code.begin(), code.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

// ICU milliseconds of the wall time of `date` in `calendar`, to be formatted in GMT.
UDate wallMillis(Date date, const Calendar& calendar)
{
    const auto micros = calendar.wallTimeAsUtc(date).time_since_epoch().count();
    return static_cast<UDate>(micros / 1000 - (micros % 1000 < 0 ? 1 : 0));
}

std::optional<std::string> formatWith(std::unique_ptr<icu::DateFormat> format, Date date, const Calendar& calendar)
{
    if (!format)
        return std::nullopt;
    format->setTimeZone(*icu::TimeZone::getGMT());
    icu::UnicodeString out;
    format->format(wallMillis(date, calendar), out);
    return utf8(out);
}

// The locale's own pattern for the fields of `skeleton` ("yMMMM": month name and year).
std::unique_ptr<icu::DateFormat> skeletonFormat(const char* skeleton, const std::string& localeId)
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::DateFormat> format(icu::DateFormat::createInstanceForSkeleton(
        icu::UnicodeString(skeleton), icu::Locale(localeId.c_str()), status));
    if (U_FAILURE(status))
        return nullptr;
    return format;
}

} // namespace

std::string numberFormatLocaleId(std::string_view localeId)
{
    std::string id = localeIdFromPosixName(localeId);
    return id == kPosixLocale ? std::string("en_US") : id;
}

Locale::Locale(std::string_view id) : id_(localeIdFromPosixName(id)) {}

Locale Locale::current(LocaleCategory category)
{
    return Locale(localeIdFromEnvironment(category));
}

int Locale::firstWeekday() const
{
    UErrorCode status = U_ZERO_ERROR;
    // Given a zone of its own so that ICU does not go looking for the system's.
    std::unique_ptr<icu::Calendar> calendar(
        icu::Calendar::createInstance(icu::TimeZone::getGMT()->clone(), icu::Locale(id_.c_str()), status));
    if (U_FAILURE(status) || !calendar)
        return 1;
    const UCalendarDaysOfWeek first = calendar->getFirstDayOfWeek(status);
    return U_FAILURE(status) ? 1 : static_cast<int>(first);
}

std::optional<std::pair<int, int>> Locale::paperSizeMillimetres() const
{
    UErrorCode status = U_ZERO_ERROR;
    int32_t height = 0;
    int32_t width = 0;
    ulocdata_getPaperSize(id_.c_str(), &height, &width, &status);
    if (U_FAILURE(status) || width <= 0 || height <= 0)
        return std::nullopt;
    return std::pair<int, int>(width, height);
}

std::optional<std::string> Locale::currencyCode() const
{
    UErrorCode status = U_ZERO_ERROR;
    icu::DecimalFormatSymbols symbols(icu::Locale(id_.c_str()), status);
    if (U_FAILURE(status))
        return std::nullopt;
    std::string code = utf8(symbols.getSymbol(icu::DecimalFormatSymbols::kIntlCurrencySymbol));
    if (!isIsoCurrencyCode(code) || code == "XXX")
        return std::nullopt;
    return code;
}

std::optional<std::string> Locale::currencySymbol() const
{
    UErrorCode status = U_ZERO_ERROR;
    icu::DecimalFormatSymbols symbols(icu::Locale(id_.c_str()), status);
    if (U_FAILURE(status))
        return std::nullopt;
    std::string symbol = utf8(symbols.getSymbol(icu::DecimalFormatSymbols::kCurrencySymbol));
    if (symbol.empty() || symbol.find_first_not_of("\u00A4") == std::string::npos)
        return std::nullopt;
    return symbol;
}

std::optional<std::string> Locale::currencySymbol(std::string_view isoCode) const
{
    if (!isIsoCurrencyCode(isoCode))
        return std::nullopt;
    const UChar code[4] = {static_cast<UChar>(isoCode[0]), static_cast<UChar>(isoCode[1]),
                           static_cast<UChar>(isoCode[2]), 0};
    UErrorCode status = U_ZERO_ERROR;
    UBool isChoiceFormat = false;
    int32_t length = 0;
    const UChar* name = ucurr_getName(code, id_.c_str(), UCURR_SYMBOL_NAME, &isChoiceFormat, &length, &status);
    if (U_FAILURE(status) || !name)
        return std::nullopt;
    return utf8(icu::UnicodeString(name, length));
}

std::optional<std::string> Locale::shortDateText(Date date, const Calendar& calendar) const
{
    return formatWith(std::unique_ptr<icu::DateFormat>(
                          icu::DateFormat::createDateInstance(icu::DateFormat::kShort, icu::Locale(id_.c_str()))),
                      date, calendar);
}

std::optional<std::string> Locale::shortDateTimeText(Date date, const Calendar& calendar) const
{
    return formatWith(std::unique_ptr<icu::DateFormat>(icu::DateFormat::createDateTimeInstance(
                          icu::DateFormat::kShort, icu::DateFormat::kShort, icu::Locale(id_.c_str()))),
                      date, calendar);
}

std::optional<std::string> Locale::fullDateText(Date date, const Calendar& calendar) const
{
    return formatWith(std::unique_ptr<icu::DateFormat>(
                          icu::DateFormat::createDateInstance(icu::DateFormat::kFull, icu::Locale(id_.c_str()))),
                      date, calendar);
}

std::optional<std::string> Locale::mediumDateText(Date date, const Calendar& calendar) const
{
    return formatWith(std::unique_ptr<icu::DateFormat>(
                          icu::DateFormat::createDateInstance(icu::DateFormat::kMedium, icu::Locale(id_.c_str()))),
                      date, calendar);
}

std::optional<std::string> Locale::monthYearText(Date date, const Calendar& calendar) const
{
    return formatWith(skeletonFormat("yMMMM", id_), date, calendar);
}

std::optional<std::string> Locale::yearText(Date date, const Calendar& calendar) const
{
    return formatWith(skeletonFormat("y", id_), date, calendar);
}

std::optional<std::string> Locale::shortDateIntervalText(Date from, Date to, const Calendar& calendar) const
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::DateIntervalFormat> format(
        icu::DateIntervalFormat::createInstance(icu::UnicodeString("yMdjm"), icu::Locale(id_.c_str()), status));
    if (U_FAILURE(status) || !format)
        return std::nullopt;
    format->setTimeZone(*icu::TimeZone::getGMT());
    const icu::DateInterval interval(wallMillis(from, calendar), wallMillis(to, calendar));
    icu::UnicodeString out;
    icu::FieldPosition position(icu::FieldPosition::DONT_CARE);
    format->format(&interval, out, position, status);
    if (U_FAILURE(status))
        return std::nullopt;
    return utf8(out);
}

bool containsCaseInsensitive(std::string_view text, std::string_view term)
{
    if (term.empty())
        return true;
    icu::UnicodeString foldedText = unicode(text);
    icu::UnicodeString foldedTerm = unicode(term);
    foldedText.foldCase(U_FOLD_CASE_DEFAULT);
    foldedTerm.foldCase(U_FOLD_CASE_DEFAULT);
    return foldedText.indexOf(foldedTerm) >= 0;
}

std::size_t graphemeClusterCount(std::string_view text)
{
    // Building a break iterator loads ICU's rules; one per thread is kept for the many short titles
    // of an export.
    thread_local std::unique_ptr<icu::BreakIterator> characters = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> iterator(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        return U_SUCCESS(status) ? std::move(iterator) : nullptr;
    }();
    const icu::UnicodeString unicodeText = unicode(text);
    if (!characters)
        return static_cast<std::size_t>(unicodeText.countChar32());
    characters->setText(unicodeText);
    std::size_t count = 0;
    for (int32_t boundary = characters->next(); boundary != icu::BreakIterator::DONE; boundary = characters->next())
        ++count;
    return count;
}

} // namespace foundation
