// The Mach-O walks. Fields are copied out of the bytes with memcpy after a range check; fat tables
// are big-endian, thin headers are used in host order as read (a byte-swapped header's fields then
// make no sense, and the range checks refuse its commands). Every table is checked whole before any
// of it is handed out.
#include "kits/crash/capture/bbx_macho.h"

#include "kits/crash/capture/bbx_macho_headers.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kits {

using namespace macho;

namespace {

// True when [offset, offset + count) lies inside `size` bytes.
bool fits(std::uint64_t size, std::uint64_t offset, std::uint64_t count)
{
    return offset <= size && count <= size - offset;
}

template <typename T>
T copyOut(const std::uint8_t* address)
{
    T value;
    std::memcpy(&value, address, sizeof value);
    return value;
}

std::uint32_t bigEndianWord(const std::uint8_t* address)
{
    return std::uint32_t(address[0]) << 24 | std::uint32_t(address[1]) << 16 | std::uint32_t(address[2]) << 8
           | std::uint32_t(address[3]);
}

// Stores `text` as the reason when the caller asked for one; false, for the caller to return.
bool refuse(std::string* reason, std::string text)
{
    if (reason)
        *reason = std::move(text);
    return false;
}

std::string hexWord(std::uint32_t value)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text = "0x";
    for (int shift = 28; shift >= 0; shift -= 4)
        text += digits[(value >> shift) & 0xf];
    return text;
}

bool isVersionMinimum(std::uint32_t command)
{
    return command == LC_VERSION_MIN_MACOSX || command == LC_VERSION_MIN_IPHONEOS || command == LC_VERSION_MIN_TVOS
           || command == LC_VERSION_MIN_WATCHOS;
}

struct ArchitectureEntry {
    std::int32_t cpuType;
    std::int32_t cpuSubtype; // -1: any subtype
    const char* name;
};

// The CPUs whose names the kits may meet; the first entry that matches names the slice.
constexpr ArchitectureEntry architectureTable[] = {
    {CPU_TYPE_X86_64, 8, "x86_64h"}, {CPU_TYPE_X86_64, -1, "x86_64"},   {CPU_TYPE_X86, -1, "i386"},
    {CPU_TYPE_ARM, 6, "armv6"},      {CPU_TYPE_ARM, 9, "armv7"},        {CPU_TYPE_ARM, -1, "arm"},
    {CPU_TYPE_POWERPC, -1, "ppc"},   {CPU_TYPE_POWERPC64, -1, "ppc64"},
};

} // namespace

bool BBXMachOFileInitWithPath(BBXMachOFile* file, const char* path)
{
    if (!file || !path)
        return false;
    *file = BBXMachOFile{};
    const int descriptor = ::open(path, O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 16) {
        ::close(descriptor);
        return false;
    }
    const auto size = static_cast<std::uint64_t>(status.st_size);
    void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, descriptor, 0);
    if (mapped == MAP_FAILED) {
        ::close(descriptor);
        return false;
    }
    file->fileDescriptor = descriptor;
    file->mappedSize = size;
    file->mappedAddress = static_cast<const std::uint8_t*>(mapped);
    return true;
}

void BBXMachOFileDestroy(BBXMachOFile* file)
{
    if (!file)
        return;
    if (file->mappedAddress && file->mappedSize > 0)
        ::munmap(const_cast<std::uint8_t*>(file->mappedAddress), file->mappedSize);
    if (file->fileDescriptor >= 0)
        ::close(file->fileDescriptor);
    *file = BBXMachOFile{};
}

bool BBXMachOFileEnumerateSlices(const BBXMachOFile* file, const std::function<void(const BBXMachOSliceRecord&)>& block,
                                 std::string* reason)
{
    if (!file || !file->mappedAddress || file->mappedSize < 4 || !block)
        return refuse(reason, "nothing is mapped");
    const std::uint8_t* start = file->mappedAddress;
    const std::uint64_t size = file->mappedSize;
    const auto magic = copyOut<std::uint32_t>(start);
    if (magic == FAT_MAGIC || magic == FAT_CIGAM) {
        const std::string fileSize = " past the end of the file (" + std::to_string(size) + " bytes)";
        if (size < sizeof(fat_header))
            return refuse(reason, "the fat header runs" + fileSize);
        const std::uint64_t count = bigEndianWord(start + 4);
        if (!fits(size, sizeof(fat_header), count * sizeof(fat_arch)))
            return refuse(reason, "the fat table of " + std::to_string(count) + " slices runs" + fileSize);
        for (std::uint64_t index = 0; index < count; ++index) {
            const std::uint8_t* entry = start + sizeof(fat_header) + index * sizeof(fat_arch);
            const std::uint32_t offset = bigEndianWord(entry + 8);
            const std::uint32_t sliceSize = bigEndianWord(entry + 12);
            if (!fits(size, offset, sliceSize))
                return refuse(reason, "slice " + std::to_string(index + 1) + " of " + std::to_string(count)
                                          + " (offset " + std::to_string(offset) + ", " + std::to_string(sliceSize)
                                          + " bytes) runs" + fileSize);
        }
        for (std::uint64_t index = 0; index < count; ++index) {
            const std::uint8_t* entry = start + sizeof(fat_header) + index * sizeof(fat_arch);
            block(BBXMachOSliceRecord{start + bigEndianWord(entry + 8), static_cast<std::int32_t>(bigEndianWord(entry)),
                                      static_cast<std::int32_t>(bigEndianWord(entry + 4)), bigEndianWord(entry + 12)});
        }
        return true;
    }
    if ((magic == MH_MAGIC || magic == MH_CIGAM || magic == MH_MAGIC_64 || magic == MH_CIGAM_64) && size >= 12) {
        block(BBXMachOSliceRecord{start, copyOut<std::int32_t>(start + 4), copyOut<std::int32_t>(start + 8), size});
        return true;
    }
    block(BBXMachOSliceRecord{start, 0, 0, size});
    return true;
}

const char* BBXMachOSliceGetArchitectureName(const BBXMachOSliceRecord* slice)
{
    if (!slice)
        return nullptr;
    if (slice->cpuType == CPU_TYPE_ARM64)
        return "arm64";
    if (slice->cpuType == CPU_TYPE_ARM && slice->cpuSubtype == 11)
        return "armv7s";
    if (slice->cpuType == CPU_TYPE_ARM && slice->cpuSubtype == 12)
        return "armv7k";
    const std::int32_t model = slice->cpuSubtype & ~CPU_SUBTYPE_MASK;
    for (const auto& entry : architectureTable) {
        if (entry.cpuType == slice->cpuType && (entry.cpuSubtype == -1 || entry.cpuSubtype == model))
            return entry.name;
    }
    return "unknown";
}

bool BBXMachOSliceEnumerateLoadCommands(BBXMachOSliceRecord* slice,
                                        const std::function<void(const BBXMachOLoadCommand&)>& block,
                                        std::string* reason)
{
    if (!slice || !slice->startAddress || !block || slice->size < 4)
        return refuse(reason, "the slice is empty");
    const std::uint8_t* start = slice->startAddress;
    const auto magic = copyOut<std::uint32_t>(start);
    std::uint64_t headerSize = 0;
    if (magic == MH_MAGIC || magic == MH_CIGAM)
        headerSize = sizeof(mach_header);
    else if (magic == MH_MAGIC_64 || magic == MH_CIGAM_64)
        headerSize = sizeof(mach_header_64);
    else
        return refuse(reason, "no Mach-O image (magic number " + hexWord(magic) + ")");
    const std::string sliceSize = " past the end of the slice (" + std::to_string(slice->size) + " bytes)";
    if (slice->size < headerSize)
        return refuse(reason, "the Mach-O header runs" + sliceSize);
    const auto header = copyOut<mach_header>(start);
    slice->cpuType = header.cputype;
    slice->cpuSubtype = header.cpusubtype;

    // The commands must all fit before any is handed out: a bad slice yields none.
    if (header.sizeofcmds > slice->size - headerSize)
        return refuse(reason, "the load commands (" + std::to_string(header.sizeofcmds) + " bytes) run" + sliceSize);
    const std::uint64_t limit = header.sizeofcmds;
    const std::string ofCount = " of " + std::to_string(header.ncmds);
    std::uint64_t offset = 0;
    for (std::uint32_t index = 0; index < header.ncmds; ++index) {
        const std::string which = "load command " + std::to_string(index + 1) + ofCount;
        if (!fits(limit, offset, sizeof(load_command)))
            return refuse(reason, which + " runs past the commands' " + std::to_string(limit) + " bytes");
        const auto command = copyOut<load_command>(start + headerSize + offset);
        if (command.cmdsize < sizeof(load_command))
            return refuse(reason, which + " is shorter than 8 bytes");
        if (!fits(limit, offset, command.cmdsize))
            return refuse(reason, which + " (" + std::to_string(command.cmdsize) + " bytes) runs past the commands' "
                                      + std::to_string(limit) + " bytes");
        offset += command.cmdsize;
    }
    offset = 0;
    for (std::uint32_t index = 0; index < header.ncmds; ++index) {
        const std::uint8_t* address = start + headerSize + offset;
        const auto command = copyOut<load_command>(address);
        block(BBXMachOLoadCommand{command.cmd, command.cmdsize, address});
        offset += command.cmdsize;
    }
    return true;
}

std::optional<std::array<std::uint8_t, 16>> BBXMachOGetUUID(const BBXMachOLoadCommand& command)
{
    if (command.command != LC_UUID || command.size < sizeof(uuid_command) || !command.address)
        return std::nullopt;
    return copyOut<std::array<std::uint8_t, 16>>(command.address + offsetof(uuid_command, uuid));
}

std::optional<std::string_view> BBXMachOGetDylibName(const BBXMachOLoadCommand& command)
{
    if (command.command != LC_LOAD_DYLIB || command.size < sizeof(dylib_command) || !command.address)
        return std::nullopt;
    const auto dylibCommand = copyOut<dylib_command>(command.address);
    const std::uint32_t nameOffset = dylibCommand.dylib.offset;
    if (nameOffset < sizeof(dylib_command) || nameOffset >= command.size)
        return std::nullopt;
    const auto* name = reinterpret_cast<const char*>(command.address + nameOffset);
    const std::size_t room = command.size - nameOffset;
    const void* end = std::memchr(name, '\0', room);
    if (!end)
        return std::nullopt;
    return std::string_view(name, static_cast<std::size_t>(static_cast<const char*>(end) - name));
}

bool BBXMachOIsEncrypted(const BBXMachOLoadCommand& command)
{
    if ((command.command != LC_ENCRYPTION_INFO && command.command != LC_ENCRYPTION_INFO_64)
        || command.size < sizeof(encryption_info_command) || !command.address)
        return false;
    return copyOut<encryption_info_command>(command.address).cryptid != 0;
}

std::optional<BBXMachOVersion> BBXMachOGetMinimumOSVersion(const BBXMachOLoadCommand& command)
{
    if (!isVersionMinimum(command.command) || command.size < sizeof(version_min_command) || !command.address)
        return std::nullopt;
    return BBXMachOVersionFromPacked(copyOut<version_min_command>(command.address).version);
}

std::optional<BBXMachOVersion> BBXMachOGetLinkedSDKVersion(const BBXMachOLoadCommand& command)
{
    if (!isVersionMinimum(command.command) || command.size < sizeof(version_min_command) || !command.address)
        return std::nullopt;
    return BBXMachOVersionFromPacked(copyOut<version_min_command>(command.address).sdk);
}

BBXMachOVersion BBXMachOVersionFromPacked(std::uint32_t packed)
{
    return {packed >> 16, (packed >> 8) & 0xff, packed & 0xff};
}

std::string BBXMachONormalizeUUIDString(const std::array<std::uint8_t, 16>& uuid)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(32);
    for (std::uint8_t byte : uuid) {
        text += digits[byte >> 4];
        text += digits[byte & 0xf];
    }
    return text;
}

std::string BBXMachOFormatVersion(BBXMachOVersion version)
{
    return std::to_string(version.major) + "." + std::to_string(version.minor) + "." + std::to_string(version.bugfix);
}

} // namespace kits
