// The application's entry points into the kits: starting them at launch and the debug crash.
#pragma once

namespace app {

// Starts the crash kit (and with it the analytics kit) once per process.
void startKits();
// Ends the process at once through the crash kit, which records the crash.
[[noreturn]] void crashForDebugging();

} // namespace app
