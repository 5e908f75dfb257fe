// Assembles a request URL from a base, path pieces and query parameters. Only what the caller asks
// to escape is escaped; `URL()` says whether the text built is a URL at all.
#pragma once

#include "foundation/property_list.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kits {

class KSTURLBuilder {
public:
    KSTURLBuilder() = default;
    // A builder whose text starts as the base, unchanged.
    static KSTURLBuilder URLWithBase(std::string_view base);

    const std::string& URLString() const { return URLString_; }
    std::uint64_t queryParams() const { return queryParams_; }

    void appendComponent(std::string_view text);
    // The text with UTF-8 percent escapes (upper-case hex) for what may not stand in a URL: controls,
    // space, '"', '%', '<', '>', the unwise characters {}|\^[]` and every non-ASCII byte. Reserved
    // characters such as / ? & = : + # stay.
    static std::string escapeString(std::string_view text);
    void escapeAndAppendComponent(std::string_view text);
    // "?" before the first parameter, "&" before later ones, then the name unescaped, "=" and the
    // escaped description of the value. A missing (or null) value appends nothing.
    void appendValueForQueryParam(const std::optional<foundation::PropertyListValue>& value, std::string_view name);

    // The text when it is a URL (absolute or relative: only URL characters, every '%' starting an
    // escape, at most one '#', a well-formed scheme if any); nothing otherwise.
    std::optional<std::string> URL() const;

private:
    std::string URLString_;
    std::uint64_t queryParams_ = 0;
};

// Whether the text is a URL by the rules of KSTURLBuilder::URL().
bool KSTIsValidURLString(std::string_view text);

} // namespace kits
