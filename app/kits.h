// The application's entry points into the kits: starting them at launch, the crash kit's prompt and the
// debug crash.
#pragma once

#include "kits/crash/blackbox_delegate.h"

#include <cstdint>
#include <vector>

namespace app {

// Asks the crash kit's question in an application-modal alert, its buttons in the kit's order, and
// answers before it returns (from the main thread; from another, on a later turn of the event loop).
// An alert closed without a button is not answered: the report stays for the next launch.
kits::BlackboxPromptPresenter crashReportPromptPresenter();

// The application's icon as the kits send it (settings query, onboarding): the icon's SVG rendered as
// a PNG of 512 × 512 pixels; empty when it cannot be rendered.
std::vector<std::uint8_t> applicationIconPNG();

// Hands the kits what they take from their host: the information dictionary, the caches and data
// folders, the icon, the main-thread executor and the crash kit's prompt.
void handKitsTheirHost();

// Hands the kits their host, then starts the crash kit (and with it the analytics kit) once per process.
void startKits();
// Ends the process at once through the crash kit, which records the crash.
[[noreturn]] void crashForDebugging();

} // namespace app
