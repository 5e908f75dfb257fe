// The program's platform: XWayland in a Wayland session with X11, otherwise whatever Qt picks, and
// always the platform the user chose.
#include "app/platform_choice.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

bool runsThroughXWayland(const std::map<std::string, std::string>& environment,
                         std::initializer_list<const char*> arguments = {})
{
    std::vector<const char*> argv{"horavine"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return app::shouldRunThroughXWayland(
        [&environment](const char* name) {
            const auto found = environment.find(name);
            return found == environment.end() ? nullptr : found->second.c_str();
        },
        static_cast<int>(argv.size()), argv.data());
}

TEST(PlatformChoiceTest, WaylandSessionsWithX11RunThroughXWaylandUnlessAPlatformWasChosen)
{
    EXPECT_TRUE(runsThroughXWayland({{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}}));
    EXPECT_TRUE(runsThroughXWayland({{"XDG_SESSION_TYPE", "wayland"}, {"DISPLAY", ":1"}}));
    // No X11 to run through.
    EXPECT_FALSE(runsThroughXWayland({{"WAYLAND_DISPLAY", "wayland-0"}}));
    EXPECT_FALSE(runsThroughXWayland({{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ""}}));
    // An X11 session, or no session at all.
    EXPECT_FALSE(runsThroughXWayland({{"XDG_SESSION_TYPE", "x11"}, {"DISPLAY", ":0"}}));
    EXPECT_FALSE(runsThroughXWayland({}));
    // The user's choice stands, by variable or by argument.
    EXPECT_FALSE(runsThroughXWayland({{"WAYLAND_DISPLAY", "w"}, {"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "wayland"}}));
    EXPECT_FALSE(runsThroughXWayland({{"WAYLAND_DISPLAY", "w"}, {"DISPLAY", ":0"}}, {"-platform", "wayland"}));
    EXPECT_FALSE(runsThroughXWayland({{"WAYLAND_DISPLAY", "w"}, {"DISPLAY", ":0"}}, {"--platform=wayland"}));
    EXPECT_TRUE(runsThroughXWayland({{"WAYLAND_DISPLAY", "w"}, {"DISPLAY", ":0"}}, {"--reopen"}));
}

} // namespace
