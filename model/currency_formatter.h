// Money as text in the user's locale with a currency symbol chosen per call (a project's own
// currency). One shared instance serves the outline's cells and the exports.
#pragma once

#include "foundation/decimal.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace model {

class CurrencyFormatter {
public:
    // Formats with the currency pattern of `localeId` (an ICU id or POSIX name).
    explicit CurrencyFormatter(std::string_view localeId);
    ~CurrencyFormatter();
    CurrencyFormatter(const CurrencyFormatter&) = delete;
    CurrencyFormatter& operator=(const CurrencyFormatter&) = delete;

    // The process-wide formatter of the user's monetary locale, made on first use. Main thread only.
    static CurrencyFormatter& shared();

    // "$12.50" for 12.5 with "$" in en_US; without a symbol the locale's own currency sign is used.
    // Nothing when the locale has no currency pattern or the value cannot be formatted. The result
    // depends only on the arguments, but one formatter is not for use from two threads at once: it
    // keeps the pattern of the latest symbol for the next call.
    std::optional<std::string> string(const foundation::Decimal& value, std::optional<std::string_view> symbol) const;

private:
    struct Format;
    std::unique_ptr<Format> format_;
};

} // namespace model
