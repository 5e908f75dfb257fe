// The dynamic loader's own list of loaded objects, read at crash time with BBXReadMemory only (no
// loader calls, no locks, no heap): an object mapped a moment ago is seen even while the loader is
// busy, and a list torn by a crash ends the walk instead of faulting.
#pragma once

#include "kits/crash/capture/bbx_unwind.h"

#include <cstddef>
#include <cstdint>

// Where the loader's list starts, found once in normal operation (BBXLoaderListLocate): the debugger
// rendezvous named by the program's DT_DEBUG entry links every namespace's chain of link maps.
struct BBXLoaderListAnchor {
    std::uint64_t rendezvous = 0; // the loader's r_debug; 0 when the program has no DT_DEBUG
    std::uint64_t firstMap = 0;   // the program's link map, walked when there is no rendezvous
};

// One object of the list as the walk hands it over: its ELF and program headers give its span, its
// .eh_frame_hdr and its build ID.
struct BBXLoaderObject {
    kits::BBXBinaryImageNode node; // base, size and .eh_frame_hdr as the image list keeps them
    char uuid[33];                 // the build ID's first 16 bytes in hexadecimal; empty without one
    const char* name;              // the loader's file name (loader memory: read it with care)
};

// The rendezvous and first link map of this process. Not signal-safe (asks the loader once).
BBXLoaderListAnchor BBXLoaderListLocate();

// What a walk saw: `complete` when every namespace's chain ended within the limits, no change of
// the list was under way (the loader's state said so) and every object but the program could be
// read. `objects` counts the objects handed over.
struct BBXLoaderListWalk {
    bool complete = false;
    std::size_t objects = 0;
};

inline constexpr std::size_t BBXLoaderListMaximumObjects = 4096;

// Calls `visit(object, context)` for each object whose headers can be read, in the loader's order.
// Async-signal-safe.
BBXLoaderListWalk BBXLoaderListEnumerate(const BBXLoaderListAnchor& anchor,
                                         void (*visit)(const BBXLoaderObject& object, void* context), void* context);

// The image of an object whose load bias is `slide`, read from its headers in memory: its ELF header
// must lie at the slide (as for every shared object). False when the headers cannot be read.
// Async-signal-safe.
bool BBXLoaderListPlaceObject(std::uint64_t slide, BBXLoaderObject* object);
