// The sampled event names and the installation hash.
#include "kits/analytics/tly_event_filter.h"

#include "kits/analytics/tly_event.h"

#include <array>
#include <cstdint>

namespace kits {

namespace {

// Calls `unit` for each UTF-16 unit of the UTF-8 text; a malformed sequence gives one U+FFFD.
template <typename Unit>
void forEachUTF16Unit(std::string_view text, Unit unit)
{
    std::size_t index = 0;
    while (index < text.size()) {
        const auto lead = static_cast<unsigned char>(text[index]);
        std::uint32_t point = 0xFFFD;
        std::size_t length = 1;
        std::size_t extra = 0;
        std::uint32_t minimum = 0;
        if (lead < 0x80) {
            point = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
            point = lead & 0x1F;
            minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            point = lead & 0x0F;
            minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            point = lead & 0x07;
            minimum = 0x10000;
        }
        if (extra > 0) {
            bool good = true;
            for (std::size_t k = 1; good && k <= extra; ++k) {
                if (index + k >= text.size()) {
                    good = false;
                    break;
                }
                const auto next = static_cast<unsigned char>(text[index + k]);
                if ((next & 0xC0) != 0x80)
                    good = false;
                else
                    point = (point << 6) | (next & 0x3F);
            }
            if (good && point >= minimum && point <= 0x10FFFF && !(point >= 0xD800 && point <= 0xDFFF))
                length = extra + 1;
            else
                point = 0xFFFD;
        }
        if (point >= 0x10000) {
            point -= 0x10000;
            unit(static_cast<std::uint16_t>(0xD800 + (point >> 10)));
            unit(static_cast<std::uint16_t>(0xDC00 + (point & 0x3FF)));
        } else {
            unit(static_cast<std::uint16_t>(point));
        }
        index += length;
    }
}

} // namespace

bool TLYEventFilter::samplingEnabledForEventType(std::string_view name) const
{
    static constexpr std::array<std::string_view, 8> sampled{
        "app_launched",           "app_terminated",         "app_crashed",         "app_memory_warning",
        "app_entered_background", "app_entered_foreground", "app_became_inactive", "app_became_active"};
    for (const auto candidate : sampled)
        if (candidate == name)
            return true;
    return false;
}

bool TLYEventFilter::shouldDiscardEvent(const TLYEvent* event, const std::optional<std::string>& betaToken,
                                        const std::optional<std::string>& installationID, std::int64_t factor) const
{
    if (!event)
        return true;
    if (betaToken)
        return false;
    if (!samplingEnabledForEventType(event->name()))
        return false;
    return shouldDiscardEventWithInstallationID(installationID, factor);
}

bool TLYEventFilter::shouldDiscardEventWithInstallationID(const std::optional<std::string>& installationID,
                                                          std::int64_t samplingFactor) const
{
    if (!installationID || samplingFactor < 2)
        return false;
    return static_cast<std::int64_t>(javaHashCodeForString(*installationID)) % samplingFactor != 0;
}

std::int32_t TLYEventFilter::javaHashCodeForString(std::string_view text)
{
    std::uint32_t hash = 0; // unsigned arithmetic wraps as the signed 32-bit hash does
    forEachUTF16Unit(text, [&](std::uint16_t unit) { hash = hash * 31u + unit; });
    return static_cast<std::int32_t>(hash);
}

} // namespace kits
