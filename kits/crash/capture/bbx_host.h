// Host values the capture needs, taken at set-up: the page size and the user's Documents folder (for
// the "storage" figures), and whether a debugger traces the process (then no handlers are installed).
#pragma once

#include <cstdint>

// The page size; 4096, with a warning in sdk.log, when it cannot be read.
std::uint64_t BBXHostGetPageSize();
// Stores the page size and the Documents folder ($XDG_DOCUMENTS_DIR, else ~/Documents; copied into
// the protectable region) in the context. Does nothing without a context.
void BBXHostInitialize();
// True when /proc/self/status names a tracer; false, with a warning, when it cannot be read.
bool BBXProcessDebuggerAttached();
