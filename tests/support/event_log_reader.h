// Reads the analytics kit's event logs for tests: lines ended by one LF, each "<milliseconds>\t<name>
// \t<payload byte count>\t<JSON payload>". Anything else (a count that does not match, a missing
// field, a CR, an unterminated last line) is an error naming the line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

struct EventLogLine {
    std::uint64_t timestampMilliseconds = 0;
    std::string name;
    std::string payload; // the JSON text as written
};

struct EventLogReadResult {
    std::optional<std::vector<EventLogLine>> lines;
    std::string error; // empty when there are lines
};

EventLogReadResult readEventLog(std::string_view text);

} // namespace testsupport
