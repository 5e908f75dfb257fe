// What identifies an ELF file: the machine it was built for and its GNU build ID (the linker's
// NT_GNU_BUILD_ID note). The reader checks every offset against the bytes it was given, so any
// file, however damaged, yields an identity or a reason.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace os {

struct ElfIdentity {
    std::uint16_t machine = 0;         // e_machine
    std::string architecture;          // "x86_64", "i386", "arm64", "arm", or "unknown"
    std::vector<std::uint8_t> buildId; // empty when the file has no build-ID note
};

struct ElfIdentityResult {
    std::optional<ElfIdentity> identity;
    std::string error; // empty when there is an identity
    explicit operator bool() const { return identity.has_value(); }
};

// The identity of the ELF image in `bytes` (32- or 64-bit, either byte order). Notes are looked for
// in the PT_NOTE segments, then in the SHT_NOTE sections.
ElfIdentityResult parseElfIdentity(std::span<const std::uint8_t> bytes);

// The same for a file, mapped read-only: it must be a regular file of at least 16 bytes.
ElfIdentityResult readElfIdentity(const std::filesystem::path& file);

// The running executable as procfs shows it ("/proc/self/exe"), readable even after a rename.
std::filesystem::path runningExecutablePath();

// The architecture name of an e_machine value.
std::string architectureName(std::uint16_t machine);

} // namespace os
