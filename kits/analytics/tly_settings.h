// The analytics kit's view of the downloaded kit settings: valid once there is a dictionary, each
// value read from it at each call with its default when missing (or not a number). Linux builds in no
// events endpoint: without "analytics"/"url" there is nowhere to upload to.
#pragma once

#include "foundation/property_list.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kits {

class TLYSettings {
public:
    explicit TLYSettings(std::shared_ptr<const foundation::PropertyListDictionary> settingsDictionary = nullptr);

    const std::shared_ptr<const foundation::PropertyListDictionary>& settingsDictionary() const
    {
        return settingsDictionary_;
    }
    bool valid() const { return settingsDictionary_ != nullptr; }

    std::optional<std::string> tallyURL() const;
    bool shouldCollectAnalytics() const;
    bool shouldCollectCustomEvents() const;
    bool shouldCollectPredefinedEvents() const;
    std::int64_t maximumPayloadSize() const;
    std::int64_t maxPendingSendFiles() const;
    double flushInterval() const;
    std::int64_t samplingRate() const;
    double defaultUploadTimeout() const;
    double lowPowerUploadTimeout() const;
    // The "analytics" section, for the console; empty when missing.
    foundation::PropertyListDictionary analyticsSection() const;

private:
    const foundation::PropertyListValue* value(const char* section, const char* key) const;
    bool boolean(const char* section, const char* key, bool fallback) const;
    std::int64_t integer(const char* section, const char* key, std::int64_t fallback) const;
    double real(const char* section, const char* key, double fallback) const;

    std::shared_ptr<const foundation::PropertyListDictionary> settingsDictionary_;
};

} // namespace kits
