// Currency texts through ICU's decimal formatter: the exact decimal is handed over as its digits, so
// no binary rounding happens on the way.
#include "model/currency_formatter.h"

#include "foundation/locale.h"

#include <unicode/dcfmtsym.h>
#include <unicode/decimfmt.h>
#include <unicode/fmtable.h>
#include <unicode/locid.h>
#include <unicode/numfmt.h>
#include <unicode/unistr.h>

namespace model {

struct CurrencyFormatter::Format {
    std::unique_ptr<icu::DecimalFormat> pattern;
    // The pattern with the symbol of the latest call that gave one. Copying a formatter costs far
    // more than formatting, and an export formats every amount of a project with the same symbol.
    std::optional<std::string> lastSymbol;
    std::unique_ptr<icu::DecimalFormat> withLastSymbol;

    const icu::DecimalFormat& withSymbol(std::string_view symbol)
    {
        if (!withLastSymbol || lastSymbol != symbol) {
            withLastSymbol = std::make_unique<icu::DecimalFormat>(*pattern);
            icu::DecimalFormatSymbols symbols(*withLastSymbol->getDecimalFormatSymbols());
            symbols.setSymbol(
                icu::DecimalFormatSymbols::kCurrencySymbol,
                icu::UnicodeString::fromUTF8(icu::StringPiece(symbol.data(), static_cast<int32_t>(symbol.size()))));
            withLastSymbol->setDecimalFormatSymbols(symbols);
            lastSymbol = std::string(symbol);
        }
        return *withLastSymbol;
    }
};

CurrencyFormatter::CurrencyFormatter(std::string_view localeId)
{
    UErrorCode status = U_ZERO_ERROR;
    const std::string id = foundation::numberFormatLocaleId(localeId);
    std::unique_ptr<icu::NumberFormat> format(
        icu::NumberFormat::createCurrencyInstance(icu::Locale(id.c_str()), status));
    if (U_SUCCESS(status) && dynamic_cast<icu::DecimalFormat*>(format.get())) {
        format_ = std::make_unique<Format>();
        format_->pattern.reset(static_cast<icu::DecimalFormat*>(format.release()));
    }
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
    // The locale's pattern itself is never given a symbol, so no call sees the previous caller's.
    const icu::DecimalFormat& format = symbol ? format_->withSymbol(*symbol) : *format_->pattern;
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

} // namespace model
