// Header fields of a request: ordered, with names compared case-insensitively.
#include "net/url_request.h"

#include <algorithm>

namespace net {

namespace {

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

bool headerNamesEqual(std::string_view a, std::string_view b)
{
    return a.size() == b.size()
           && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

void HTTPHeaderFields::set(std::string name, std::string value)
{
    const auto existing = std::find_if(fields_.begin(), fields_.end(),
                                       [&](const Field& field) { return headerNamesEqual(field.first, name); });
    if (existing == fields_.end()) {
        fields_.emplace_back(std::move(name), std::move(value));
        return;
    }
    existing->second = std::move(value);
    // Later fields of the same name (from add) would contradict the value just set.
    const auto next = existing + 1;
    fields_.erase(
        std::remove_if(next, fields_.end(), [&](const Field& field) { return headerNamesEqual(field.first, name); }),
        fields_.end());
}

void HTTPHeaderFields::add(std::string name, std::string value)
{
    fields_.emplace_back(std::move(name), std::move(value));
}

std::optional<std::string> HTTPHeaderFields::value(std::string_view name) const
{
    for (const auto& field : fields_)
        if (headerNamesEqual(field.first, name))
            return field.second;
    return std::nullopt;
}

bool HTTPHeaderFields::remove(std::string_view name)
{
    return std::erase_if(fields_, [&](const Field& field) { return headerNamesEqual(field.first, name); }) > 0;
}

} // namespace net
