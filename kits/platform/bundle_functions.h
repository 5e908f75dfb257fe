// The host bundle's facts as the kits read them from foundation::MainBundle's information dictionary
// (nothing is cached: each call reads the dictionary as it is now).
#pragma once

#include "foundation/property_list.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kits {

// Where the application came from, as the settings query and the crash kit send it.
enum class KSTInstallSource : std::int64_t {
    developer = 1,
    signedForDistribution = 3,
    appStore = 4,
};

// "CFBundleIdentifier" with every "/" replaced by "_"; nothing without an identifier.
std::optional<std::string> KSTEscapedBundleIdentifier();
std::optional<std::string> KSTBundleVersion();
std::optional<std::string> KSTBundleShortVersionString();
// "CFBundleDisplayName", else "CFBundleName", else "CFBundleVersion".
std::optional<std::string> KSTBundleDisplayName();
// No store receipts on Linux: always false.
bool KSTIsAppStoreReceiptPresent();
// The Boolean value of top-level "BlackboxSignedForDistribution"; false when absent.
bool KSTIsSignedForDistribution();
KSTInstallSource KSTAppInstallSource();
// "Keystone"/"ReportIdentifiers", else top-level "BlackboxCollectDeviceIdentifiers", else true.
bool KSTShouldReportDeviceIdentifiers();

// The Boolean value of a setting as the platform's number and string values gave it: a Boolean is
// itself, a number is true when not zero, a string is true when it starts (after white space and a
// sign) with "Y", "y", "T", "t" or a non-zero digit; anything else is false.
bool KSTBoolValue(const foundation::PropertyListValue& value);

} // namespace kits
