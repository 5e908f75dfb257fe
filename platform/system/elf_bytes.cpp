// The ELF header, program and section headers and notes, read through bounds-checked accessors.
#include "system/elf_bytes.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace os::elf {

std::optional<Header> readHeader(std::span<const std::uint8_t> bytes, std::string& error)
{
    if (bytes.size() < 16
        || std::memcmp(bytes.data(),
                       "\x7f"
                       "ELF",
                       4)
               != 0) {
        error = "not an ELF file";
        return std::nullopt;
    }
    const std::uint8_t fileClass = bytes[4];
    const std::uint8_t encoding = bytes[5];
    if ((fileClass != 1 && fileClass != 2) || (encoding != 1 && encoding != 2)) {
        error = "unknown ELF class or byte order";
        return std::nullopt;
    }
    Header header;
    header.wide = fileClass == 2;
    header.bigEndian = encoding == 2;
    const Bytes elf(bytes, header.bigEndian);
    if (!elf.has(0, header.wide ? 64 : 52)) {
        error = "truncated ELF header";
        return std::nullopt;
    }
    const bool wide = header.wide;
    const std::size_t address = wide ? 8 : 4;
    header.machine = static_cast<std::uint16_t>(elf.read(18, 2));
    header.programs = {elf.read(wide ? 32 : 28, address), elf.read(wide ? 54 : 42, 2), elf.read(wide ? 56 : 44, 2)};
    header.sections = {elf.read(wide ? 40 : 32, address), elf.read(wide ? 58 : 46, 2), elf.read(wide ? 60 : 48, 2)};
    return header;
}

std::vector<ProgramHeader> programHeaders(const Bytes& elf, const Header& header)
{
    // Type at 0; 64-bit: offset 8, address 16, file size 32, memory size 40, alignment 48;
    // 32-bit: offset 4, address 8, file size 16, memory size 20, alignment 28.
    const bool wide = header.wide;
    const std::size_t width = wide ? 8 : 4;
    const std::uint64_t minimumEntry = wide ? 56 : 32;
    std::vector<ProgramHeader> headers;
    if (header.programs.entrySize < minimumEntry)
        return headers;
    for (std::uint64_t index = 0; index < header.programs.count; ++index) {
        const std::uint64_t entry = header.programs.offset + index * header.programs.entrySize;
        if (!elf.has(entry, minimumEntry))
            break;
        headers.push_back({static_cast<std::uint32_t>(elf.read(entry, 4)), elf.read(entry + (wide ? 8 : 4), width),
                           elf.read(entry + (wide ? 16 : 8), width), elf.read(entry + (wide ? 32 : 16), width),
                           elf.read(entry + (wide ? 40 : 20), width), elf.read(entry + (wide ? 48 : 28), width)});
    }
    return headers;
}

std::vector<SectionHeader> sectionHeaders(const Bytes& elf, const Header& header)
{
    // Type at 4; 64-bit: offset 24, size 32, link 40, alignment 48, entry size 56;
    // 32-bit: offset 16, size 20, link 24, alignment 32, entry size 36.
    const bool wide = header.wide;
    const std::size_t width = wide ? 8 : 4;
    const std::uint64_t minimumEntry = wide ? 64 : 40;
    std::vector<SectionHeader> headers;
    if (header.sections.entrySize < minimumEntry)
        return headers;
    for (std::uint64_t index = 0; index < header.sections.count; ++index) {
        const std::uint64_t entry = header.sections.offset + index * header.sections.entrySize;
        if (!elf.has(entry, minimumEntry))
            break;
        headers.push_back({static_cast<std::uint32_t>(elf.read(entry + 4, 4)),
                           elf.read(entry + (wide ? 24 : 16), width), elf.read(entry + (wide ? 32 : 20), width),
                           static_cast<std::uint32_t>(elf.read(entry + (wide ? 40 : 24), 4)),
                           elf.read(entry + (wide ? 48 : 32), width), elf.read(entry + (wide ? 56 : 36), width)});
    }
    return headers;
}

std::optional<std::vector<std::uint8_t>> buildIdInNotes(const Bytes& elf, std::uint64_t offset, std::uint64_t size,
                                                        std::uint64_t alignment)
{
    constexpr std::uint64_t ntGnuBuildId = 3;
    if (!elf.has(offset, size))
        return std::nullopt;
    const std::uint64_t align = alignment == 8 ? 8 : 4;
    auto padded = [align](std::uint64_t length) { return (length + align - 1) / align * align; };
    std::uint64_t position = 0;
    while (size - position >= 12) {
        const std::uint64_t nameSize = elf.read(offset + position, 4);
        const std::uint64_t descriptionSize = elf.read(offset + position + 4, 4);
        const std::uint64_t type = elf.read(offset + position + 8, 4);
        const std::uint64_t nameStart = position + 12;
        if (padded(nameSize) > size - nameStart)
            return std::nullopt;
        const std::uint64_t descriptionStart = nameStart + padded(nameSize);
        if (padded(descriptionSize) > size - descriptionStart)
            return std::nullopt;
        const auto name = elf.slice(offset + nameStart, nameSize);
        if (type == ntGnuBuildId && nameSize == 4 && std::memcmp(name.data(), "GNU", 4) == 0) {
            const auto description = elf.slice(offset + descriptionStart, descriptionSize);
            return std::vector<std::uint8_t>(description.begin(), description.end());
        }
        position = descriptionStart + padded(descriptionSize);
    }
    return std::nullopt;
}

std::string withMappedFile(const std::filesystem::path& file,
                           const std::function<void(std::span<const std::uint8_t>)>& use)
{
    const int descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return file.string() + ": " + std::strerror(errno);
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 16) {
        ::close(descriptor);
        return file.string() + ": not a regular file of at least 16 bytes";
    }
    const auto size = static_cast<std::size_t>(status.st_size);
    void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, descriptor, 0);
    const int mapError = errno;
    ::close(descriptor);
    if (mapped == MAP_FAILED)
        return file.string() + ": " + std::strerror(mapError);
    use(std::span(static_cast<const std::uint8_t*>(mapped), size));
    ::munmap(mapped, size);
    return {};
}

} // namespace os::elf
