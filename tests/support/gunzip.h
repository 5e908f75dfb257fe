// Inflates gzip data (one or more members) in memory through zlib, for checking the kits' compressed
// event logs and packages in tests. Corrupt or truncated data is an error, never a partial result.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace testsupport {

struct GunzipResult {
    std::optional<std::string> bytes;
    std::string error; // empty when there are bytes
};

GunzipResult gunzip(std::string_view compressed);

} // namespace testsupport
