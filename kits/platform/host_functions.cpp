// Host facts from uname, procfs and sysfs; digests through OpenSSL.
#include "kits/platform/host_functions.h"

#include "foundation/uuid.h"

#include <openssl/sha.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sys/utsname.h>
#include <vector>

namespace kits {

namespace {

constexpr char hexDigits[] = "0123456789abcdef";

std::optional<std::string> firstLineOf(const std::string& path, std::size_t limit)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    std::string text(limit, '\0');
    file.read(text.data(), static_cast<std::streamsize>(limit));
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (file.bad())
        return std::nullopt;
    if (auto end = text.find('\n'); end != std::string::npos)
        text.resize(end);
    return text;
}

} // namespace

void KSTHexEncodeByte(std::uint8_t byte, char* output)
{
    if (!output)
        return;
    output[0] = hexDigits[byte >> 4];
    output[1] = hexDigits[byte & 0x0f];
}

void KSTHexEncodeBytes(const std::uint8_t* bytes, std::size_t length, char* output)
{
    if (!output)
        return;
    std::memset(output, 0, 2 * length + 1);
    if (!bytes)
        return;
    for (std::size_t index = 0; index < length; ++index)
        KSTHexEncodeByte(bytes[index], output + 2 * index);
}

std::string KSTHexStringFromData(std::span<const std::uint8_t> data)
{
    std::vector<char> buffer(2 * data.size() + 1);
    KSTHexEncodeBytes(data.data(), data.size(), buffer.data());
    return std::string(buffer.data());
}

std::string KSTSHA1HexOfBytes(const void* bytes, std::uint32_t length)
{
    std::uint8_t digest[SHA_DIGEST_LENGTH];
    static const std::uint8_t nothing = 0;
    SHA1(bytes ? static_cast<const std::uint8_t*>(bytes) : &nothing, bytes ? length : 0, digest);
    return KSTHexStringFromData(digest);
}

std::string KSTSHA1HexOfData(std::span<const std::uint8_t> data)
{
    return KSTSHA1HexOfBytes(data.data(), static_cast<std::uint32_t>(data.size()));
}

void KSTEnumerateByteRangesOfData(
    std::span<const std::uint8_t> data,
    const std::function<void(const std::uint8_t* bytes, KSTByteRange range, bool& stop)>& block)
{
    bool stop = false;
    block(data.data(), KSTByteRange{0, data.size()}, stop);
}

std::string KSTGenerateUUIDString()
{
    std::string text = foundation::makeUuid();
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::string KSTHexStringFrom16Bytes(const std::uint8_t* bytes)
{
    if (!bytes)
        return {};
    return KSTHexStringFromData(std::span(bytes, 16));
}

KSTOperatingSystemVersion KSTOperatingSystemVersionFromRelease(std::string_view release)
{
    std::int64_t parts[3] = {0, 0, 0};
    const char* position = release.data();
    const char* end = release.data() + release.size();
    for (int index = 0; index < 3 && position < end; ++index) {
        auto [next, problem] = std::from_chars(position, end, parts[index]);
        if (problem != std::errc())
            break;
        position = next;
        if (position == end || *position != '.')
            break;
        ++position;
    }
    return {parts[0], parts[1], parts[2]};
}

KSTOperatingSystemVersion KSTHostOperatingSystemVersion()
{
    utsname names{};
    if (::uname(&names) != 0)
        return {};
    return KSTOperatingSystemVersionFromRelease(names.release);
}

std::uint64_t KSTOSVersionCodeOfVersion(const KSTOperatingSystemVersion& version)
{
    switch (version.minorVersion) {
    case 6: return 1060;
    case 7: return 1070;
    case 8: return 1080;
    case 9: return 1090;
    case 10: return 101000;
    case 11: return 101100;
    case 12: return 101200;
    default: return 0;
    }
}

std::uint64_t KSTHostOSVersionCode()
{
    return KSTOSVersionCodeOfVersion(KSTHostOperatingSystemVersion());
}

std::optional<std::string> KSTHostOSBuildVersion()
{
    utsname names{};
    if (::uname(&names) != 0)
        return std::nullopt;
    return std::string(names.release);
}

std::optional<std::string> KSTSysctlString(std::string_view name)
{
    if (name.empty() || name.find('/') != std::string_view::npos || name.find("..") != std::string_view::npos)
        return std::nullopt;
    std::string path = "/proc/sys/";
    for (char character : name)
        path += character == '.' ? '/' : character;
    return firstLineOf(path, 127);
}

std::string KSTHostOSDisplayVersion()
{
    const auto version = KSTHostOperatingSystemVersion();
    return std::to_string(version.majorVersion) + "." + std::to_string(version.minorVersion) + "."
           + std::to_string(version.patchVersion);
}

std::optional<std::string> KSTHostModelName()
{
    if (auto product = firstLineOf("/sys/class/dmi/id/product_name", 127); product && !product->empty())
        return product;
    utsname names{};
    if (::uname(&names) != 0 || names.machine[0] == '\0')
        return std::nullopt;
    return std::string(names.machine);
}

} // namespace kits
