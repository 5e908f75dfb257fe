// Session metadata from its sources, its payload, and the crash metadata file (read whole, written
// under a temporary name and renamed, so a crash while writing leaves the old file or the new one).

#include "kits/analytics/tly_metadata.h"

#include "foundation/locale_id.h"
#include "foundation/property_list_json.h"
#include "kits/platform/atomic_file.h"
#include "kits/platform/bundle_functions.h"
#include "kits/platform/host_functions.h"
#include "kits/platform/keystone.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace kits {

std::string TLYMetadataSerializable::eventName() const
{
    return "metadata";
}

TLYMetadata::TLYMetadata(Fields fields) : fields_(std::move(fields)) {}

TLYMetadata TLYMetadata::initWithKeystone(Keystone& keystone, const std::optional<std::string>& betaToken)
{
    const long cores = ::sysconf(_SC_NPROCESSORS_CONF);
    return TLYMetadata(Fields{
        .APIKey = keystone.APIKey(),
        .betaToken = unwrapBetaToken(betaToken),
        .buildVersion = KSTBundleVersion(),
        .bundleIdentifier = KSTEscapedBundleIdentifier(),
        .displayVersion = KSTBundleShortVersionString(),
        .executionIdentifier = keystone.executionIdentifier(),
        .hostModel = KSTHostModelName(),
        .installationId = keystone.installID(),
        .instanceIdentifier = keystone.instanceIdentifier(),
        .isJailbroken = computeIsJailbroken(),
        .locale = foundation::localeIdFromEnvironment(foundation::LocaleCategory::messages),
        .numberOfCores = cores > 0 ? static_cast<std::uint32_t>(cores) : 0,
        .OSBuildVersion = KSTHostOSBuildVersion(),
        .OSDisplayVersion = KSTHostOSDisplayVersion(),
    });
}

std::optional<std::string> TLYMetadata::unwrapBetaToken(const std::optional<std::string>& token)
{
    if (!token)
        return std::nullopt;
    const auto colon = token->find(':');
    if (colon == std::string::npos || token->find(':', colon + 1) != std::string::npos)
        return std::nullopt;
    if (token->compare(0, colon, "2") != 0)
        return std::nullopt;
    return token->substr(colon + 1);
}

std::optional<foundation::PropertyListDictionary>
TLYMetadata::dictionaryRepresentationWithStartTime(std::uint64_t startTime) const
{
    foundation::PropertyListDictionary payload;
    const auto setText = [&payload](const char* key, const std::optional<std::string>& value) {
        if (value)
            payload.set(key, *value);
    };
    payload.set("generator", "Tally Mac SDK/1.3.4");
    setText("api_key", fields_.APIKey);
    setText("session_id", fields_.executionIdentifier);
    payload.set("started_at", static_cast<std::int64_t>(startTime));
    setText("advertising_id", identifierForAdvertising());
    setText("beta_tester_token", fields_.betaToken);
    payload.set("links_ad_support", advertisingSupportFrameworkLinked());
    payload.set("advertising_tracking_enabled", trackingForAdvertisingEnabled());
    setText("install_id", fields_.installationId);
    setText("model", fields_.hostModel);
    setText("machine", fields_.hostModel);
    setText("locale", fields_.locale);
    setText("os_build", fields_.OSBuildVersion);
    setText("os_version", fields_.OSDisplayVersion);
    payload.set("platform", fields_.platform);
    payload.set("platform_code", static_cast<std::int64_t>(platformCode()));
    payload.set("cores", static_cast<std::int64_t>(fields_.numberOfCores));
    payload.set("jailbroken", fields_.isJailbroken);
    setText("bundle_id", fields_.bundleIdentifier);
    setText("bundle_version", fields_.buildVersion);
    setText("bundle_short_version", fields_.displayVersion);
    setText("instance_id", fields_.instanceIdentifier);
    return payload;
}

TLYCrashMetadata::TLYCrashMetadata(std::optional<foundation::PropertyListDictionary> dictionary)
    : dictionary_(std::move(dictionary))
{}

std::optional<foundation::PropertyListDictionary>
TLYCrashMetadata::dictionaryRepresentationWithStartTime(std::uint64_t) const
{
    return dictionary_;
}

std::optional<foundation::PropertyListDictionary>
TLYCrashMetadata::readSerializedDictionaryFromURL(const std::filesystem::path& url)
{
    std::ifstream file(url, std::ios::binary);
    if (!file)
        return std::nullopt;
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (file.bad())
        return std::nullopt;
    return dictionaryFromSerializedData(text);
}

std::optional<foundation::PropertyListDictionary> TLYCrashMetadata::dictionaryFromSerializedData(std::string_view bytes)
{
    auto parsed = foundation::propertyListFromJSON(bytes);
    if (!parsed)
        return std::nullopt;
    if (auto* dictionary = parsed.value->get<foundation::PropertyListDictionary>())
        return std::move(*dictionary);
    return std::nullopt;
}

bool TLYCrashMetadata::writeSerializedDictionary(const foundation::PropertyListDictionary& dictionary,
                                                 const std::filesystem::path& url)
{
    return writeFileAtomically(url, foundation::jsonFromPropertyList(dictionary), 0644);
}

} // namespace kits
