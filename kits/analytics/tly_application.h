// The host application as the analytics kit sees it: facts from the main bundle's information
// dictionary, and whether the host is an extension (the uploader asks). Malformed extension entries
// are reported on the console and count as absent, so such a host counts as an application.
#pragma once

#include "foundation/property_list.h"

#include <memory>
#include <optional>
#include <string>

namespace kits {

class TLYApplication {
public:
    // Over this information dictionary; nullptr stands for none.
    explicit TLYApplication(std::shared_ptr<const foundation::PropertyListDictionary> infoPlistDict);
    // Over the main bundle's information dictionary as it is now.
    static TLYApplication hostApplication();

    const std::shared_ptr<const foundation::PropertyListDictionary>& infoPlistDict() const { return infoPlistDict_; }
    std::optional<std::string> bundleIdentifier() const;
    std::optional<std::string> bundleVersion() const;
    std::optional<std::string> shortVersionString() const;

    // "NSExtension" when it is a dictionary; another kind is reported as mal-formed and counts as absent.
    std::optional<foundation::PropertyListDictionary> extensionDefinitionDictionary() const;
    // "NSExtensionPointIdentifier" of that dictionary when it is text; another kind is reported as
    // mal-formed and counts as absent.
    std::optional<std::string> extensionPointIdentifier() const;
    bool isExtension() const { return extensionPointIdentifier().has_value(); }

private:
    std::optional<std::string> text(const char* key) const;

    std::shared_ptr<const foundation::PropertyListDictionary> infoPlistDict_;
};

} // namespace kits
