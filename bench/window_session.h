// The main window over a copy of the benchmark store, shared by the window benchmarks, and the main()
// body that runs them on Qt's offscreen platform and closes the session in order.
#pragma once

#include "bench_store_fixture.h"

#include "mainwindow/main_split_view_controller.h"
#include "mainwindow/main_window_controller.h"
#include "mainwindow/projects_view_controller.h"

#include "model/preferences.h"

#include "foundation/defaults_store.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

namespace bench {

struct WindowSession {
    std::unique_ptr<StoreCopy> store;
    std::filesystem::path defaultsFolder;
    std::unique_ptr<foundation::DefaultsStore> defaults;
    std::unique_ptr<model::PersistenceController> persistence;
    std::unique_ptr<mainwindow::MainWindowController> window;

    data::ObjectContext& context() { return persistence->managedObjectContext(); }
    mainwindow::ProjectsViewController& projects() { return *window->splitViewController()->projectsViewController(); }

    // Settings of their own in a temporary folder: every date and billed timers listed.
    void openDefaults()
    {
        defaultsFolder = detail::makeTemporaryFolder("horavine-bench-defaults-");
        defaults = std::make_unique<foundation::DefaultsStore>(defaultsFolder / "defaults.json");
        model::Preferences(*defaults).setDateFilterRange(model::rawValue(model::DateFilterRange::all));
        model::Preferences(*defaults).setShowsBilledTimers(true);
    }

    // The end of an event-loop turn: the notice (with its save and observers), then the views.
    void endTurn()
    {
        context().processPendingChanges();
        QCoreApplication::processEvents();
    }

    void close()
    {
        window.reset();
        persistence.reset();
        defaults.reset();
        if (!defaultsFolder.empty())
            std::filesystem::remove_all(defaultsFolder);
        store.reset();
    }
};

inline WindowSession& windowSession()
{
    static WindowSession session;
    return session;
}

// Runs the registered benchmarks with a QApplication on the offscreen platform (unless another is
// chosen), then closes the shared session before the application goes.
inline int runWindowBenchmarks(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    windowSession().close();
    return 0;
}

} // namespace bench
