// What the kits say about the host: hexadecimal and SHA-1 texts, UUID strings, the operating-system
// version in three forms and the machine's model. On Linux the version is the kernel release's
// (uname), the build text the whole release and the model the DMI product name, else the machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kits {

struct KSTOperatingSystemVersion {
    std::int64_t majorVersion = 0;
    std::int64_t minorVersion = 0;
    std::int64_t patchVersion = 0;
};

struct KSTByteRange {
    std::size_t location = 0;
    std::size_t length = 0;
};

// Writes the byte's two lower-case hexadecimal characters (high half first); a null output does nothing.
void KSTHexEncodeByte(std::uint8_t byte, char* output);
// Zero-fills 2 × length + 1 output bytes, then writes the hexadecimal form of each byte; a null output
// does nothing, null bytes leave the empty string.
void KSTHexEncodeBytes(const std::uint8_t* bytes, std::size_t length, char* output);
std::string KSTHexStringFromData(std::span<const std::uint8_t> data);
// SHA-1 as 40 lower-case hexadecimal characters.
std::string KSTSHA1HexOfBytes(const void* bytes, std::uint32_t length);
std::string KSTSHA1HexOfData(std::span<const std::uint8_t> data);
// Hands the block every byte range of the data; contiguous data is one range from 0 with the stop flag
// false.
void KSTEnumerateByteRangesOfData(
    std::span<const std::uint8_t> data,
    const std::function<void(const std::uint8_t* bytes, KSTByteRange range, bool& stop)>& block);
// A new random UUID in upper case with four dashes (36 characters).
std::string KSTGenerateUUIDString();
std::string KSTHexStringFrom16Bytes(const std::uint8_t* bytes);

KSTOperatingSystemVersion KSTHostOperatingSystemVersion();
// The leading numbers of a kernel release ("6.1.0-18-amd64" gives 6, 1, 0); missing ones are 0.
KSTOperatingSystemVersion KSTOperatingSystemVersionFromRelease(std::string_view release);
// The version code of the host's minor version, by the table of KSTOSVersionCodeOfVersion.
std::uint64_t KSTHostOSVersionCode();
// 6 → 1060, 7 → 1070, 8 → 1080, 9 → 1090, 10 → 101000, 11 → 101100, 12 → 101200; any other minor → 0.
std::uint64_t KSTOSVersionCodeOfVersion(const KSTOperatingSystemVersion& version);
// The kernel release as a whole ("6.1.0-18-amd64"); nothing when uname fails.
std::optional<std::string> KSTHostOSBuildVersion();
// A kernel value by its dotted name ("kernel.osrelease" reads /proc/sys/kernel/osrelease), at most
// 127 bytes, without its line break; nothing when it cannot be read.
std::optional<std::string> KSTSysctlString(std::string_view name);
// "major.minor.patch".
std::string KSTHostOSDisplayVersion();
// The DMI product name, else the machine ("x86_64"); nothing when neither is known.
std::optional<std::string> KSTHostModelName();

} // namespace kits
