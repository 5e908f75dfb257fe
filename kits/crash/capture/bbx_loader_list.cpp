// The walk of the loader's list. Layouts are those of <link.h>: the rendezvous (r_debug, with the next
// namespace's rendezvous after it from version 2 on) and the public head of each link map.
#include "kits/crash/capture/bbx_loader_list.h"

#include "kits/crash/capture/bbx_file.h"
#include "kits/crash/capture/bbx_support.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <link.h>

namespace {

constexpr std::uint64_t lowestValidAddress = 4096;
constexpr std::size_t namespaceLimit = 16;
constexpr std::size_t programHeaderLimit = 64;
constexpr std::size_t dynamicEntryLimit = 1024;
// A build-ID note sits among a few short notes: the first bytes of a note segment hold it.
constexpr std::size_t noteBytesLimit = 1024;
constexpr std::uint32_t buildIdNoteType = 3; // NT_GNU_BUILD_ID

template <typename T>
bool readAt(std::uint64_t address, T* value)
{
    return BBXReadMemory(reinterpret_cast<const void*>(address), value, sizeof *value);
}

std::uint64_t alignedUp(std::uint64_t value, std::uint64_t alignment)
{
    return (value + alignment - 1) & ~(alignment - 1);
}

// The first 16 bytes of the GNU build ID among `size` bytes of notes, as hexadecimal text.
void buildIdText(const std::uint8_t* notes, std::size_t size, std::uint64_t alignment, char* uuid)
{
    uuid[0] = '\0';
    alignment = alignment == 8 ? 8 : 4;
    for (std::size_t at = 0; size - at >= 12;) {
        std::uint32_t fields[3];
        std::memcpy(fields, notes + at, sizeof fields);
        const std::uint64_t name = at + 12;
        const std::uint64_t description = name + alignedUp(fields[0], alignment);
        const std::uint64_t end = description + alignedUp(fields[1], alignment);
        if (description > size || fields[1] > size - description)
            return;
        if (fields[2] == buildIdNoteType && fields[0] == 4 && std::memcmp(notes + name, "GNU", 4) == 0) {
            if (fields[1] >= 16)
                BBXHexEncode(notes + description, 16, uuid);
            return;
        }
        if (end > size)
            return;
        at = static_cast<std::size_t>(end);
    }
}

struct Rendezvous {
    std::uint64_t map = 0;
    std::uint64_t next = 0;
    bool consistent = false;
};

bool readRendezvous(std::uint64_t address, Rendezvous* rendezvous)
{
    r_debug debug{};
    if (!readAt(address, &debug))
        return false;
    rendezvous->map = reinterpret_cast<std::uint64_t>(debug.r_map);
    rendezvous->consistent = debug.r_state == r_debug::RT_CONSISTENT;
    rendezvous->next = 0;
    if (debug.r_version >= 2) {
        r_debug_extended* next = nullptr;
        if (!readAt(address + offsetof(r_debug_extended, r_next), &next))
            return false;
        rendezvous->next = reinterpret_cast<std::uint64_t>(next);
    }
    return true;
}

} // namespace

BBXLoaderListAnchor BBXLoaderListLocate()
{
    BBXLoaderListAnchor anchor;
    // The program comes first; its dynamic section's DT_DEBUG entry is where the loader put its
    // rendezvous for debuggers.
    ::dl_iterate_phdr(
        [](dl_phdr_info* object, std::size_t, void* data) {
            for (ElfW(Half) index = 0; index < object->dlpi_phnum; ++index) {
                const ElfW(Phdr)& header = object->dlpi_phdr[index];
                if (header.p_type != PT_DYNAMIC)
                    continue;
                const auto* entry = reinterpret_cast<const ElfW(Dyn)*>(object->dlpi_addr + header.p_vaddr);
                const std::size_t count = std::min<std::size_t>(header.p_memsz / sizeof(ElfW(Dyn)), dynamicEntryLimit);
                for (std::size_t at = 0; at < count && entry[at].d_tag != DT_NULL; ++at) {
                    if (entry[at].d_tag == DT_DEBUG)
                        static_cast<BBXLoaderListAnchor*>(data)->rendezvous = entry[at].d_un.d_ptr;
                }
            }
            return 1;
        },
        &anchor);
    if (void* program = ::dlopen(nullptr, RTLD_LAZY | RTLD_NOLOAD)) {
        link_map* map = nullptr;
        if (::dlinfo(program, RTLD_DI_LINKMAP, &map) == 0)
            anchor.firstMap = reinterpret_cast<std::uint64_t>(map);
        ::dlclose(program);
    }
    return anchor;
}

bool BBXLoaderListPlaceObject(std::uint64_t slide, BBXLoaderObject* object)
{
    ElfW(Ehdr) header;
    if (slide < lowestValidAddress || !readAt(slide, &header))
        return false;
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_phentsize != sizeof(ElfW(Phdr))
        || header.e_phnum == 0 || header.e_phnum > programHeaderLimit || header.e_phoff > UINT64_MAX - slide)
        return false;
    ElfW(Phdr) programs[programHeaderLimit];
    if (!BBXReadMemory(reinterpret_cast<const void*>(slide + header.e_phoff), programs,
                       header.e_phnum * sizeof(ElfW(Phdr))))
        return false;
    std::uint64_t lowest = UINT64_MAX;
    std::uint64_t highest = 0;
    std::uint64_t ehFrame = 0;
    bool headerMapped = false; // the segment of file offset 0 lies at the slide
    for (std::size_t index = 0; index < header.e_phnum; ++index) {
        const ElfW(Phdr)& program = programs[index];
        if (program.p_type == PT_LOAD && program.p_memsz > 0) {
            lowest = program.p_vaddr < lowest ? program.p_vaddr : lowest;
            const std::uint64_t end = program.p_vaddr + program.p_memsz;
            highest = end < program.p_vaddr ? UINT64_MAX : end > highest ? end : highest;
            headerMapped = headerMapped || (program.p_offset == 0 && program.p_vaddr == 0);
        } else if (program.p_type == PT_GNU_EH_FRAME && ehFrame == 0) {
            ehFrame = slide + program.p_vaddr;
        }
    }
    if (!headerMapped || lowest == UINT64_MAX || highest <= lowest)
        return false;
    object->node = {slide + lowest, highest - lowest, ehFrame, 0, 0};
    object->uuid[0] = '\0';
    for (std::size_t index = 0; index < header.e_phnum && object->uuid[0] == '\0'; ++index) {
        const ElfW(Phdr)& program = programs[index];
        if (program.p_type != PT_NOTE)
            continue;
        std::uint8_t notes[noteBytesLimit];
        const std::size_t size = program.p_memsz < noteBytesLimit ? program.p_memsz : noteBytesLimit;
        if (BBXReadMemory(reinterpret_cast<const void*>(slide + program.p_vaddr), notes, size))
            buildIdText(notes, size, program.p_align, object->uuid);
    }
    return true;
}

BBXLoaderListWalk BBXLoaderListEnumerate(const BBXLoaderListAnchor& anchor,
                                         void (*visit)(const BBXLoaderObject& object, void* context), void* context)
{
    BBXLoaderListWalk walk;
    bool complete = true;
    std::uint64_t heads[namespaceLimit];
    std::size_t headCount = 0;
    if (anchor.rendezvous >= lowestValidAddress) {
        std::uint64_t address = anchor.rendezvous;
        while (address != 0) {
            Rendezvous rendezvous;
            if (headCount == namespaceLimit || !readRendezvous(address, &rendezvous)) {
                complete = false;
                break;
            }
            complete = complete && rendezvous.consistent;
            heads[headCount++] = rendezvous.map;
            address = rendezvous.next;
        }
    } else if (anchor.firstMap >= lowestValidAddress) {
        heads[headCount++] = anchor.firstMap;
        complete = false; // without the rendezvous, a change under way cannot be seen
    } else {
        complete = false;
    }
    std::size_t steps = 0;
    for (std::size_t space = 0; space < headCount; ++space) {
        bool program = space == 0;
        for (std::uint64_t entry = heads[space]; entry != 0; program = false) {
            link_map map{};
            if (++steps > BBXLoaderListMaximumObjects || !readAt(entry, &map)) {
                complete = false;
                break;
            }
            BBXLoaderObject object{};
            object.name = map.l_name;
            if (BBXLoaderListPlaceObject(map.l_addr, &object)) {
                visit(object, context);
                ++walk.objects;
            } else if (!program) {
                complete = false; // a fixed-address program has no slide to find its headers at
            }
            entry = reinterpret_cast<std::uint64_t>(map.l_next);
        }
    }
    walk.complete = complete;
    return walk;
}
