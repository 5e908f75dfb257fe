// The crash context as the capture tests share it: made once per test process with sdk.log and the
// binary-image log in a temporary folder, the host values taken and the image list filled.
#pragma once

#include "kits/crash/capture/bbx_binary_image.h"
#include "kits/crash/capture/bbx_context.h"
#include "kits/crash/capture/bbx_file.h"
#include "kits/crash/capture/bbx_host.h"
#include "kits/crash/capture/bbx_sdk_log.h"
#include "kits/crash/capture/bbx_support.h"

#include "support/eventually.h"
#include "support/temp_folder.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testsupport {

inline const std::filesystem::path& captureFolder()
{
    static const TempFolder folder("bbx-capture");
    return folder.path();
}

// Other tests of the binary point sdk.log elsewhere; each use points it back here.
inline BBXContext* captureContext()
{
    BBXSDKLogSetContext((captureFolder() / "sdk.log").c_str(), 1);
    static BBXContext* const context = [] {
        if (!BBXContextCreate())
            return static_cast<BBXContext*>(nullptr);
        BBXContext* made = BBXContextGet();
        BBXSetDuplicateStringAllocator(made->allocator);
        made->binaryImagesPath = BBXDuplicateString((captureFolder() / "binary_images.bbxrecord").c_str());
        BBXHostInitialize();
        BBXBinaryImageInit();
        return made;
    }();
    return context;
}

inline std::string sdkLogText()
{
    std::ifstream stream(captureFolder() / "sdk.log");
    return {std::istreambuf_iterator<char>(stream), {}};
}

// Sections of a record file, or none.
inline std::vector<nlohmann::json> recordSections(const std::filesystem::path& path)
{
    return BBXFileReadSections(path.c_str(), false, nullptr).value_or(std::vector<nlohmann::json>{});
}

// The lines of a record file with their keys in written order (lines that do not parse are left out).
inline std::vector<nlohmann::ordered_json> orderedSections(const std::filesystem::path& path)
{
    std::vector<nlohmann::ordered_json> lines;
    std::ifstream stream(path);
    for (std::string line; std::getline(stream, line);) {
        auto parsed = nlohmann::ordered_json::parse(line, nullptr, false);
        if (!parsed.is_discarded())
            lines.push_back(std::move(parsed));
    }
    return lines;
}

} // namespace testsupport
