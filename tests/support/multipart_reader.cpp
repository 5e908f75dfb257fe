// Strict multipart reading: each step checks the exact bytes it expects.
#include "multipart_reader.h"

namespace testsupport {

std::optional<std::string> MultipartPart::header(std::string_view name) const
{
    for (const auto& [key, value] : headers)
        if (key == name)
            return value;
    return std::nullopt;
}

namespace {

// The value of the parameter `name` in a header value of ";"-separated parameters, unquoted; nothing
// when it is absent. Matches whole parameter names only: "name" is not found in "filename=...".
std::optional<std::string> parameter(std::string_view value, std::string_view name)
{
    while (!value.empty()) {
        const auto end = value.find(';');
        std::string_view item = value.substr(0, end);
        value = end == std::string_view::npos ? std::string_view() : value.substr(end + 1);
        while (!item.empty() && item.front() == ' ')
            item.remove_prefix(1);
        if (item.size() <= name.size() || !item.starts_with(name) || item[name.size()] != '=')
            continue;
        item.remove_prefix(name.size() + 1);
        if (item.size() >= 2 && item.front() == '"' && item.back() == '"')
            item = item.substr(1, item.size() - 2);
        return std::string(item);
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> MultipartPart::formName() const
{
    const auto disposition = header("Content-Disposition");
    return disposition ? parameter(*disposition, "name") : std::nullopt;
}

std::string boundaryOf(std::string_view contentType)
{
    return parameter(contentType, "boundary").value_or("");
}

MultipartReadResult readMultipartBody(std::string_view body, std::string_view boundary)
{
    const auto fail = [](std::string why, std::size_t at) {
        return MultipartReadResult{std::nullopt, why + " at byte " + std::to_string(at)};
    };
    const std::string preamble = "MIME-Version: 1.0\r\n";
    const std::string opening = "--" + std::string(boundary) + "\r\n";
    const std::string closing = "--" + std::string(boundary) + "--\r\n";
    const std::string bodyEnd = "\r\n--" + std::string(boundary);
    if (boundary.empty())
        return fail("empty boundary", 0);
    if (!body.starts_with(preamble))
        return fail("no \"MIME-Version: 1.0\" CRLF preamble", 0);
    std::vector<MultipartPart> parts;
    std::size_t at = preamble.size();
    while (true) {
        const std::string_view rest = body.substr(at);
        if (rest.starts_with(closing)) {
            if (rest.size() != closing.size())
                return fail("bytes after the closing boundary", at + closing.size());
            return {std::move(parts), {}};
        }
        if (!rest.starts_with(opening))
            return fail("no opening boundary line", at);
        at += opening.size();
        MultipartPart part;
        while (true) {
            const auto lineEnd = body.find("\r\n", at);
            if (lineEnd == std::string_view::npos)
                return fail("header line without CRLF", at);
            const std::string_view line = body.substr(at, lineEnd - at);
            at = lineEnd + 2;
            if (line.empty())
                break;
            if (line.find_first_of("\r\n") != std::string_view::npos)
                return fail("bare CR or LF in a header line", at);
            const auto colon = line.find(": ");
            if (colon == std::string_view::npos || colon == 0)
                return fail("header line without \"name: value\"", at);
            part.headers.emplace_back(line.substr(0, colon), line.substr(colon + 2));
        }
        const auto end = body.find(bodyEnd, at);
        if (end == std::string_view::npos)
            return fail("part body without a following boundary", at);
        part.body = body.substr(at, end - at);
        parts.push_back(std::move(part));
        at = end + 2; // the CRLF that ends the body belongs to the delimiter
    }
}

} // namespace testsupport
