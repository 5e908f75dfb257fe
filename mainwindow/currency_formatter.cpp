// Currency texts through ICU's decimal formatter: the exact decimal is handed over as its digits, so
// no binary rounding happens on the way.
#include "mainwindow/currency_formatter.h"

#include "foundation/locale.h"

#include <unicode/dcfmtsym.h>
#include <unicode/decimfmt.h>
#include <unicode/fmtable.h>
#include <unicode/locid.h>
#include <unicode/numfmt.h>
#include <unicode/unistr.h>

namespace mainwindow {

struct CurrencyFormatter::Format {
    std::unique_ptr<icu::DecimalFormat> pattern;
};

CurrencyFormatter::CurrencyFormatter(std::string_view localeId)
{
    UErrorCode status = U_ZERO_ERROR;
    const std::string id = foundation::Locale(localeId).id();
    std::unique_ptr<icu::NumberFormat> format(icu::NumberFormat::createCurrencyInstance(icu::Locale(id.c_str()), status));
    if (U_SUCCESS(status) && dynamic_cast<icu::DecimalFormat*>(format.get()))
        format_ = std::make_unique<Format>(Format{std::unique_ptr<icu::DecimalFormat>(static_cast<icu::DecimalFormat*>(format.release()))});
}

CurrencyFormatter::~CurrencyFormatter() = default;

CurrencyFormatter& CurrencyFormatter::shared()
{
    static CurrencyFormatter formatter(foundation::localeIdFromEnvironment(foundation::LocaleCategory::monetary));
    return formatter;
}

std::optional<std::string> CurrencyFormatter::string(const foundation::Decimal& value,
                                                      std::optional<std::string_view> symbol) const
{
    if (!format_)
        return std::nullopt;
    // A copy per call keeps the shared formatter free of the previous caller's symbol.
    icu::DecimalFormat format(*format_->pattern);
    if (symbol) {
        icu::DecimalFormatSymbols symbols(*format.getDecimalFormatSymbols());
        symbols.setSymbol(icu::DecimalFormatSymbols::kCurrencySymbol,
                          icu::UnicodeString::fromUTF8(icu::StringPiece(symbol->data(), static_cast<int32_t>(symbol->size()))));
        format.setDecimalFormatSymbols(symbols);
    }
    UErrorCode status = U_ZERO_ERROR;
    const std::string digits = value.toString();
    icu::Formattable number(icu::StringPiece(digits.c_str()), status);
    if (U_FAILURE(status))
        return std::nullopt;
    icu::UnicodeString text;
    format.format(number, text, status);
    if (U_FAILURE(status))
        return std::nullopt;
    std::string result;
    text.toUTF8String(result);
    return result;
}

} // namespace mainwindow
