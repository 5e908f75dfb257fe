// Runs the export tests inside one offscreen QApplication, in a pinned zone and locale set before the
// shared formatters are first made, since they keep the zone and locale they were built with.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("TZ", "UTC", 1);
    ::setenv("LANG", "en_US.UTF-8", 1);
    for (const char* name : {"LC_ALL", "LC_TIME", "LC_MONETARY"})
        ::unsetenv(name);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
