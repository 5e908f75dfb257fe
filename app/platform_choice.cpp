// The choice of XWayland over Wayland for the program.
#include "app/platform_choice.h"

#include <cstdlib>
#include <cstring>

namespace app {

namespace {

bool isSet(const char* value)
{
    return value && *value;
}

} // namespace

bool shouldRunThroughXWayland(const EnvironmentReader& environment, int argc, const char* const* argv)
{
    if (isSet(environment("QT_QPA_PLATFORM")))
        return false;
    for (int index = 1; index < argc; ++index) {
        const std::string_view argument = argv[index];
        if (argument == "-platform" || argument == "--platform" || argument.starts_with("-platform=")
            || argument.starts_with("--platform="))
            return false;
    }
    const char* sessionType = environment("XDG_SESSION_TYPE");
    const bool wayland =
        isSet(environment("WAYLAND_DISPLAY")) || (sessionType && std::strcmp(sessionType, "wayland") == 0);
    return wayland && isSet(environment("DISPLAY"));
}

void choosePlatform(int argc, const char* const* argv)
{
    if (shouldRunThroughXWayland([](const char* name) { return std::getenv(name); }, argc, argv))
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
}

} // namespace app
