// The main() of every Qt test binary: one offscreen QApplication, the zone and locale pinned to UTC and
// en_US before anything reads them (shared formatters keep the zone and locale they were first built
// with), and the kits' data and cache folders in a folder of this run, never the user's.
#include "support/temp_folder.h"

#include <QApplication>
#include <QLocale>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>

int main(int argc, char** argv)
{
    // ctest may ask for an offscreen screen of a given size ("offscreen:configfile=..."); the tray
    // tests run on a real X display (tests/app/with_tray.sh).
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const bool sizedOffscreen = platform && std::string_view(platform).substr(0, 9) == "offscreen";
    if (!sizedOffscreen && !std::getenv("HORAVINE_TEST_TRAY"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("TZ", "UTC", 1);
    ::setenv("LANG", "en_US.UTF-8", 1);
    for (const char* name : {"LC_ALL", "LC_TIME", "LC_MONETARY", "LC_NUMERIC"})
        ::unsetenv(name);
    testsupport::TempFolder kitFolders("horavine-qt-tests");
    ::setenv("XDG_DATA_HOME", (kitFolders.path() / "data").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (kitFolders.path() / "cache").c_str(), 1);

    QApplication application(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    // As in the program: a closed window ends nothing unless the code under test says so.
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
