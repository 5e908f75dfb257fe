// The metadata of the analytics benchmarks' events: what a host fills in, with fresh identifiers.
#pragma once

#include "kits/analytics/tly_metadata.h"
#include "kits/platform/host_functions.h"

#include <memory>

namespace bench {

inline std::shared_ptr<const kits::TLYMetadata> tallyMetadata()
{
    kits::TLYMetadata::Fields fields{}; // value-initialised: GCC 12 takes the optionals for uninitialised here
    fields.APIKey = "0123abcd";
    fields.installationId = kits::KSTGenerateUUIDString();
    fields.executionIdentifier = kits::KSTGenerateUUIDString();
    fields.bundleIdentifier = "org.horavine.Horavine";
    fields.locale = "en_US";
    fields.numberOfCores = 8;
    return std::make_shared<const kits::TLYMetadata>(fields);
}

} // namespace bench
