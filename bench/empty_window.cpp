// The start-up benchmark's baseline: a program of the same build (the same libraries loaded) that shows
// an empty QMainWindow of the main window's default size and reports its first paint as the program does
// (HORAVINE_REPORT_STARTUP=1). Not a benchmark itself; startup_bench runs it.
#include "app/launch_report.h"
#include "mainwindow/main_window_controller.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    app::LaunchReport launchReport;
    QMainWindow window;
    window.resize(mainwindow::MainWindowController::defaultSize);
    launchReport.watchMainWindow(window);
    window.show();
    return application.exec();
}
