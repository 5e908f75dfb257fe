// ELF identities of files and of loaded objects, both through the bounded readers of elf_bytes.h.
// For a loaded object the loader's program headers are used as given; every other byte (ELF header,
// notes) is read only inside a loaded, file-backed segment.
#include "system/elf_identity.h"

#include "system/elf_bytes.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace os {

namespace {

std::string uuidText(const std::vector<std::uint8_t>& buildId)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    if (buildId.size() < 16)
        return text;
    for (std::size_t index = 0; index < 16; ++index) {
        text += digits[buildId[index] >> 4];
        text += digits[buildId[index] & 0xf];
    }
    return text;
}

// Base, size and .eh_frame_hdr address from the program headers and the load bias.
void placeInMemory(ElfIdentity& identity, const std::vector<elf::ProgramHeader>& headers, std::uint64_t slide)
{
    std::uint64_t lowest = UINT64_MAX;
    std::uint64_t highest = 0;
    for (const auto& header : headers) {
        if (header.type == elf::ptLoad && header.memorySize > 0) {
            lowest = std::min(lowest, header.address);
            const std::uint64_t end = header.address + header.memorySize;
            highest = std::max(highest, end < header.address ? UINT64_MAX : end);
        } else if (header.type == elf::ptGnuEhFrame && identity.ehFrameHeader == 0) {
            identity.ehFrameHeader = slide + header.address;
        }
    }
    identity.slide = slide;
    if (lowest != UINT64_MAX) {
        identity.base = slide + lowest;
        identity.size = highest - lowest;
    }
}

ElfIdentity identityFromHeader(const elf::Header& header)
{
    ElfIdentity identity;
    identity.machine = header.machine;
    identity.architecture = architectureName(header.machine);
    return identity;
}

void setBuildId(ElfIdentity& identity, std::vector<std::uint8_t> buildId)
{
    identity.uuid = uuidText(buildId);
    identity.buildId = std::move(buildId);
}

// The bytes of a loaded, file-backed segment that hold [address, address + size) of the object.
std::optional<std::span<const std::uint8_t>> loadedBytes(const std::vector<elf::ProgramHeader>& headers,
                                                         std::uint64_t slide, std::uint64_t address, std::uint64_t size)
{
    for (const auto& header : headers) {
        if (header.type != elf::ptLoad || address < header.address || address - header.address > header.fileSize
            || size > header.fileSize - (address - header.address))
            continue;
        return std::span(reinterpret_cast<const std::uint8_t*>(slide + address), size);
    }
    return std::nullopt;
}

} // namespace

std::string architectureName(std::uint16_t machine)
{
    switch (machine) {
    case 62: return "x86_64";
    case 3: return "i386";
    case 183: return "arm64";
    case 40: return "arm";
    default: return "unknown";
    }
}

ElfIdentityResult parseElfIdentity(std::span<const std::uint8_t> bytes)
{
    std::string error;
    const auto header = elf::readHeader(bytes, error);
    if (!header)
        return {std::nullopt, error};
    const elf::Bytes elf(bytes, header->bigEndian);
    ElfIdentity identity = identityFromHeader(*header);
    const auto programs = elf::programHeaders(elf, *header);
    placeInMemory(identity, programs, 0);
    for (const auto& program : programs) {
        if (program.type != elf::ptNote)
            continue;
        if (auto found = elf::buildIdInNotes(elf, program.offset, program.fileSize, program.alignment)) {
            setBuildId(identity, std::move(*found));
            return {std::move(identity), {}};
        }
    }
    for (const auto& section : elf::sectionHeaders(elf, *header)) {
        if (section.type != elf::shtNote)
            continue;
        if (auto found = elf::buildIdInNotes(elf, section.offset, section.size, section.alignment)) {
            setBuildId(identity, std::move(*found));
            break;
        }
    }
    return {std::move(identity), {}};
}

ElfIdentityResult readElfIdentity(const std::filesystem::path& file)
{
    ElfIdentityResult result;
    std::string mapError =
        elf::withMappedFile(file, [&](std::span<const std::uint8_t> bytes) { result = parseElfIdentity(bytes); });
    if (!mapError.empty())
        return ElfIdentityResult{std::nullopt, std::move(mapError)};
    if (!result)
        result.error = file.string() + ": " + result.error;
    else
        result.identity->path = file;
    return result;
}

ElfIdentityResult loadedObjectIdentity(const dl_phdr_info& object)
{
    std::vector<elf::ProgramHeader> headers;
    for (ElfW(Half) index = 0; index < object.dlpi_phnum; ++index) {
        const ElfW(Phdr)& header = object.dlpi_phdr[index];
        headers.push_back(
            {header.p_type, header.p_offset, header.p_vaddr, header.p_filesz, header.p_memsz, header.p_align});
    }
    const std::uint64_t slide = object.dlpi_addr;
    const std::filesystem::path path =
        object.dlpi_name && object.dlpi_name[0] ? std::filesystem::path(object.dlpi_name) : runningExecutablePath();

    // The ELF header lies at the start of the segment that maps the file from offset 0.
    std::optional<elf::Header> header;
    std::string error = "no loaded segment holds the ELF header";
    for (const auto& program : headers) {
        if (program.type == elf::ptLoad && program.offset == 0) {
            if (auto bytes =
                    loadedBytes(headers, slide, program.address, std::min<std::uint64_t>(program.fileSize, 64)))
                header = elf::readHeader(*bytes, error);
            break;
        }
    }
    if (!header)
        return {std::nullopt, path.string() + ": " + error};

    ElfIdentity identity = identityFromHeader(*header);
    identity.path = path;
    placeInMemory(identity, headers, slide);
    for (const auto& program : headers) {
        if (program.type != elf::ptNote)
            continue;
        const auto bytes = loadedBytes(headers, slide, program.address, program.memorySize);
        if (!bytes)
            continue;
        const elf::Bytes notes(*bytes, std::endian::native == std::endian::big);
        if (auto found = elf::buildIdInNotes(notes, 0, bytes->size(), program.alignment)) {
            setBuildId(identity, std::move(*found));
            break;
        }
    }
    return {std::move(identity), {}};
}

std::vector<ElfIdentity> loadedImages()
{
    std::vector<ElfIdentity> images;
    ::dl_iterate_phdr(
        [](dl_phdr_info* object, std::size_t, void* context) {
            if (auto result = loadedObjectIdentity(*object))
                static_cast<std::vector<ElfIdentity>*>(context)->push_back(std::move(*result.identity));
            return 0;
        },
        &images);
    return images;
}

std::optional<ElfIdentity> loadedImageContaining(std::uint64_t address)
{
    for (auto& image : loadedImages()) {
        if (image.contains(address))
            return std::move(image);
    }
    return std::nullopt;
}

std::filesystem::path runningExecutablePath()
{
    return "/proc/self/exe";
}

} // namespace os
