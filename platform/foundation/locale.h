// The user's locale through ICU: week start, currency, short date texts and case-insensitive search.
// Texts are made from wall times the Calendar computed, so ICU never applies zone rules of its own.
#pragma once

#include "foundation/clock.h"
#include "foundation/locale_id.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace foundation {

class Calendar;

// The locale whose number patterns format amounts for a person in `localeId`. Only "en_US_POSIX"
// differs: its patterns are for machines ("$ 1234.50"), so its people get en_US's ("$1,234.50"),
// the patterns its dates already follow.
std::string numberFormatLocaleId(std::string_view localeId);

class Locale {
public:
    // Takes an ICU id or a POSIX locale name (normalised as above).
    explicit Locale(std::string_view id);
    static Locale current(LocaleCategory category);

    const std::string& id() const { return id_; }

    // 1 = Sunday ... 7 = Saturday.
    int firstWeekday() const;

    // The locale's usual paper, width and height in millimetres: 216 x 279 (US Letter) in en_US,
    // 210 x 297 (A4) in de_DE; nothing when ICU does not know.
    std::optional<std::pair<int, int>> paperSizeMillimetres() const;

    // The locale's own currency; nothing when it has none (ICU's generic "¤" / "XXX").
    std::optional<std::string> currencyCode() const;
    std::optional<std::string> currencySymbol() const;
    // How this locale writes the currency with ISO 4217 code `isoCode` ("USD" -> "$" in en_US,
    // "US$" in en_CA); nothing for a code that is not three letters A-Z. A well-formed code ICU does
    // not know is written as itself.
    std::optional<std::string> currencySymbol(std::string_view isoCode) const;

    // Short texts of instants in `calendar`'s zone; nothing when ICU cannot format.
    std::optional<std::string> shortDateText(Date date, const Calendar& calendar) const;
    std::optional<std::string> shortDateTimeText(Date date, const Calendar& calendar) const;
    std::optional<std::string> shortDateIntervalText(Date from, Date to, const Calendar& calendar) const;
    // Longer texts of an instant's local day: in en_US "Tuesday, March 12, 2024", "Mar 12, 2024",
    // "March 2024" and "2024"; each locale writes them its own way.
    std::optional<std::string> fullDateText(Date date, const Calendar& calendar) const;
    std::optional<std::string> mediumDateText(Date date, const Calendar& calendar) const;
    std::optional<std::string> monthYearText(Date date, const Calendar& calendar) const;
    std::optional<std::string> yearText(Date date, const Calendar& calendar) const;

private:
    std::string id_;
};

// Whether `text` contains `term` under full Unicode case folding ("STRASSE" is in "Straße").
// Both are UTF-8; an empty term is contained in every text.
bool containsCaseInsensitive(std::string_view text, std::string_view term);

// The number of user-perceived characters (extended grapheme clusters) of UTF-8 `text`: "e" with a
// combining accent, a flag or an emoji with its variation selector count once each.
std::size_t graphemeClusterCount(std::string_view text);

} // namespace foundation
