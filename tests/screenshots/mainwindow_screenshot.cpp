// Shows the main window over a small store (clients, projects, timers of all three types, one of
// them running, one paused, one billed) and writes a picture of it: mainwindow_screenshot <file.png>
// [--week-picker | --client-editor | --drag-timer | --drag-project]; the options show the week with
// the date picker open, or a client selected in the sidebar with its editor open (the picture is then
// of the screen), or a drag held over the outline: a timer of "Internal" between the timers of "Mobile
// App" (framed, the project that takes it), or "Internal" at the top of "Mobile App" (a line at the gap).
// Run it under a display server (xvfb-run) to see the window as a user would.
#include "mainwindow/clients_view_controller.h"
#include "mainwindow/date_filter_label.h"
#include "mainwindow/drag_data.h"
#include "mainwindow/main_split_view_controller.h"
#include "mainwindow/main_window_controller.h"
#include "mainwindow/projects_outline_model.h"
#include "mainwindow/projects_outline_view.h"
#include "mainwindow/projects_view_controller.h"

#include "model/client.h"
#include "model/data_model.h"
#include "model/dates.h"
#include "model/managed_object.h"
#include "model/pause_entry.h"
#include "model/preferences.h"
#include "model/project.h"
#include "model/timer.h"

#include "data/object_context.h"
#include "foundation/calendar.h"
#include "foundation/defaults_store.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QMimeData>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>

#include <iostream>

namespace {

using foundation::Date;
using std::chrono::minutes;

model::Timer* addTimer(data::ObjectContext& context, model::Project* project, Date start, std::optional<Date> end,
                       const std::string& notes)
{
    auto* timer = model::initInContext<model::Timer>(context);
    timer->setProject(project);
    timer->setType(0);
    timer->setStart(start);
    timer->setEnd(end);
    timer->setNotes(notes);
    return timer;
}

void fillStore(data::ObjectContext& context)
{
    const Date now = model::roundedToMinute(foundation::now());
    auto* acme = model::initInContext<model::Client>(context);
    acme->setName("Acme Corp");
    acme->setCurrency("$");
    auto* globex = model::initInContext<model::Client>(context);
    globex->setName("Globex");
    globex->setCurrency("€");

    auto* website = model::initInContext<model::Project>(context);
    website->setName("Website Redesign");
    website->setClient(acme);
    website->setExpanded(true);
    addTimer(context, website, now - minutes(300), now - minutes(210), "Kick-off meeting")->setBilled(true);
    auto* paused = addTimer(context, website, now - minutes(200), std::nullopt, "Wireframes for the landing page");
    auto* pause = model::initInContext<model::PauseEntry>(context);
    pause->setTimer(paused);
    pause->setStart(now - minutes(95));
    auto* fixed = addTimer(context, website, now - minutes(150), now - minutes(150), "Phone call with the client");
    fixed->setType(1);
    fixed->setFixedDuration(45);
    auto* expense = addTimer(context, website, now - minutes(120), now - minutes(120), "Stock photos");
    expense->setType(2);
    expense->setFixedCost(foundation::Decimal::parse("129.9"));
    addTimer(context, website, now - minutes(77), std::nullopt, "Implementing the header");

    auto* app = model::initInContext<model::Project>(context);
    app->setName("Mobile App");
    app->setClient(globex);
    app->setExpanded(true);
    addTimer(context, app, now - minutes(420), now - minutes(330), "Sprint planning");
    auto* hotel = addTimer(context, app, now - minutes(320), now - minutes(320), "Hotel for the workshop");
    hotel->setType(2);
    hotel->setFixedCost(foundation::Decimal(240));

    auto* internal = model::initInContext<model::Project>(context);
    internal->setName("Internal");
    addTimer(context, internal, now - minutes(500), now - minutes(440), "Bookkeeping");

    auto* archived = model::initInContext<model::Project>(context);
    archived->setName("Old Brochure");
    archived->setArchived(true);
    context.processPendingChanges();
}

} // namespace

int main(int argc, char** argv)
{
    const bool weekPicker = argc == 3 && std::string(argv[2]) == "--week-picker";
    const bool clientEditor = argc == 3 && std::string(argv[2]) == "--client-editor";
    const bool dragTimer = argc == 3 && std::string(argv[2]) == "--drag-timer";
    const bool dragProject = argc == 3 && std::string(argv[2]) == "--drag-project";
    if (argc != 2 && !weekPicker && !clientEditor && !dragTimer && !dragProject) {
        std::cerr << "usage: mainwindow_screenshot <file.png> [--week-picker | --client-editor | --drag-timer | "
                     "--drag-project]\n";
        return 2;
    }
    QApplication application(argc, argv);
    // The afternoon of today, so the morning's timers fall into the day shown.
    foundation::DateComponents afternoon = foundation::Calendar::current().components(foundation::now());
    afternoon.hour = 15;
    afternoon.minute = 42;
    afternoon.second = 0;
    afternoon.nanosecond = 0;
    foundation::ScopedClock clock(std::make_shared<foundation::FixedClock>(
        foundation::Calendar::current().date(afternoon).value_or(foundation::now())));
    QTemporaryDir folder;
    foundation::DefaultsStore defaults((folder.path() + QStringLiteral("/defaults.json")).toStdString());
    model::Preferences(defaults).setDateFilterRange(
        model::rawValue(weekPicker ? model::DateFilterRange::week : model::DateFilterRange::day));
    model::Preferences(defaults).setShowsBilledTimers(true);
    data::ObjectContext context(model::managedObjectModel());
    fillStore(context);

    mainwindow::MainWindowController window(&context, defaults);
    auto* sidebar = new mainwindow::ClientsViewController(&context, &defaults);
    window.splitViewController()->setClientsViewController(sidebar);
    window.resize(1280, 620);
    window.show();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 800)
        application.processEvents(QEventLoop::AllEvents, 20);
    QPixmap picture = window.grab();
    if (weekPicker) {
        mainwindow::ProjectsViewController& projects = *window.splitViewController()->projectsViewController();
        projects.showDateFilterDatePicker(*projects.weekFilterFromTextField());
        settle.restart();
        while (settle.elapsed() < 800)
            application.processEvents(QEventLoop::AllEvents, 20);
        // The popover is a window of its own: the picture is of the screen.
        picture = window.screen()->grabWindow(0);
    }
    if (clientEditor) {
        model::Client* acme = sidebar->outlineModel()->clients().front();
        sidebar->selectItem(acme);
        sidebar->showClientEditor(*acme, false);
        settle.restart();
        while (settle.elapsed() < 800)
            application.processEvents(QEventLoop::AllEvents, 20);
        picture = window.screen()->grabWindow(0);
    }
    if (dragTimer || dragProject) {
        mainwindow::ProjectsViewController& projects = *window.splitViewController()->projectsViewController();
        mainwindow::ProjectsOutlineModel& rows = *projects.outlineModel();
        mainwindow::ProjectsOutlineView& view = *projects.outlineView();
        model::Project* app = projects.projects()[1];
        model::Project* internal = projects.projects()[2];
        data::Object* dragged = dragTimer ? static_cast<data::Object*>(rows.timers(*internal).front()) : internal;
        const QRect over =
            view.visualRect(rows.indexOf(dragTimer ? static_cast<data::Object*>(rows.timers(*app).back()) : app));
        const QPoint point(over.left() + 80, over.top() + 2);
        const std::unique_ptr<QMimeData> mimeData = mainwindow::mimeDataForObject(*dragged);
        const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
        QDragEnterEvent enter(point, actions, mimeData.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &enter);
        QDragMoveEvent move(point, actions, mimeData.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &move);
        settle.restart();
        while (settle.elapsed() < 300)
            application.processEvents(QEventLoop::AllEvents, 20);
        picture = window.grab();
        QDragLeaveEvent leave;
        QApplication::sendEvent(view.viewport(), &leave);
    }
    if (!picture.save(QString::fromLocal8Bit(argv[1]))) {
        std::cerr << "could not write " << argv[1] << '\n';
        return 1;
    }
    return 0;
}
