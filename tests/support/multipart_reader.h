// A strict reader of the kits' multipart bodies for tests: the exact "MIME-Version: 1.0" preamble,
// CRLF line ends, every part opened by "--<boundary>" and the closing boundary as the last bytes.
// Any deviation is an error naming where it happened.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testsupport {

struct MultipartPart {
    std::vector<std::pair<std::string, std::string>> headers; // in order, names as written
    std::string body;
    // The first header of that name (exact case), or nothing.
    std::optional<std::string> header(std::string_view name) const;
    // The name its "Content-Disposition" gives the part (`form-data; name="x"`), or nothing.
    std::optional<std::string> formName() const;
};

struct MultipartReadResult {
    std::optional<std::vector<MultipartPart>> parts;
    std::string error; // empty when there are parts
};

MultipartReadResult readMultipartBody(std::string_view body, std::string_view boundary);

// The boundary a "Content-Type" value names (`multipart/form-data; boundary=B`), or "" when it names none.
std::string boundaryOf(std::string_view contentType);

} // namespace testsupport
