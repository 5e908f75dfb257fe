// The host application's facts for the analytics kit.
#include "kits/analytics/tly_application.h"

#include "foundation/main_bundle.h"
#include "kits/platform/kit_log.h"
#include "kits/platform/kst_value_description.h"

namespace kits {

TLYApplication::TLYApplication(std::shared_ptr<const foundation::PropertyListDictionary> infoPlistDict)
    : infoPlistDict_(std::move(infoPlistDict))
{}

TLYApplication TLYApplication::hostApplication()
{
    return TLYApplication(foundation::MainBundle::infoDictionary());
}

std::optional<std::string> TLYApplication::text(const char* key) const
{
    const std::string* value = infoPlistDict_ ? infoPlistDict_->get<std::string>(key) : nullptr;
    return value ? std::optional<std::string>(*value) : std::nullopt;
}

std::optional<std::string> TLYApplication::bundleIdentifier() const
{
    return text("CFBundleIdentifier");
}

std::optional<std::string> TLYApplication::bundleVersion() const
{
    return text("CFBundleVersion");
}

std::optional<std::string> TLYApplication::shortVersionString() const
{
    return text("CFBundleShortVersionString");
}

std::optional<foundation::PropertyListDictionary> TLYApplication::extensionDefinitionDictionary() const
{
    const foundation::PropertyListValue* value = infoPlistDict_ ? infoPlistDict_->find("NSExtension") : nullptr;
    if (!value)
        return std::nullopt;
    if (const auto* dictionary = value->get<foundation::PropertyListDictionary>())
        return *dictionary;
    kitLog("Error: NSExtension Info.plist entry is mal-formed " + KSTValueDescription(*value));
    return std::nullopt;
}

std::optional<std::string> TLYApplication::extensionPointIdentifier() const
{
    const auto extension = extensionDefinitionDictionary();
    const foundation::PropertyListValue* value = extension ? extension->find("NSExtensionPointIdentifier") : nullptr;
    if (!value)
        return std::nullopt;
    if (const auto* identifier = value->get<std::string>())
        return *identifier;
    kitLog("Error: NSExtensionPointIdentifier Info.plist entry is mal-formed");
    return std::nullopt;
}

} // namespace kits
