// The FDE covering a PC, found through an image's .eh_frame_hdr: the linker's table of (initial
// location, FDE address) pairs sorted by location, searched by halving. Crash-time code: no heap, no
// locks, every byte through the memory reader.
#pragma once

#include "kits/crash/capture/bbx_dwarf.h"

#include <cstdint>

namespace kits {

// Version 1 headers with a table of fixed-width entries (normally datarel|sdata4); false when the
// header is malformed, no entry starts at or below `pc`, or the FDE found does not cover it.
bool BBXEhFrameHeaderFindFDE(const BBXMemoryReader& memory, std::uint64_t header, std::uint64_t pc, BBXDwarfFDE& fde);

} // namespace kits
