// The running executable's identity as the kits send it: the UUID of each architecture slice (on
// Linux one slice, named after the ELF machine, whose UUID is the first 16 bytes of the build ID),
// an instance identifier derived from them, the installation UUID, the icon and the SDK versions
// (none on Linux: "0.0.0").
#pragma once

#include "kits/platform/kst_icon.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace kits {

struct KSTSDKVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t bugfix = 0;
};

class KSTApplicationIdentiferModel {
public:
    // The model of the running executable; nothing when its file cannot be read.
    static std::unique_ptr<KSTApplicationIdentiferModel> initWithInstallID(std::string installID);
    // The same for the executable at `executable` (tests).
    static std::unique_ptr<KSTApplicationIdentiferModel> initWithInstallID(std::string installID,
                                                                           const std::filesystem::path& executable);

    // The SHA-1 of the slices' UUID texts in the order of their architecture names.
    static std::string instanceIdentifierOfArchitectureUUIDMap(const std::map<std::string, std::string>& map);

    const std::map<std::string, std::string>& architectureUUIDMap() const { return architectureUUIDMap_; }
    const std::string& installID() const { return installID_; }
    const std::optional<KSTIcon>& icon() const { return icon_; }
    const std::optional<std::string>& bundleIdentifier() const { return bundleIdentifier_; }
    const std::string& instanceIdentifier() const { return instanceIdentifier_; }
    KSTSDKVersion builtSDK() const { return builtSDK_; }
    KSTSDKVersion minimumSDK() const { return minimumSDK_; }
    std::string builtSDKString() const;
    std::string minimumSDKString() const;

private:
    KSTApplicationIdentiferModel() = default;
    bool computeExecutableInfo(const std::filesystem::path& executable);
    bool computeInstanceIdentifier();

    std::map<std::string, std::string> architectureUUIDMap_; // ordered by name, as the identifier wants
    std::string installID_;
    std::optional<KSTIcon> icon_;
    std::optional<std::string> bundleIdentifier_;
    std::string instanceIdentifier_;
    KSTSDKVersion builtSDK_;
    KSTSDKVersion minimumSDK_;
};

} // namespace kits
