// The built-in information dictionary.
#include "app/info_dictionary.h"

#ifndef HORAVINE_VERSION
#define HORAVINE_VERSION "0.0.0"
#endif

namespace app {

const InfoDictionary& infoDictionary()
{
    static const InfoDictionary dictionary{
        {"AppSupportEmail", std::string("support@horavine.org")},
        {"AppWebsiteURL", std::string("https://horavine.org/")},
        // Software centres open appstream links at the program's page, where it can be rated.
        {"AppStoreURL", std::string("appstream://org.horavine.Horavine")},
        {"CFBundleShortVersionString", std::string(HORAVINE_VERSION)},
        {"NSHumanReadableCopyright", std::string("Copyright © 2024 The Horavine developers. All rights reserved.")},
    };
    return dictionary;
}

const std::string* infoString(const InfoDictionary& dictionary, std::string_view key)
{
    auto found = dictionary.find(key);
    return found == dictionary.end() ? nullptr : std::get_if<std::string>(&found->second);
}

} // namespace app
