// Which Qt platform the program runs on: in a Wayland session that also offers X11 it runs through
// XWayland, because the mini window hangs under the tray icon, and Wayland gives programs neither
// window positions nor the icon's place. A platform the user chose is always kept.
#pragma once

#include <functional>
#include <string_view>

namespace app {

using EnvironmentReader = std::function<const char*(const char* name)>;

// Whether to run on "xcb": a Wayland session (WAYLAND_DISPLAY, or XDG_SESSION_TYPE "wayland") with
// DISPLAY set, and no platform chosen by QT_QPA_PLATFORM or a -platform argument.
bool shouldRunThroughXWayland(const EnvironmentReader& environment, int argc, const char* const* argv);

// Sets QT_QPA_PLATFORM=xcb when shouldRunThroughXWayland says so; before the QApplication exists.
void choosePlatform(int argc, const char* const* argv);

} // namespace app
