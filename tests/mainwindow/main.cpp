// Runs the main-window tests inside one offscreen QApplication, in a pinned zone and locale.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>

int main(int argc, char** argv)
{
    // ctest may ask for an offscreen screen of a given size ("offscreen:configfile=...").
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (!platform || std::string_view(platform).substr(0, 9) != "offscreen")
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("TZ", "UTC", 1);
    ::setenv("LANG", "en_US.UTF-8", 1);
    for (const char* name : {"LC_ALL", "LC_TIME", "LC_MONETARY"})
        ::unsetenv(name);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
