// Runs the application-shell tests inside one offscreen QApplication.
#include "support/temp_folder.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    // The tray tests run on a real X display (with_tray.sh); everything else offscreen.
    if (!std::getenv("HORAVINE_TEST_TRAY"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The shell starts the kits, which keep files in the user's data and cache folders: give them ours.
    testsupport::TempFolder kitFolders("horavine-app-tests");
    ::setenv("XDG_DATA_HOME", (kitFolders.path() / "data").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (kitFolders.path() / "cache").c_str(), 1);
    QApplication application(argc, argv);
    // As in the program: a closed window ends nothing unless the shell says so.
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
