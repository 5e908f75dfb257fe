// The application's identity from the ELF file of the running executable.
#include "kits/platform/kst_application_identifier_model.h"

#include "kits/platform/bundle_functions.h"
#include "kits/platform/host_functions.h"
#include "system/elf_identity.h"

namespace kits {

namespace {

std::string versionText(KSTSDKVersion version)
{
    return std::to_string(version.major) + "." + std::to_string(version.minor) + "." + std::to_string(version.bugfix);
}

} // namespace

std::unique_ptr<KSTApplicationIdentiferModel> KSTApplicationIdentiferModel::initWithInstallID(std::string installID)
{
    return initWithInstallID(std::move(installID), os::runningExecutablePath());
}

std::unique_ptr<KSTApplicationIdentiferModel>
KSTApplicationIdentiferModel::initWithInstallID(std::string installID, const std::filesystem::path& executable)
{
    std::unique_ptr<KSTApplicationIdentiferModel> model(new KSTApplicationIdentiferModel());
    if (!model->computeExecutableInfo(executable) || !model->computeInstanceIdentifier())
        return nullptr;
    model->icon_ = KSTAppIconUtility().applicationIcon();
    model->installID_ = std::move(installID);
    model->bundleIdentifier_ = KSTEscapedBundleIdentifier();
    return model;
}

bool KSTApplicationIdentiferModel::computeExecutableInfo(const std::filesystem::path& executable)
{
    const auto elf = os::readElfIdentity(executable);
    if (!elf)
        return false;
    // Without a build ID of UUID length the map stays empty, as for an image without LC_UUID.
    if (!elf.identity->uuid.empty())
        architectureUUIDMap_[elf.identity->architecture] = elf.identity->uuid;
    return true;
}

bool KSTApplicationIdentiferModel::computeInstanceIdentifier()
{
    instanceIdentifier_ = instanceIdentifierOfArchitectureUUIDMap(architectureUUIDMap_);
    return true;
}

std::string
KSTApplicationIdentiferModel::instanceIdentifierOfArchitectureUUIDMap(const std::map<std::string, std::string>& map)
{
    std::string joined;
    for (const auto& [architecture, uuid] : map) // std::map orders by plain byte comparison
        joined += uuid;
    return KSTSHA1HexOfBytes(joined.data(), static_cast<std::uint32_t>(joined.size()));
}

std::string KSTApplicationIdentiferModel::builtSDKString() const
{
    return versionText(builtSDK_);
}

std::string KSTApplicationIdentiferModel::minimumSDKString() const
{
    return versionText(minimumSDK_);
}

} // namespace kits
