// The built-in information dictionary.
#include "app/info_dictionary.h"
#include "foundation/property_list.h"

#ifndef HORAVINE_VERSION
#define HORAVINE_VERSION "0.0.0"
#endif
#ifndef HORAVINE_KIT_API_KEY
#define HORAVINE_KIT_API_KEY "packaging-placeholder-api-key"
#endif

namespace app {

const InfoDictionary& infoDictionary()
{
    static const InfoDictionary dictionary{
        {"CFBundleIdentifier", "org.horavine.Horavine"},
        {"CFBundleName", "Horavine"},
        {"CFBundleVersion", HORAVINE_VERSION},
        {"CFBundleShortVersionString", HORAVINE_VERSION},
        {"AppSupportEmail", "support@horavine.org"},
        {"AppWebsiteURL", "https://horavine.org/"},
        // Software centres open appstream links at the program's page, where it can be rated.
        {"AppStoreURL", "appstream://org.horavine.Horavine"},
        {"NSHumanReadableCopyright", "Copyright © 2024 The Horavine developers. All rights reserved."},
        // The kits' configuration: they start with this key; with no endpoints configured they send nothing.
        {"Keystone", foundation::PropertyListDictionary{{"APIKey", HORAVINE_KIT_API_KEY},
                                                        {"Kits", foundation::PropertyListArray{}}}},
    };
    return dictionary;
}

const std::string* infoString(const InfoDictionary& dictionary, std::string_view key)
{
    return dictionary.get<std::string>(key);
}

} // namespace app
