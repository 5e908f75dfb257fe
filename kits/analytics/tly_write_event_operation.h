// Appends one event to an event log: a new file first gets the metadata line, then every event is one
// line "<milliseconds>\t<name>\t<payload bytes>\t<JSON payload>\n". Both lines are formed when the
// operation is made; a line is either written whole or not at all.
#pragma once

#include "foundation/clock.h"
#include "foundation/operation_queue.h"
#include "foundation/property_list.h"
#include "kits/analytics/tly_event.h"
#include "kits/analytics/tly_metadata.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace kits {

class TLYWriteEventOperation final : public foundation::Operation {
public:
    TLYWriteEventOperation(std::shared_ptr<const TLYEvent> event,
                           std::shared_ptr<const TLYMetadataSerializable> metadata, std::filesystem::path logFileUrl);

    void main() override;

    // Whether the event's line (and, for a new file, the metadata line) went into the file.
    bool success() const { return success_.load(); }
    const std::shared_ptr<const TLYEvent>& event() const { return event_; }
    const std::filesystem::path& logFileUrl() const { return logFileUrl_; }
    const std::optional<std::string>& formattedEvent() const { return formattedEvent_; }
    const std::optional<std::string>& formattedMetadata() const { return formattedMetadata_; }

    // Milliseconds since 1970 of a time, truncated (0 before 1970).
    static std::uint64_t millisecondsSince1970(foundation::Date date);
    // The line without its line feed; nothing without a payload.
    static std::optional<std::string>
    logLineWithTimestamp(std::uint64_t milliseconds, const std::string& eventName,
                         const std::optional<foundation::PropertyListDictionary>& payload);
    // Appends the line and a line feed in at most three write calls; false when not all of it went in.
    static bool appendLogLine(const std::string& line, int fileDescriptor);

private:
    bool writeDataToDescriptor(int fileDescriptor, bool preexistingFile) const;

    std::shared_ptr<const TLYEvent> event_;
    std::shared_ptr<const TLYMetadataSerializable> metadata_;
    std::filesystem::path logFileUrl_;
    std::optional<std::string> formattedEvent_;
    std::optional<std::string> formattedMetadata_;
    std::atomic<bool> success_{false};
};

} // namespace kits
