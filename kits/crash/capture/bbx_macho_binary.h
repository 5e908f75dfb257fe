// A Mach-O file as the kits describe it: each slice's architecture, UUID, linked dylibs and versions,
// and an instance identifier over all slices' UUIDs. The values are copied out while the file is
// mapped; the mapping lives as long as the binary. A file that cannot be read whole is refused with
// the reason, and a file whose slices carry no UUID has no instance identifier.
#pragma once

#include "kits/crash/capture/bbx_macho.h"

#include "foundation/status.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kits {

class BBXMachOSlice {
public:
    // Reads the slice's load commands (initWithSlice).
    explicit BBXMachOSlice(BBXMachOSliceRecord slice);

    // Why the load commands could not be read (then none were); empty when they were.
    const std::string& problem() const { return problem_; }
    const BBXMachOSliceRecord& slice() const { return slice_; }
    std::string architectureName() const;
    // 32 lower-case hexadecimal characters; empty when the slice has no UUID command.
    const std::string& uuid() const { return uuid_; }
    const std::vector<std::string>& linkedDylibs() const { return linkedDylibs_; }
    // Zero when the slice has no version-minimum command.
    BBXMachOVersion minimumOSVersion() const { return minimumOSVersion_; }
    BBXMachOVersion linkedSDKVersion() const { return linkedSDKVersion_; }

private:
    BBXMachOSliceRecord slice_;
    std::string problem_;
    std::string uuid_;
    std::vector<std::string> linkedDylibs_;
    BBXMachOVersion minimumOSVersion_;
    BBXMachOVersion linkedSDKVersion_;
};

class BBXMachOBinary {
public:
    // Maps the file and reads its slices. Fails, with the path and the reason, when the file cannot
    // be mapped, its fat table or a slice runs past its end, or a slice's load commands cannot be
    // read (no Mach-O header, or commands running past the slice).
    static foundation::Result<std::unique_ptr<BBXMachOBinary>> MachOBinaryWithPath(const std::filesystem::path& path);

    BBXMachOBinary(const BBXMachOBinary&) = delete;
    BBXMachOBinary& operator=(const BBXMachOBinary&) = delete;
    ~BBXMachOBinary();

    // The file as a "file://" URL.
    const std::string& URL() const { return URL_; }
    const std::filesystem::path& path() const { return path_; }
    const std::vector<BBXMachOSlice>& slices() const { return slices_; }

    // (uuid, architecture name) of each slice, in file order.
    void
    enumerateUUIDs(const std::function<void(const std::string& uuid, const std::string& architecture)>& block) const;
    // The first slice of that architecture; nullptr when there is none.
    const BBXMachOSlice* sliceForArchitecture(const std::string& architectureName) const;
    // SHA-1 (40 lower-case hexadecimal characters) of the slices' UUID texts joined in the order of
    // their architecture names, computed once, when the file is read; none when no slice has a UUID
    // (the SHA-1 of nothing would name every such file alike).
    const std::optional<std::string>& instanceIdentifier() const { return instanceIdentifier_; }

private:
    BBXMachOBinary() = default;

    std::string URL_;
    std::filesystem::path path_;
    BBXMachOFile file_;
    std::vector<BBXMachOSlice> slices_;
    std::optional<std::string> instanceIdentifier_;
};

// The instance identifier of slices with these (architecture name, UUID text) pairs; none when no
// slice has a UUID.
std::optional<std::string>
BBXMachOInstanceIdentifier(std::vector<std::pair<std::string, std::string>> architectureUUIDs);

// A path as a "file://" URL: bytes other than letters, digits, "-._~/" are percent-encoded.
std::string BBXFileURLFromPath(const std::filesystem::path& path);

} // namespace kits
