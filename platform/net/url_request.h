// A URL request as the kits build it before a session sends it: the URL, method, cache policy,
// time-out, body and header fields. Header fields keep the order they were set in, and their names
// compare without regard to ASCII case, as HTTP wants.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace net {

// Whether ASCII letters aside, `a` and `b` are the same header name.
bool headerNamesEqual(std::string_view a, std::string_view b);

class HTTPHeaderFields {
public:
    using Field = std::pair<std::string, std::string>; // name, value

    // Replaces the value of the field of this name in its place, or appends the field.
    void set(std::string name, std::string value);
    // Appends a field even when one of this name exists.
    void add(std::string name, std::string value);
    // The value of the first field of this name; nothing when there is none.
    std::optional<std::string> value(std::string_view name) const;
    // Removes every field of this name; true when there was one.
    bool remove(std::string_view name);

    const std::vector<Field>& fields() const { return fields_; }
    std::size_t size() const { return fields_.size(); }
    bool empty() const { return fields_.empty(); }
    bool operator==(const HTTPHeaderFields&) const = default;

private:
    std::vector<Field> fields_;
};

enum class URLRequestCachePolicy {
    useProtocolCachePolicy,      // what the protocol's caching rules allow
    reloadIgnoringLocalCacheData // always from the server
};

struct URLRequest {
    URLRequest() = default;
    explicit URLRequest(std::string requestURL) : url(std::move(requestURL)) {}

    // Header field access under the platform's names.
    void setValueForHTTPHeaderField(std::string value, std::string field)
    {
        headerFields.set(std::move(field), std::move(value));
    }
    std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const
    {
        return headerFields.value(field);
    }

    std::string url;
    std::string httpMethod = "GET";
    URLRequestCachePolicy cachePolicy = URLRequestCachePolicy::useProtocolCachePolicy;
    // Seconds without progress before the request fails.
    double timeoutInterval = 60.0;
    std::string httpBody; // bytes
    HTTPHeaderFields headerFields;

    bool operator==(const URLRequest&) const = default;
};

} // namespace net
