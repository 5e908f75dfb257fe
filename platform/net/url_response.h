// A URL response as a session hands it over: the URL answered, the HTTP status (none when the answer
// had no status line) and the header fields in arrival order, names compared without case.
#pragma once

#include "net/url_request.h"

#include <optional>
#include <string>
#include <string_view>

namespace net {

struct HTTPURLResponse {
    std::string url;
    std::optional<long> statusCode;
    HTTPHeaderFields headerFields;

    std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const
    {
        return headerFields.value(field);
    }
};

} // namespace net
