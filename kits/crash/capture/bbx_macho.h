// Plain functions over Mach-O bytes: map a file, walk its slices (fat or thin) and each slice's load
// commands, and read the few commands the kits look into. Every read is checked against the bytes a
// slice may hold: a fat table or a command list that runs past its end is refused whole, with the
// reason, never read in part or outside the mapping.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kits {

// A file mapped read-only and shared; all zero (descriptor -1) when nothing is mapped.
struct BBXMachOFile {
    std::int32_t fileDescriptor = -1;
    std::uint64_t mappedSize = 0;
    const std::uint8_t* mappedAddress = nullptr;
};

// One architecture's image: where its header starts, its CPU, and how many bytes from the start
// belong to it (reads never pass them).
struct BBXMachOSliceRecord {
    const std::uint8_t* startAddress = nullptr;
    std::int32_t cpuType = 0;
    std::int32_t cpuSubtype = 0;
    std::uint64_t size = 0;

    bool is64Bit() const { return (cpuType & 0x01000000) != 0; }
};

// A load command as the walk hands it over: its number, its size (at least 8, inside the slice)
// and its first byte.
struct BBXMachOLoadCommand {
    std::uint32_t command = 0;
    std::uint32_t size = 0;
    const std::uint8_t* address = nullptr;
};

struct BBXMachOVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t bugfix = 0;
    bool operator==(const BBXMachOVersion&) const = default;
};

// Opens `path` read-only and maps it; false (and `file` left closed) unless it is a regular file of
// at least 16 bytes that could be mapped.
bool BBXMachOFileInitWithPath(BBXMachOFile* file, const char* path);
// Unmaps and closes; the record is reset.
void BBXMachOFileDestroy(BBXMachOFile* file);

// Calls `block` with each slice: the entries of a fat file (read big-endian), the file itself for a
// thin file, else the file itself with CPU type and subtype 0. A fat file whose table or any of whose
// slices runs past the end of the file is refused before any slice is handed out: false, with the
// reason in `reason` when given; false also when nothing is mapped.
bool BBXMachOFileEnumerateSlices(const BBXMachOFile* file, const std::function<void(const BBXMachOSliceRecord&)>& block,
                                 std::string* reason = nullptr);

// The name of the slice's architecture: "arm64", "armv7s", "armv7k", the names of the table of known
// CPUs ("x86_64", "i386", ...), else "unknown".
const char* BBXMachOSliceGetArchitectureName(const BBXMachOSliceRecord* slice);

// Fills the slice's CPU type and subtype from its header and calls `block` with each load command.
// A slice whose header or commands do not fit (commands shorter than 8 bytes, passing the header's
// sizeofcmds or the slice) is bad and yields no command; false then, and for unknown magic numbers,
// with the reason in `reason` when given.
bool BBXMachOSliceEnumerateLoadCommands(BBXMachOSliceRecord* slice,
                                        const std::function<void(const BBXMachOLoadCommand&)>& block,
                                        std::string* reason = nullptr);

// The commands' contents; nothing when the command is of another kind or too short for its layout.
std::optional<std::array<std::uint8_t, 16>> BBXMachOGetUUID(const BBXMachOLoadCommand& command);
// The dylib's path; nothing unless it ends with a zero byte inside the command.
std::optional<std::string_view> BBXMachOGetDylibName(const BBXMachOLoadCommand& command);
// True when an encryption-info command's crypt identifier is non-zero.
bool BBXMachOIsEncrypted(const BBXMachOLoadCommand& command);
std::optional<BBXMachOVersion> BBXMachOGetMinimumOSVersion(const BBXMachOLoadCommand& command);
std::optional<BBXMachOVersion> BBXMachOGetLinkedSDKVersion(const BBXMachOLoadCommand& command);

// A packed xxxx.yy.zz version word as its three parts.
BBXMachOVersion BBXMachOVersionFromPacked(std::uint32_t packed);
// 32 lower-case hexadecimal characters, no hyphens.
std::string BBXMachONormalizeUUIDString(const std::array<std::uint8_t, 16>& uuid);
// "major.minor.bugfix".
std::string BBXMachOFormatVersion(BBXMachOVersion version);

} // namespace kits
