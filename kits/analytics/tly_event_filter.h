// Sampling of the analytics kit: the life-cycle events of an installation are all kept or all dropped,
// by the installation identifier's hash modulo the settings' sampling rate; custom and predefined
// events, and every event of a beta build, are always kept.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kits {

class TLYEvent;

class TLYEventFilter {
public:
    bool shouldDiscardEvent(const TLYEvent* event, const std::optional<std::string>& betaToken,
                            const std::optional<std::string>& installationID, std::int64_t factor) const;
    bool samplingEnabledForEventType(std::string_view name) const;
    bool shouldDiscardEventWithInstallationID(const std::optional<std::string>& installationID,
                                              std::int64_t samplingFactor) const;
    // 31 × hash + unit over the text's UTF-16 units, wrapping in signed 32 bits (invalid UTF-8 counts
    // as U+FFFD).
    static std::int32_t javaHashCodeForString(std::string_view text);
};

} // namespace kits
