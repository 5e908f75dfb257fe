// Currency symbol list over ICU's common ISO codes.
#include "model/currency_symbols.h"

#include "foundation/locale.h"

#include <unicode/ucurr.h>
#include <unicode/uenum.h>

#include <algorithm>
#include <optional>

namespace model {

namespace {

std::vector<std::string> commonISOCurrencyCodes()
{
    std::vector<std::string> codes;
    UErrorCode status = U_ZERO_ERROR;
    UEnumeration* enumeration = ucurr_openISOCurrencies(UCURR_COMMON | UCURR_NON_DEPRECATED, &status);
    if (U_FAILURE(status))
        return codes;
    int32_t length = 0;
    while (const char* code = uenum_next(enumeration, &length, &status)) {
        if (U_FAILURE(status))
            break;
        codes.emplace_back(code, static_cast<std::size_t>(length));
    }
    uenum_close(enumeration);
    return codes;
}

} // namespace

std::vector<std::string> currencySymbols(const foundation::Locale& locale)
{
    std::vector<std::string> symbols{"€", "$", "£", "¥"};
    for (const std::string& code : commonISOCurrencyCodes()) {
        std::optional<std::string> symbol = locale.currencySymbol(code);
        if (symbol && !symbol->empty() && std::find(symbols.begin(), symbols.end(), *symbol) == symbols.end())
            symbols.push_back(*symbol);
    }
    return symbols;
}

std::vector<std::string> currencySymbols()
{
    return currencySymbols(foundation::Locale::current(foundation::LocaleCategory::monetary));
}

} // namespace model
