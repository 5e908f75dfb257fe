// What identifies an ELF image: the machine it was built for, its GNU build ID (the linker's
// NT_GNU_BUILD_ID note) and the first 16 bytes of it as a UUID text, where it lies in memory (base,
// size, the .eh_frame_hdr segment) and its file. One reader serves files and the objects the loader
// has mapped; it checks every offset against the bytes it was given, so any image, however damaged,
// yields an identity or a reason.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct dl_phdr_info;

namespace os {

struct ElfIdentity {
    std::uint16_t machine = 0;         // e_machine
    std::string architecture;          // "x86_64", "i386", "arm64", "arm", or "unknown"
    std::vector<std::uint8_t> buildId; // empty when the image has no build-ID note
    // The build ID's first 16 bytes as 32 lower-case hexadecimal characters; empty without a build ID
    // of at least 16 bytes (like a Mach-O image without LC_UUID).
    std::string uuid;
    // The load bias (0 for a file), the lowest PT_LOAD address plus the bias, and the span of the
    // PT_LOAD segments.
    std::uint64_t slide = 0;
    std::uint64_t base = 0;
    std::uint64_t size = 0;
    // The PT_GNU_EH_FRAME segment's address plus the bias; 0 when there is none.
    std::uint64_t ehFrameHeader = 0;
    // The file: the one read, or the loader's name of the object ("/proc/self/exe" for the program).
    std::filesystem::path path;

    bool contains(std::uint64_t address) const { return address >= base && address - base < size; }
};

struct ElfIdentityResult {
    std::optional<ElfIdentity> identity;
    std::string error; // empty when there is an identity
    explicit operator bool() const { return identity.has_value(); }
};

// The identity of the ELF file in `bytes` (32- or 64-bit, either byte order). Notes are looked for
// in the PT_NOTE segments, then in the SHT_NOTE sections.
ElfIdentityResult parseElfIdentity(std::span<const std::uint8_t> bytes);

// The same for a file, mapped read-only: it must be a regular file of at least 16 bytes.
ElfIdentityResult readElfIdentity(const std::filesystem::path& file);

// The identity of an object as the loader reports it (dl_iterate_phdr): its program headers as
// mapped, the ELF header at the start of the segment that maps the file's first bytes, and the
// notes inside its loaded segments.
ElfIdentityResult loadedObjectIdentity(const dl_phdr_info& object);

// Every object the loader has mapped, in its order (the program first); the vDSO has no file.
std::vector<ElfIdentity> loadedImages();
// The loaded object whose PT_LOAD span holds `address`.
std::optional<ElfIdentity> loadedImageContaining(std::uint64_t address);

// The running executable as procfs shows it ("/proc/self/exe"), readable even after a rename.
std::filesystem::path runningExecutablePath();

// The architecture name of an e_machine value.
std::string architectureName(std::uint16_t machine);

} // namespace os
