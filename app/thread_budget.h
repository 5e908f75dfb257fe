// Keeps what a thread costs in address space small, so the program starts and paints under a tight
// address-space limit (`ulimit -v`): a few malloc arenas instead of one per thread, smaller stacks for
// every thread started from then on, and the threads Qt waits for started once at launch and kept.
#pragma once

#include <cstddef>

namespace app {

inline constexpr int mallocArenaLimit = 4;
inline constexpr std::size_t threadStackBytes = std::size_t(2) << 20;
inline constexpr int drawingThreadLimit = 4;

// Caps malloc's arenas and sets the default stack size of threads (std::thread, Qt's and the
// libraries'). First thing in main(), before any thread starts.
void limitThreadCosts();

// Qt starts some threads on first need and then waits for them without end when they could not be
// started: the D-Bus connection's thread (the accessibility bridge and the file manager call ask for
// it while the window is built) and the global thread pool's, to which the raster engine hands large
// fills (a paint, and the main loop, would wait for ever). So they are started here, after a check of
// how many threads the system lets start, and kept: the D-Bus thread, then as many drawing threads as
// are left (up to drawingThreadLimit); the pool never asks for another. False when fewer than two
// could start, or a drawing thread failed to start after all: the program cannot paint and must end
// without running the pool's destructor (which would wait for that thread). After the QApplication.
bool startQtThreads();

} // namespace app
