// Timing lines for the start-up measurement and the refresh tick, measured from the process start
// the kernel recorded, so that loading the program's libraries counts too.
#include "app/launch_report.h"

#include "app/app_delegate.h"
#include "foundation/diagnostics.h"

#include <QEvent>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace app {

namespace {

bool environmentFlag(const char* name)
{
    const char* value = std::getenv(name);
    return value && std::strcmp(value, "1") == 0;
}

} // namespace

LaunchReport::LaunchReport()
{
    reportStartup_ = environmentFlag("HORAVINE_REPORT_STARTUP");
    if (environmentFlag("HORAVINE_LOG_REFRESH")) {
        refreshToken_ = foundation::NotificationCenter::defaultCenter().addObserver(
            AppDelegate::refreshTimerFiredNotification, nullptr, [](const foundation::Notification&) {
                foundation::diagnostic(std::string(AppDelegate::refreshTimerFiredNotification) + " at "
                                       + foundation::fixedPointText(secondsSinceProcessStart(), 2) + " s");
            });
    }
}

void LaunchReport::watchMainWindow(QWidget& mainWindow)
{
    if (!reportStartup_)
        return;
    mainWindow_ = &mainWindow;
    mainWindow.installEventFilter(this);
}

void LaunchReport::watchStoreInWindow(QWidget& content)
{
    if (!reportStartup_)
        return;
    content_ = &content;
    content.installEventFilter(this);
}

void LaunchReport::reportReopen() const
{
    if (reportStartup_)
        foundation::diagnostic("main window raised for another launch");
}

bool LaunchReport::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == mainWindow_ && event->type() == QEvent::Paint) {
        foundation::diagnostic("main window shown " + foundation::fixedPointText(secondsSinceProcessStart(), 3)
                               + " s after launch");
        mainWindow_->removeEventFilter(this);
        mainWindow_.clear();
    } else if (watched == content_ && event->type() == QEvent::Paint) {
        foundation::diagnostic("store in the main window " + foundation::fixedPointText(secondsSinceProcessStart(), 3)
                               + " s after launch");
        content_->removeEventFilter(this);
        content_.clear();
    }
    return QObject::eventFilter(watched, event);
}

double LaunchReport::secondsSinceProcessStart()
{
    // Field 22 of /proc/self/stat: the start time in clock ticks after boot, on the boot-time clock.
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto commandEnd = text.rfind(')'); // the command name may hold spaces
    if (commandEnd == std::string::npos)
        return 0.0;
    std::istringstream fields(text.substr(commandEnd + 2));
    std::string field;
    for (int index = 3; index < 22 && fields >> field; ++index) {}
    unsigned long long startTicks = 0;
    if (!(fields >> startTicks))
        return 0.0;
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    const double started = static_cast<double>(startTicks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9 - started;
}

} // namespace app
