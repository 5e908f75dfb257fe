// Bounds-checked reading of ELF structures in a file's own class and byte order, shared by the
// identity and the symbol readers: the header, the program- and section-header tables and notes.
// Counts are capped by what the bytes can hold, so no field can make a reader loop long or read
// outside its span.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace os::elf {

constexpr std::uint32_t ptLoad = 1;
constexpr std::uint32_t ptNote = 4;
constexpr std::uint32_t ptGnuEhFrame = 0x6474e550;
constexpr std::uint32_t shtSymtab = 2;
constexpr std::uint32_t shtNote = 7;
constexpr std::uint32_t shtDynsym = 11;

class Bytes {
public:
    Bytes(std::span<const std::uint8_t> bytes, bool bigEndian) : bytes_(bytes), bigEndian_(bigEndian) {}

    std::uint64_t size() const { return bytes_.size(); }
    bool has(std::uint64_t offset, std::uint64_t count) const
    {
        return offset <= bytes_.size() && count <= bytes_.size() - offset;
    }
    // A field of `width` bytes; the caller has checked the range with has().
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

struct TableLayout {
    std::uint64_t offset = 0;
    std::uint64_t entrySize = 0;
    std::uint64_t count = 0;
};

struct Header {
    bool wide = false; // ELF64
    bool bigEndian = false;
    std::uint16_t machine = 0;
    TableLayout programs;
    TableLayout sections;
};

struct ProgramHeader {
    std::uint32_t type = 0;
    std::uint64_t offset = 0;
    std::uint64_t address = 0;
    std::uint64_t fileSize = 0;
    std::uint64_t memorySize = 0;
    std::uint64_t alignment = 0;
};

struct SectionHeader {
    std::uint32_t type = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint32_t link = 0;
    std::uint64_t alignment = 0;
    std::uint64_t entrySize = 0;
};

// The header of the ELF image at the start of `bytes`, or the reason there is none.
std::optional<Header> readHeader(std::span<const std::uint8_t> bytes, std::string& error);

// The entries of the header's tables that lie inside the bytes (entries too small for their class
// give an empty table).
std::vector<ProgramHeader> programHeaders(const Bytes& elf, const Header& header);
std::vector<SectionHeader> sectionHeaders(const Bytes& elf, const Header& header);

// The description of the first GNU build-ID note among the notes in [offset, offset + size).
std::optional<std::vector<std::uint8_t>> buildIdInNotes(const Bytes& elf, std::uint64_t offset, std::uint64_t size,
                                                        std::uint64_t alignment);

// Maps `file` (a regular file of at least 16 bytes) read-only and hands its bytes to `use`; the
// mapping ends when `use` returns. Answers "<path>: <reason>" when the file cannot be mapped, else "".
std::string withMappedFile(const std::filesystem::path& file,
                           const std::function<void(std::span<const std::uint8_t>)>& use);

} // namespace os::elf
