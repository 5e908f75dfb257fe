// The published Mach-O file layouts the reader needs: thin and fat headers, load commands and the
// commands it looks into. No system header declares them on Linux, so they are declared here; the
// reader copies them out of the bytes (never casts a pointer), so unaligned input is harmless.
#pragma once

#include <cstdint>

namespace kits::macho {

// Magic numbers as a little-endian host reads them from the file's first word.
constexpr std::uint32_t MH_MAGIC = 0xfeedface;
constexpr std::uint32_t MH_CIGAM = 0xcefaedfe;
constexpr std::uint32_t MH_MAGIC_64 = 0xfeedfacf;
constexpr std::uint32_t MH_CIGAM_64 = 0xcffaedfe;
constexpr std::uint32_t FAT_MAGIC = 0xcafebabe;
constexpr std::uint32_t FAT_CIGAM = 0xbebafeca;

constexpr std::int32_t CPU_ARCH_ABI64 = 0x01000000;
constexpr std::int32_t CPU_TYPE_X86 = 7;
constexpr std::int32_t CPU_TYPE_X86_64 = CPU_TYPE_X86 | CPU_ARCH_ABI64;
constexpr std::int32_t CPU_TYPE_ARM = 12;
constexpr std::int32_t CPU_TYPE_ARM64 = CPU_TYPE_ARM | CPU_ARCH_ABI64;
constexpr std::int32_t CPU_TYPE_POWERPC = 18;
constexpr std::int32_t CPU_TYPE_POWERPC64 = CPU_TYPE_POWERPC | CPU_ARCH_ABI64;
// The subtype's high byte holds capability bits, not the model.
constexpr std::int32_t CPU_SUBTYPE_MASK = static_cast<std::int32_t>(0xff000000);

constexpr std::uint32_t LC_SEGMENT = 0x1;
constexpr std::uint32_t LC_LOAD_DYLIB = 0xc;
constexpr std::uint32_t LC_SEGMENT_64 = 0x19;
constexpr std::uint32_t LC_UUID = 0x1b;
constexpr std::uint32_t LC_ENCRYPTION_INFO = 0x21;
constexpr std::uint32_t LC_VERSION_MIN_MACOSX = 0x24;
constexpr std::uint32_t LC_VERSION_MIN_IPHONEOS = 0x25;
constexpr std::uint32_t LC_ENCRYPTION_INFO_64 = 0x2c;
constexpr std::uint32_t LC_VERSION_MIN_TVOS = 0x2f;
constexpr std::uint32_t LC_VERSION_MIN_WATCHOS = 0x30;

struct mach_header {
    std::uint32_t magic;
    std::int32_t cputype;
    std::int32_t cpusubtype;
    std::uint32_t filetype;
    std::uint32_t ncmds;
    std::uint32_t sizeofcmds;
    std::uint32_t flags;
};

struct mach_header_64 {
    std::uint32_t magic;
    std::int32_t cputype;
    std::int32_t cpusubtype;
    std::uint32_t filetype;
    std::uint32_t ncmds;
    std::uint32_t sizeofcmds;
    std::uint32_t flags;
    std::uint32_t reserved;
};

// Fat headers and their entries are big-endian in the file.
struct fat_header {
    std::uint32_t magic;
    std::uint32_t nfat_arch;
};

struct fat_arch {
    std::int32_t cputype;
    std::int32_t cpusubtype;
    std::uint32_t offset;
    std::uint32_t size;
    std::uint32_t align;
};

struct load_command {
    std::uint32_t cmd;
    std::uint32_t cmdsize;
};

struct uuid_command {
    std::uint32_t cmd;
    std::uint32_t cmdsize;
    std::uint8_t uuid[16];
};

// LC_VERSION_MIN_MACOSX, _IPHONEOS, _TVOS, _WATCHOS; versions packed as xxxx.yy.zz.
struct version_min_command {
    std::uint32_t cmd;
    std::uint32_t cmdsize;
    std::uint32_t version;
    std::uint32_t sdk;
};

// The name lies inside the command at `offset` from its start and ends with a zero byte.
struct dylib {
    std::uint32_t offset;
    std::uint32_t timestamp;
    std::uint32_t current_version;
    std::uint32_t compatibility_version;
};

struct dylib_command {
    std::uint32_t cmd;
    std::uint32_t cmdsize;
    struct dylib dylib;
};

struct segment_command {
    std::uint32_t cmd;
    std::uint32_t cmdsize;
    char segname[16];
    std::uint32_t vmaddr;
    std::uint32_t vmsize;
    std::uint32_t fileoff;
    std::uint32_t filesize;
    std::int32_t maxprot;
    std::int32_t initprot;
    std::uint32_t nsects;
    std::uint32_t flags;
};

struct segment_command_64 {
    std::uint32_t cmd;
    std::uint32_t cmdsize;
    char segname[16];
    std::uint64_t vmaddr;
    std::uint64_t vmsize;
    std::uint64_t fileoff;
    std::uint64_t filesize;
    std::int32_t maxprot;
    std::int32_t initprot;
    std::uint32_t nsects;
    std::uint32_t flags;
};

// Sections follow their segment command, `nsects` of them.
struct section {
    char sectname[16];
    char segname[16];
    std::uint32_t addr;
    std::uint32_t size;
    std::uint32_t offset;
    std::uint32_t align;
    std::uint32_t reloff;
    std::uint32_t nreloc;
    std::uint32_t flags;
    std::uint32_t reserved1;
    std::uint32_t reserved2;
};

struct section_64 {
    char sectname[16];
    char segname[16];
    std::uint64_t addr;
    std::uint64_t size;
    std::uint32_t offset;
    std::uint32_t align;
    std::uint32_t reloff;
    std::uint32_t nreloc;
    std::uint32_t flags;
    std::uint32_t reserved1;
    std::uint32_t reserved2;
    std::uint32_t reserved3;
};

struct encryption_info_command {
    std::uint32_t cmd;
    std::uint32_t cmdsize;
    std::uint32_t cryptoff;
    std::uint32_t cryptsize;
    std::uint32_t cryptid;
};

struct encryption_info_command_64 {
    std::uint32_t cmd;
    std::uint32_t cmdsize;
    std::uint32_t cryptoff;
    std::uint32_t cryptsize;
    std::uint32_t cryptid;
    std::uint32_t pad;
};

static_assert(sizeof(mach_header) == 28 && sizeof(mach_header_64) == 32);
static_assert(sizeof(fat_header) == 8 && sizeof(fat_arch) == 20);
static_assert(sizeof(uuid_command) == 24 && sizeof(version_min_command) == 16 && sizeof(dylib_command) == 24);
static_assert(sizeof(segment_command) == 56 && sizeof(segment_command_64) == 72);
static_assert(sizeof(section) == 68 && sizeof(section_64) == 80);
static_assert(sizeof(encryption_info_command) == 20 && sizeof(encryption_info_command_64) == 24);

} // namespace kits::macho
