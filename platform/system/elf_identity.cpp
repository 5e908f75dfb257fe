// ELF headers, program headers, section headers and notes, read with bounds-checked accessors in the
// file's own byte order. Counts are capped by what the bytes can hold, so no field can make the
// reader loop long or read outside its span.
#include "system/elf_identity.h"

#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace os {

namespace {

constexpr std::uint32_t ptNote = 4;
constexpr std::uint32_t shtNote = 7;
constexpr std::uint32_t ntGnuBuildId = 3;

class ElfBytes {
public:
    ElfBytes(std::span<const std::uint8_t> bytes, bool bigEndian) : bytes_(bytes), bigEndian_(bigEndian) {}

    bool has(std::uint64_t offset, std::uint64_t count) const
    {
        return offset <= bytes_.size() && count <= bytes_.size() - offset;
    }

    // The caller has checked the range with has().
    std::uint64_t read(std::uint64_t offset, std::size_t width) const
    {
        std::uint64_t value = 0;
        for (std::size_t index = 0; index < width; ++index) {
            const std::uint64_t byte = bytes_[offset + (bigEndian_ ? index : width - 1 - index)];
            value = (value << 8) | byte;
        }
        return value;
    }

    std::span<const std::uint8_t> slice(std::uint64_t offset, std::uint64_t count) const
    {
        return bytes_.subspan(offset, count);
    }

private:
    std::span<const std::uint8_t> bytes_;
    bool bigEndian_;
};

// The description of the first GNU build-ID note among the notes in [offset, offset + size).
std::optional<std::vector<std::uint8_t>> buildIdInNotes(const ElfBytes& elf, std::uint64_t offset, std::uint64_t size,
                                                        std::uint64_t alignment)
{
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

struct TableLayout {
    std::uint64_t offset = 0;
    std::uint64_t entrySize = 0;
    std::uint64_t count = 0;
};

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
    auto failure = [](std::string reason) { return ElfIdentityResult{std::nullopt, std::move(reason)}; };
    if (bytes.size() < 16
        || std::memcmp(bytes.data(),
                       "\x7f"
                       "ELF",
                       4)
               != 0)
        return failure("not an ELF file");
    const std::uint8_t fileClass = bytes[4];
    const std::uint8_t encoding = bytes[5];
    if ((fileClass != 1 && fileClass != 2) || (encoding != 1 && encoding != 2))
        return failure("unknown ELF class or byte order");
    const bool wide = fileClass == 2;
    const ElfBytes elf(bytes, encoding == 2);
    const std::uint64_t headerSize = wide ? 64 : 52;
    if (!elf.has(0, headerSize))
        return failure("truncated ELF header");

    ElfIdentity identity;
    identity.machine = static_cast<std::uint16_t>(elf.read(18, 2));
    identity.architecture = architectureName(identity.machine);

    const std::size_t address = wide ? 8 : 4;
    const TableLayout programs{elf.read(wide ? 32 : 28, address), elf.read(wide ? 54 : 42, 2),
                               elf.read(wide ? 56 : 44, 2)};
    const TableLayout sections{elf.read(wide ? 40 : 32, address), elf.read(wide ? 58 : 46, 2),
                               elf.read(wide ? 60 : 48, 2)};

    // Program headers: type at 0; 64-bit offset at 8, size at 32, alignment at 48; 32-bit at 4, 16, 28.
    const std::uint64_t minimumProgramEntry = wide ? 56 : 32;
    if (programs.entrySize >= minimumProgramEntry) {
        for (std::uint64_t index = 0; index < programs.count; ++index) {
            const std::uint64_t entry = programs.offset + index * programs.entrySize;
            if (!elf.has(entry, minimumProgramEntry))
                break;
            if (elf.read(entry, 4) != ptNote)
                continue;
            const std::uint64_t offset = elf.read(entry + (wide ? 8 : 4), address);
            const std::uint64_t size = elf.read(entry + (wide ? 32 : 16), address);
            const std::uint64_t alignment = elf.read(entry + (wide ? 48 : 28), address);
            if (auto found = buildIdInNotes(elf, offset, size, alignment)) {
                identity.buildId = std::move(*found);
                return {std::move(identity), {}};
            }
        }
    }
    // Section headers: type at 4; 64-bit offset at 24, size at 32, alignment at 48; 32-bit at 16, 20, 32.
    const std::uint64_t minimumSectionEntry = wide ? 64 : 40;
    if (sections.entrySize >= minimumSectionEntry) {
        for (std::uint64_t index = 0; index < sections.count; ++index) {
            const std::uint64_t entry = sections.offset + index * sections.entrySize;
            if (!elf.has(entry, minimumSectionEntry))
                break;
            if (elf.read(entry + 4, 4) != shtNote)
                continue;
            const std::uint64_t offset = elf.read(entry + (wide ? 24 : 16), address);
            const std::uint64_t size = elf.read(entry + (wide ? 32 : 20), address);
            const std::uint64_t alignment = elf.read(entry + (wide ? 48 : 32), address);
            if (auto found = buildIdInNotes(elf, offset, size, alignment)) {
                identity.buildId = std::move(*found);
                break;
            }
        }
    }
    return {std::move(identity), {}};
}

ElfIdentityResult readElfIdentity(const std::filesystem::path& file)
{
    auto failure = [&](const std::string& reason) {
        return ElfIdentityResult{std::nullopt, file.string() + ": " + reason};
    };
    const int descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return failure(std::strerror(errno));
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 16) {
        ::close(descriptor);
        return failure("not a regular file of at least 16 bytes");
    }
    const auto size = static_cast<std::size_t>(status.st_size);
    void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, descriptor, 0);
    ::close(descriptor);
    if (mapped == MAP_FAILED)
        return failure(std::strerror(errno));
    auto result = parseElfIdentity(std::span(static_cast<const std::uint8_t*>(mapped), size));
    ::munmap(mapped, size);
    if (!result)
        result.error = file.string() + ": " + result.error;
    return result;
}

std::filesystem::path runningExecutablePath()
{
    return "/proc/self/exe";
}

} // namespace os
