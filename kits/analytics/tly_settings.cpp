// Reading the analytics values of the kit settings.
#include "kits/analytics/tly_settings.h"

#include <cmath>
#include <limits>

namespace kits {

TLYSettings::TLYSettings(std::shared_ptr<const foundation::PropertyListDictionary> settingsDictionary)
    : settingsDictionary_(std::move(settingsDictionary))
{}

const foundation::PropertyListValue* TLYSettings::value(const char* section, const char* key) const
{
    if (!settingsDictionary_)
        return nullptr;
    const auto* inner = settingsDictionary_->get<foundation::PropertyListDictionary>(section);
    return inner ? inner->find(key) : nullptr;
}

bool TLYSettings::boolean(const char* section, const char* key, bool fallback) const
{
    const auto* found = value(section, key);
    if (!found)
        return fallback;
    if (const auto* flag = found->get<bool>())
        return *flag;
    if (const auto* number = found->get<std::int64_t>())
        return *number != 0;
    if (const auto* number = found->get<double>())
        return *number != 0;
    return fallback;
}

std::int64_t TLYSettings::integer(const char* section, const char* key, std::int64_t fallback) const
{
    const auto* found = value(section, key);
    if (!found)
        return fallback;
    if (const auto* number = found->get<std::int64_t>())
        return *number;
    if (const auto* flag = found->get<bool>())
        return *flag ? 1 : 0;
    if (const auto* number = found->get<double>()) {
        // A number out of range or not a number at all cannot be an integer setting.
        if (!std::isfinite(*number) || std::fabs(*number) >= 9.2e18)
            return fallback;
        return static_cast<std::int64_t>(*number);
    }
    return fallback;
}

double TLYSettings::real(const char* section, const char* key, double fallback) const
{
    const auto* found = value(section, key);
    if (!found)
        return fallback;
    if (const auto* number = found->get<double>())
        return std::isfinite(*number) ? *number : fallback;
    if (const auto* number = found->get<std::int64_t>())
        return static_cast<double>(*number);
    if (const auto* flag = found->get<bool>())
        return *flag ? 1.0 : 0.0;
    return fallback;
}

std::optional<std::string> TLYSettings::tallyURL() const
{
    const auto* found = value("analytics", "url");
    const auto* text = found ? found->get<std::string>() : nullptr;
    if (!text || text->empty())
        return std::nullopt;
    return *text;
}

bool TLYSettings::shouldCollectAnalytics() const
{
    return boolean("features", "collect_analytics", true);
}

bool TLYSettings::shouldCollectCustomEvents() const
{
    return boolean("analytics", "track_custom_events", true);
}

bool TLYSettings::shouldCollectPredefinedEvents() const
{
    return boolean("analytics", "track_predefined_events", true);
}

std::int64_t TLYSettings::maximumPayloadSize() const
{
    return integer("analytics", "max_byte_size_per_file", 8000);
}

std::int64_t TLYSettings::maxPendingSendFiles() const
{
    return integer("analytics", "max_pending_send_file_count", 100);
}

double TLYSettings::flushInterval() const
{
    return real("analytics", "flush_interval_secs", 0.0);
}

std::int64_t TLYSettings::samplingRate() const
{
    return integer("analytics", "sampling_rate", 1);
}

double TLYSettings::defaultUploadTimeout() const
{
    return real("analytics", "upload_timeout_secs", 21600.0);
}

double TLYSettings::lowPowerUploadTimeout() const
{
    return real("analytics", "low_power_upload_timeout_secs", 3600.0);
}

foundation::PropertyListDictionary TLYSettings::analyticsSection() const
{
    if (!settingsDictionary_)
        return {};
    const auto* inner = settingsDictionary_->get<foundation::PropertyListDictionary>("analytics");
    return inner ? *inner : foundation::PropertyListDictionary{};
}

} // namespace kits
