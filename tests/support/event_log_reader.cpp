// Strict event-log reading: four tab-separated fields, the third the UTF-8 byte count of the fourth.
#include "event_log_reader.h"

#include <charconv>

namespace testsupport {

namespace {

bool readNumber(std::string_view text, std::uint64_t& value)
{
    if (text.empty() || text.size() > 20)
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

} // namespace

EventLogReadResult readEventLog(std::string_view text)
{
    std::vector<EventLogLine> lines;
    std::size_t number = 0;
    while (!text.empty()) {
        ++number;
        const auto fail = [&](const std::string& why) {
            return EventLogReadResult{std::nullopt, "line " + std::to_string(number) + ": " + why};
        };
        const auto end = text.find('\n');
        if (end == std::string_view::npos)
            return fail("no line feed at its end");
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        if (line.find('\r') != std::string_view::npos)
            return fail("carriage return");
        const auto first = line.find('\t');
        const auto second = first == std::string_view::npos ? first : line.find('\t', first + 1);
        const auto third = second == std::string_view::npos ? second : line.find('\t', second + 1);
        if (third == std::string_view::npos)
            return fail("fewer than four tab-separated fields");
        EventLogLine entry;
        std::uint64_t length = 0;
        if (!readNumber(line.substr(0, first), entry.timestampMilliseconds))
            return fail("timestamp is no unsigned decimal");
        entry.name = line.substr(first + 1, second - first - 1);
        if (entry.name.empty())
            return fail("empty event name");
        if (!readNumber(line.substr(second + 1, third - second - 1), length))
            return fail("payload length is no unsigned decimal");
        entry.payload = line.substr(third + 1);
        if (entry.payload.size() != length)
            return fail("payload is " + std::to_string(entry.payload.size()) + " bytes, the line says "
                        + std::to_string(length));
        lines.push_back(std::move(entry));
    }
    return {std::move(lines), {}};
}

} // namespace testsupport
