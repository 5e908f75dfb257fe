// The launch's metadata from the kit platform's host and bundle functions. Linux counterparts: the
// machine is uname's, the processor the first "model name" of /proc/cpuinfo, the executable the
// program's ELF identity (no SDK versions, never encrypted).
#include "kits/crash/capture/bbx_metadata.h"

#include "kits/crash/capture/bbx_binary_image.h"
#include "kits/crash/capture/bbx_context.h"
#include "kits/crash/capture/bbx_file.h"
#include "kits/crash/capture/bbx_procfs.h"
#include "kits/crash/capture/bbx_sdk_log.h"
#include "kits/crash/capture/bbx_support.h"

#include "foundation/locale_id.h"
#include "kits/platform/bundle_functions.h"
#include "kits/platform/host_functions.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <sys/utsname.h>

namespace {

constexpr const char* failed = "(failed)";

const char* textOrNull(const std::optional<std::string>& text)
{
    return text ? text->c_str() : nullptr;
}

std::string machineName()
{
    utsname names{};
    if (::uname(&names) != 0)
        return failed;
    return names.machine;
}

// Read into a 128-byte buffer, as a system setting would be.
std::string processorName()
{
    char cpuinfo[8192];
    std::size_t length = 0;
    char name[128];
    if (!BBXReadProcFile("/proc/cpuinfo", cpuinfo, sizeof cpuinfo, &length)
        || !BBXParseCpuModelName(cpuinfo, length, name, sizeof name))
        return failed;
    return name;
}

bool writeIdentity(BBXFile* file, const BBXContextInitData& data)
{
    bool ok = BBXFileWriteSectionStart(file, "identity") && BBXFileWriteHashStart(file);
    ok = ok && BBXFileWriteHashEntryString(file, "generator", "Blackbox Mac SDK/3.8.4");
    ok = ok && BBXFileWriteHashEntryString(file, "build_version", "121");
    ok = ok && BBXFileWriteHashEntryString(file, "display_version", "3.8.4");
    ok = ok && BBXFileWriteHashEntryString(file, "api_key", data.apiKey);
    ok = ok && BBXFileWriteHashEntryUint64(file, "started_at", static_cast<std::uint64_t>(std::time(nullptr)));
    ok = ok && BBXFileWriteHashEntryString(file, "session_id", data.reportIdentifier);
    ok = ok && BBXFileWriteHashEntryString(file, "install_id", data.installIdentifier);
    ok = ok && BBXFileWriteHashEntryString(file, "beta_token", data.betaToken);
    ok = ok && BBXFileWriteHashEntryBoolean(file, "absolute_log_timestamps", true);
    return ok && BBXFileWriteHashEnd(file) && BBXFileWriteSectionEnd(file);
}

bool writeHost(BBXFile* file)
{
    const std::string locale = foundation::localeIdFromEnvironment(foundation::LocaleCategory::messages);
    bool ok = BBXFileWriteSectionStart(file, "host") && BBXFileWriteHashStart(file);
    ok = ok && BBXFileWriteHashEntryString(file, "model", textOrNull(kits::KSTHostModelName()));
    ok = ok && BBXFileWriteHashEntryString(file, "machine", machineName().c_str());
    ok = ok && BBXFileWriteHashEntryString(file, "cpu", processorName().c_str());
    ok = ok && BBXFileWriteHashEntryString(file, "os_build_version", textOrNull(kits::KSTHostOSBuildVersion()));
    ok = ok && BBXFileWriteHashEntryString(file, "os_display_version", kits::KSTHostOSDisplayVersion().c_str());
    ok = ok && BBXFileWriteHashEntryString(file, "platform", "mac");
    ok = ok && BBXFileWriteHashEntryString(file, "locale", locale.c_str());
    return ok && BBXFileWriteHashEnd(file) && BBXFileWriteSectionEnd(file);
}

bool writeApplication(BBXFile* file, const BBXContextInitData& data)
{
    bool ok = BBXFileWriteSectionStart(file, "application") && BBXFileWriteHashStart(file);
    ok = ok && BBXFileWriteHashEntryString(file, "bundle_id", textOrNull(kits::KSTEscapedBundleIdentifier()));
    ok = ok && BBXFileWriteHashEntryString(file, "custom_bundle_id", data.customBundleIdentifier);
    ok = ok && BBXFileWriteHashEntryString(file, "build_version", textOrNull(kits::KSTBundleVersion()));
    ok = ok && BBXFileWriteHashEntryString(file, "display_version", textOrNull(kits::KSTBundleShortVersionString()));
    ok = ok && BBXFileWriteHashEntryString(file, "extension_id", textOrNull(BBXApplicationExtensionPointIdentifier()));
    return ok && BBXFileWriteHashEnd(file) && BBXFileWriteSectionEnd(file);
}

} // namespace

bool BBXContextRecordMetadata(const BBXContextInitData& initData)
{
    if (!initData.reportDirectory)
        return false;
    const std::string path = std::string(initData.reportDirectory) + "/metadata.bbxrecord";
    if (!BBXUnlinkIfExists(path.c_str()))
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Unable to unlink existing metadata file %s\n", std::strerror(errno));
    BBXFile file;
    if (!BBXFileInitWithPath(&file, path.c_str(), false)) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Unable to open metadata file %s\n", path.c_str());
        return false;
    }
    writeIdentity(&file, initData);
    if (!writeHost(&file))
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Unable to write out host metadata\n");
    writeApplication(&file, initData);
    if (!BBXBinaryImageRecordMainExecutable(&file))
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Unable to write out executable metadata\n");
    BBXFileClose(&file);
    return true;
}
