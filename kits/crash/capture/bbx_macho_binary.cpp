// BBXMachOSlice and BBXMachOBinary over the plain Mach-O functions.
#include "kits/crash/capture/bbx_macho_binary.h"

#include "kits/crash/capture/bbx_macho_headers.h"
#include "kits/platform/host_functions.h"

#include <algorithm>

namespace kits {

BBXMachOSlice::BBXMachOSlice(BBXMachOSliceRecord slice) : slice_(slice)
{
    const auto readCommand = [this](const BBXMachOLoadCommand& command) {
        switch (command.command) {
        case macho::LC_VERSION_MIN_MACOSX:
        case macho::LC_VERSION_MIN_IPHONEOS:
        case macho::LC_VERSION_MIN_TVOS:
        case macho::LC_VERSION_MIN_WATCHOS:
            if (auto minimum = BBXMachOGetMinimumOSVersion(command))
                minimumOSVersion_ = *minimum;
            if (auto sdk = BBXMachOGetLinkedSDKVersion(command))
                linkedSDKVersion_ = *sdk;
            break;
        case macho::LC_LOAD_DYLIB:
            if (auto name = BBXMachOGetDylibName(command))
                linkedDylibs_.emplace_back(*name);
            break;
        case macho::LC_UUID:
            if (auto uuid = BBXMachOGetUUID(command))
                uuid_ = BBXMachONormalizeUUIDString(*uuid);
            break;
        default: break;
        }
    };
    if (!BBXMachOSliceEnumerateLoadCommands(&slice_, readCommand, &problem_) && problem_.empty())
        problem_ = "the load commands cannot be read";
}

std::string BBXMachOSlice::architectureName() const
{
    return BBXMachOSliceGetArchitectureName(&slice_);
}

foundation::Result<std::unique_ptr<BBXMachOBinary>>
BBXMachOBinary::MachOBinaryWithPath(const std::filesystem::path& path)
{
    const auto refused = [&path](const std::string& reason) {
        return foundation::Status::failure(foundation::StatusCode::corruptData, path.string() + ": " + reason);
    };
    std::unique_ptr<BBXMachOBinary> binary(new BBXMachOBinary());
    binary->path_ = path;
    binary->URL_ = BBXFileURLFromPath(path);
    if (!BBXMachOFileInitWithPath(&binary->file_, path.c_str()))
        return foundation::Status::failure(foundation::StatusCode::ioError,
                                           path.string() + ": no regular file of at least 16 bytes that can be mapped");
    std::string reason;
    if (!BBXMachOFileEnumerateSlices(
            &binary->file_, [&](const BBXMachOSliceRecord& slice) { binary->slices_.emplace_back(slice); }, &reason))
        return refused(reason);
    std::vector<std::pair<std::string, std::string>> pairs;
    for (std::size_t index = 0; index < binary->slices_.size(); ++index) {
        const auto& slice = binary->slices_[index];
        if (!slice.problem().empty())
            return refused("slice " + std::to_string(index + 1) + " of " + std::to_string(binary->slices_.size()) + ": "
                           + slice.problem());
        pairs.emplace_back(slice.architectureName(), slice.uuid());
    }
    binary->instanceIdentifier_ = BBXMachOInstanceIdentifier(std::move(pairs));
    return binary;
}

BBXMachOBinary::~BBXMachOBinary()
{
    BBXMachOFileDestroy(&file_);
}

void BBXMachOBinary::enumerateUUIDs(
    const std::function<void(const std::string& uuid, const std::string& architecture)>& block) const
{
    for (const auto& slice : slices_)
        block(slice.uuid(), slice.architectureName());
}

const BBXMachOSlice* BBXMachOBinary::sliceForArchitecture(const std::string& architectureName) const
{
    for (const auto& slice : slices_) {
        if (slice.architectureName() == architectureName)
            return &slice;
    }
    return nullptr;
}

std::optional<std::string>
BBXMachOInstanceIdentifier(std::vector<std::pair<std::string, std::string>> architectureUUIDs)
{
    // Plain byte comparison of the names; slices of one architecture keep their file order.
    std::stable_sort(architectureUUIDs.begin(), architectureUUIDs.end(),
                     [](const auto& left, const auto& right) { return left.first < right.first; });
    std::string joined;
    for (const auto& [architecture, uuid] : architectureUUIDs)
        joined += uuid;
    if (joined.empty())
        return std::nullopt;
    return KSTSHA1HexOfBytes(joined.data(), static_cast<std::uint32_t>(joined.size()));
}

std::string BBXFileURLFromPath(const std::filesystem::path& path)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char byte : path.native()) {
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9')
                           || byte == '-' || byte == '.' || byte == '_' || byte == '~' || byte == '/';
        if (plain) {
            url += static_cast<char>(byte);
        } else {
            url += '%';
            url += digits[byte >> 4];
            url += digits[byte & 0xf];
        }
    }
    return url;
}

} // namespace kits
