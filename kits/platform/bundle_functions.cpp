// The host-bundle functions over the main-bundle stand-in.
#include "kits/platform/bundle_functions.h"

#include "foundation/main_bundle.h"

#include <algorithm>

namespace kits {

namespace {

std::optional<std::string> infoString(std::string_view key)
{
    const auto value = foundation::MainBundle::objectForInfoDictionaryKey(key);
    const std::string* text = value ? value->get<std::string>() : nullptr;
    return text ? std::optional(*text) : std::nullopt;
}

bool stringBoolValue(std::string_view text)
{
    std::size_t position = 0;
    while (position < text.size() && (text[position] == ' ' || text[position] == '\t' || text[position] == '\n'))
        ++position;
    if (position < text.size() && (text[position] == '+' || text[position] == '-'))
        ++position;
    while (position < text.size() && text[position] == '0')
        ++position;
    if (position == text.size())
        return false;
    const char first = text[position];
    return first == 'Y' || first == 'y' || first == 'T' || first == 't' || (first >= '1' && first <= '9');
}

} // namespace

bool KSTBoolValue(const foundation::PropertyListValue& value)
{
    if (const bool* flag = value.get<bool>())
        return *flag;
    if (const std::int64_t* integer = value.get<std::int64_t>())
        return *integer != 0;
    if (const double* real = value.get<double>())
        return *real != 0;
    if (const std::string* text = value.get<std::string>())
        return stringBoolValue(*text);
    return false;
}

std::optional<std::string> KSTEscapedBundleIdentifier()
{
    auto identifier = foundation::MainBundle::bundleIdentifier();
    if (identifier)
        std::replace(identifier->begin(), identifier->end(), '/', '_');
    return identifier;
}

std::optional<std::string> KSTBundleVersion()
{
    return infoString("CFBundleVersion");
}

std::optional<std::string> KSTBundleShortVersionString()
{
    return infoString("CFBundleShortVersionString");
}

std::optional<std::string> KSTBundleDisplayName()
{
    if (auto name = infoString("CFBundleDisplayName"))
        return name;
    if (auto name = infoString("CFBundleName"))
        return name;
    return KSTBundleVersion();
}

bool KSTIsAppStoreReceiptPresent()
{
    return false;
}

bool KSTIsSignedForDistribution()
{
    const auto value = foundation::MainBundle::objectForInfoDictionaryKey("BlackboxSignedForDistribution");
    return value && KSTBoolValue(*value);
}

KSTInstallSource KSTAppInstallSource()
{
    if (KSTIsAppStoreReceiptPresent())
        return KSTInstallSource::appStore;
    if (KSTIsSignedForDistribution())
        return KSTInstallSource::signedForDistribution;
    return KSTInstallSource::developer;
}

bool KSTShouldReportDeviceIdentifiers()
{
    const auto info = foundation::MainBundle::infoDictionary();
    if (!info)
        return true;
    if (const auto* keystone = info->get<foundation::PropertyListDictionary>("Keystone")) {
        if (const auto* report = keystone->find("ReportIdentifiers"))
            return KSTBoolValue(*report);
    }
    if (const auto* collect = info->find("BlackboxCollectDeviceIdentifiers"))
        return KSTBoolValue(*collect);
    return true;
}

} // namespace kits
