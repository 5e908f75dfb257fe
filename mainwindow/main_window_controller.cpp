// The main window's frame: toolbar items wired to the split view and the projects outline, menus whose
// actions the split view forwards to the child that handles them.
#include "mainwindow/main_window_controller.h"

#include "mainwindow/main_split_view_controller.h"
#include "mainwindow/projects_view_controller.h"

#include "model/preferences.h"

#include "data/object_context.h"
#include "ui/adaptive_space_item.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QScreen>
#include <QSignalBlocker>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>

namespace mainwindow {

namespace {

QToolButton* toolButton(const QString& text, const QString& identifier, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setText(text);
    button->setObjectName(identifier);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    return button;
}

} // namespace

MainWindowController::MainWindowController(data::ObjectContext* context, foundation::DefaultsStore& defaults,
                                           QWidget* parent)
    : QMainWindow(parent), context_(context), defaults_(defaults),
      split_(new MainSplitViewController(context, defaults, this))
{
    setObjectName("MainWindow");
    setWindowTitle(tr("Horavine"));
    setCentralWidget(split_);
    buildActions();
    buildMenus();
    buildToolbar();
    connectSplitView();
    validateMenuItems();
    resize(defaultSize);
    const bool remembered = restoreFrame();
    fitFrameToScreen(remembered);
}

void MainWindowController::waitForStore(const QString& storeName)
{
    split_->projectsViewController()->showLoading(storeName);
    // A disabled window passes no click or key to its children, and its actions' shortcuts do
    // not match while every widget they sit in is disabled.
    setEnabled(false);
    waitingForStore_ = true;
}

void MainWindowController::attachContext(data::ObjectContext& context)
{
    if (context_)
        return;
    context_ = &context;
    auto* split = new MainSplitViewController(context_, defaults_, this);
    split->adoptColumnWidths(*split_);
    // The old split view's actions leave the menus with it; the menus are built again around the
    // new one's.
    for (QMenu* menu : menus_)
        delete menu;
    menus_.clear();
    split_ = split;
    setCentralWidget(split_); // deletes the old one
    buildMenus();
    connectSplitView();
    validateMenuItems();
    setEnabled(true);
    waitingForStore_ = false;
}

void MainWindowController::connectSplitView()
{
    connect(split_, &MainSplitViewController::selectionDidChange, this, &MainWindowController::validateMenuItems);
    split_->setClientCollapseButton(customersSidebarToggle_);
    split_->setInspectorCollapseButton(inspectorSidebarToggle_);
    split_->setAdaptiveSpaceItem(adaptiveSpace_);
    // The term is already gone from the outline; emptying the field must not reload it again.
    connect(split_->projectsViewController(), &ProjectsViewController::searchTermCleared, searchField_, [this] {
        const QSignalBlocker blocker(searchField_);
        searchField_->clear();
    });
    // Every change pass may open an undo step; a disabled Undo item would also ignore its shortcut.
    if (context_)
        changeToken_ = context_->notificationCenter().addObserver(
            data::ObjectsDidChangeNotification, context_,
            [this](const foundation::Notification&) { validateMenuItems(); });
}

void MainWindowController::setSaveStatusMark(const QString& mark)
{
    setWindowTitle(mark.isEmpty() ? tr("Horavine") : tr("Horavine — %1").arg(mark));
    split_->projectsViewController()->setSaveStatusMark(mark);
}

MainWindowController::~MainWindowController()
{
    saveFrame();
}

// The window's frame is kept in the defaults under its autosave name, as Qt's own geometry text,
// and so are the widths of its columns.
bool MainWindowController::restoreFrame()
{
    if (auto columns = defaults_.stringValue(columnsAutosaveName))
        split_->restoreColumnWidths(QByteArray::fromBase64(QByteArray::fromStdString(*columns)));
    if (auto frame = defaults_.stringValue(frameAutosaveName))
        return restoreGeometry(QByteArray::fromBase64(QByteArray::fromStdString(*frame)));
    return false;
}

QSize MainWindowController::minimumFrameSize() const
{
    // Every toolbar item at its natural width, so none is pushed out of reach. The adaptive space
    // may shrink to nothing: its width of the moment does not count.
    int toolbarWidth = toolbar_ ? toolbar_->sizeHint().width() : 0;
    if (ui::AdaptiveSpaceItem* space = split_->adaptiveSpaceItem(); space && space->view())
        toolbarWidth -= space->view()->minimumWidth();
    return QSize(std::max(toolbarWidth, 640), 400);
}

void MainWindowController::fitFrameToScreen(bool remembered)
{
    QScreen* screen = QGuiApplication::screenAt(geometry().center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // The decorations count against the screen too, once the window system has told their size.
    const QRect decorated = frameGeometry();
    const QMargins decorations(geometry().left() - decorated.left(), geometry().top() - decorated.top(),
                               decorated.right() - geometry().right(), decorated.bottom() - geometry().bottom());
    const QRect available = screen->availableGeometry().marginsRemoved(decorations);
    setMinimumSize(minimumFrameSize().boundedTo(available.size()));
    QRect frame = geometry();
    frame.setSize(frame.size().boundedTo(available.size()).expandedTo(minimumSize()));
    // A first window opens centred; a remembered one keeps its place as far as the screen allows.
    if (!remembered)
        frame.moveCenter(available.center());
    frame.moveLeft(std::clamp(frame.left(), available.left(), available.right() + 1 - frame.width()));
    frame.moveTop(std::clamp(frame.top(), available.top(), available.bottom() + 1 - frame.height()));
    if (frame != geometry())
        setGeometry(frame);
}

void MainWindowController::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // Now the decorations may be known: the frame is fitted again, keeping its place where it can.
    if (!event->spontaneous())
        fitFrameToScreen(true);
}

void MainWindowController::saveFrame()
{
    if (waitingForStore_)
        return;
    const QByteArray frame = saveGeometry().toBase64();
    if (defaults_.stringValue(frameAutosaveName) != frame.toStdString())
        defaults_.set(frameAutosaveName, frame.toStdString());
    const QByteArray columns = split_->saveState().toBase64();
    if (defaults_.stringValue(columnsAutosaveName) != columns.toStdString())
        defaults_.set(columnsAutosaveName, columns.toStdString());
}

void MainWindowController::closeEvent(QCloseEvent* event)
{
    saveFrame();
    QMainWindow::closeEvent(event);
}

void MainWindowController::buildActions()
{
    buildExportActions();
    newProjectAction_ = new QAction(tr("New Project"), this);
    newProjectAction_->setShortcut(QKeySequence::New);
    connect(newProjectAction_, &QAction::triggered, this, [this] { split_->newProject(); });
    startNewTimerAction_ = new QAction(tr("New Timer"), this);
    startNewTimerAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    connect(startNewTimerAction_, &QAction::triggered, this, [this] { split_->startNewTimerForSelectedProject(); });
    newFixedDurationTimerAction_ = new QAction(tr("New Fixed-Duration Timer"), this);
    newFixedDurationTimerAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_T));
    connect(newFixedDurationTimerAction_, &QAction::triggered, this,
            [this] { split_->createNewFixedDurationTimerForSelectedProject(); });
    newExpenseTimerAction_ = new QAction(tr("New Expense"), this);
    newExpenseTimerAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    connect(newExpenseTimerAction_, &QAction::triggered, this,
            [this] { split_->createNewExpenseTimerForSelectedProject(); });
    newClientAction_ = new QAction(tr("New Client"), this);
    newClientAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N));
    connect(newClientAction_, &QAction::triggered, this, [this] { split_->newClient(); });
    importClientAction_ = new QAction(tr("Import Client from Contacts…"), this);
    connect(importClientAction_, &QAction::triggered, this, [this] { split_->importClientFromContacts(); });

    undoAction_ = new QAction(tr("Undo"), this);
    undoAction_->setShortcut(QKeySequence::Undo);
    connect(undoAction_, &QAction::triggered, this, [this] {
        if (context_)
            context_->undoManager().undo();
        validateMenuItems();
    });
    redoAction_ = new QAction(tr("Redo"), this);
    redoAction_->setShortcut(QKeySequence::Redo);
    connect(redoAction_, &QAction::triggered, this, [this] {
        if (context_)
            context_->undoManager().redo();
        validateMenuItems();
    });

    toggleSidebarAction_ = new QAction(tr("Show Sidebar"), this);
    toggleSidebarAction_->setCheckable(true);
    connect(toggleSidebarAction_, &QAction::triggered, this,
            [this](bool on) { split_->customersSidebarToggleAction(on); });
    toggleInspectorAction_ = new QAction(tr("Show Inspector"), this);
    toggleInspectorAction_->setCheckable(true);
    connect(toggleInspectorAction_, &QAction::triggered, this,
            [this](bool on) { split_->inspectorSidebarToggleAction(on); });
}

// Always enabled.
void MainWindowController::buildExportActions()
{
    const std::pair<exports::ExportFormat, const char*> items[] = {
        {exports::ExportFormat::text, "Export as Text…"},
        {exports::ExportFormat::csv, "Export as CSV…"},
        {exports::ExportFormat::html, "Export as HTML…"},
        {exports::ExportFormat::pdf, "Export as PDF…"},
    };
    for (const auto& [format, title] : items) {
        auto* action = new QAction(tr(title), this);
        const std::int64_t tag = exports::rawValue(format);
        action->setData(QVariant::fromValue<qint64>(tag));
        connect(action, &QAction::triggered, this,
                [this, action] { split_->projectsViewController()->exportProjects(action->data().toLongLong()); });
        exportActions_[static_cast<std::size_t>(tag) - 1] = action;
    }
    printAction_ = new QAction(tr("Print…"), this);
    printAction_->setShortcut(QKeySequence::Print);
    connect(printAction_, &QAction::triggered, this, [this] { split_->projectsViewController()->printProjects(); });
}

void MainWindowController::buildMenus()
{
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(newProjectAction_);
    file->addAction(startNewTimerAction_);
    file->addAction(newFixedDurationTimerAction_);
    file->addAction(newExpenseTimerAction_);
    file->addSeparator();
    file->addAction(newClientAction_);
    file->addAction(importClientAction_);
    file->addSeparator();
    for (QAction* exportAction : exportActions_)
        file->addAction(exportAction);
    file->addAction(printAction_);
    QMenu* edit = menuBar()->addMenu(tr("&Edit"));
    edit->addAction(undoAction_);
    edit->addAction(redoAction_);
    edit->addSeparator();
    edit->addAction(split_->projectsAction(ProjectsAction::deleteItem));
    QMenu* project = menuBar()->addMenu(tr("&Project"));
    for (ProjectsAction which :
         {ProjectsAction::pauseTimersInSelectedProject, ProjectsAction::resumeTimersInSelectedProject,
          ProjectsAction::stopTimersInSelectedProject, ProjectsAction::markAllTimersInSelectedProjectAsBilled})
        project->addAction(split_->projectsAction(which));
    project->addSeparator();
    project->addAction(split_->projectsAction(ProjectsAction::toggleArchiveProject));
    QMenu* timer = menuBar()->addMenu(tr("&Timer"));
    timer->addAction(split_->projectsAction(ProjectsAction::togglePauseSelectedTimer));
    timer->addAction(split_->projectsAction(ProjectsAction::stopSelectedTimer));
    timer->addSeparator();
    for (ProjectsAction which : {ProjectsAction::pauseAllRunningTimers, ProjectsAction::resumeAllRunningTimers,
                                 ProjectsAction::stopAllRunningTimers})
        timer->addAction(split_->projectsAction(which));
    QMenu* view = menuBar()->addMenu(tr("&View"));
    QAction* showBilled = split_->projectsAction(ProjectsAction::toggleShowBilledTimers);
    view->addAction(showBilled);
    // The toolbar's billed toggle follows the setting whichever item changed it.
    connect(showBilled, &QAction::triggered, this, &MainWindowController::validateMenuItems);
    view->addSeparator();
    view->addAction(toggleSidebarAction_);
    view->addAction(toggleInspectorAction_);
    for (QMenu* menu : {file, edit, project, timer, view}) {
        connect(menu, &QMenu::aboutToShow, this, &MainWindowController::validateMenuItems);
        menus_.push_back(menu);
    }
}

void MainWindowController::setApplicationMenu(QMenu* menu)
{
    const auto actions = menuBar()->actions();
    if (actions.isEmpty())
        menuBar()->addMenu(menu);
    else
        menuBar()->insertMenu(actions.first(), menu);
}

void MainWindowController::buildToolbar()
{
    QToolBar* toolbar = addToolBar(tr("Toolbar"));
    toolbar_ = toolbar;
    toolbar->setObjectName("toolbar");
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->toggleViewAction()->setEnabled(false);

    customersSidebarToggle_ = toolButton(tr("Sidebar"), QStringLiteral("customersSidebarToggle"), toolbar);
    customersSidebarToggle_->setCheckable(true);
    connect(customersSidebarToggle_, &QToolButton::clicked, this,
            [this](bool on) { split_->customersSidebarToggleAction(on); });
    toolbar->addWidget(customersSidebarToggle_);
    toolbar->addSeparator();

    toolbar->addAction(newProjectAction_);
    auto* newTimer = toolButton(tr("New Timer"), QStringLiteral("newTimer"), toolbar);
    newTimer->setDefaultAction(startNewTimerAction_);
    auto* timerMenu = new QMenu(newTimer);
    timerMenu->addAction(startNewTimerAction_);
    timerMenu->addAction(newFixedDurationTimerAction_);
    timerMenu->addAction(newExpenseTimerAction_);
    newTimer->setMenu(timerMenu);
    newTimer->setPopupMode(QToolButton::MenuButtonPopup);
    toolbar->addWidget(newTimer);

    // The space that keeps the date range centred in the toolbar at any window width. Its width
    // counts on this gap between items.
    toolbar->layout()->setSpacing(static_cast<int>(ui::AdaptiveSpaceItem::itemSpacing));
    adaptiveSpace_ = new ui::AdaptiveSpaceItem(toolbar);
    toolbar->addAction(adaptiveSpace_);

    // The segment index is the raw value of the date filter range.
    auto* segments = new QWidget(toolbar);
    segments->setObjectName("dateFilterRange");
    auto* segmentsLayout = new QHBoxLayout(segments);
    segmentsLayout->setContentsMargins(0, 0, 0, 0);
    segmentsLayout->setSpacing(0);
    dateFilterRange_ = new QButtonGroup(segments);
    dateFilterRange_->setExclusive(true);
    const QStringList titles{tr("All"), tr("Day"), tr("Week"), tr("Month"), tr("Year"), tr("Custom")};
    for (int index = 0; index < titles.size(); ++index) {
        auto* segment = toolButton(titles[index], QString(), segments);
        segment->setCheckable(true);
        segment->setAutoRaise(false);
        dateFilterRange_->addButton(segment, index);
        segmentsLayout->addWidget(segment);
    }
    // A stored value that names no range shows as "Day", as the outline does; the value is kept.
    const auto storedRange = model::dateFilterRangeFromRawValue(model::Preferences(defaults_).dateFilterRange());
    dateFilterRange_->button(static_cast<int>(model::rawValue(storedRange.value_or(model::DateFilterRange::day))))
        ->setChecked(true);
    connect(dateFilterRange_, &QButtonGroup::idClicked, this,
            [this](int segment) { split_->dateFilterRangeChanged(segment); });
    toolbar->addWidget(segments);

    billedToggle_ = toolButton(tr("Billed"), QStringLiteral("showsBilledTimers"), toolbar);
    billedToggle_->setCheckable(true);
    billedToggle_->setChecked(model::Preferences(defaults_).showsBilledTimers());
    billedToggle_->setToolTip(tr("Show billed timers"));
    connect(billedToggle_, &QToolButton::clicked, this, [this] {
        split_->projectsViewController()->toggleShowBilledTimers();
        validateMenuItems();
    });
    toolbar->addWidget(billedToggle_);

    // The free room after the billed toggle, so the search field and the inspector toggle keep to
    // the right edge.
    auto* trailingSpace = new QWidget(toolbar);
    trailingSpace->setObjectName("flexibleSpace");
    trailingSpace->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(trailingSpace);

    searchField_ = new QLineEdit(toolbar);
    searchField_->setObjectName("search");
    searchField_->setPlaceholderText(tr("Search"));
    // The clear button shows only over text: it (and its icon, a theme lookup) is made with the
    // first text, not while the window opens.
    connect(
        searchField_, &QLineEdit::textChanged, this, [this] { searchField_->setClearButtonEnabled(true); },
        Qt::SingleShotConnection);
    searchField_->setMaximumWidth(220);
    connect(searchField_, &QLineEdit::textChanged, this,
            [this](const QString& text) { split_->projectsViewController()->searchAction(text); });
    toolbar->addWidget(searchField_);

    inspectorSidebarToggle_ = toolButton(tr("Inspector"), QStringLiteral("inspectorSidebarToggle"), toolbar);
    inspectorSidebarToggle_->setCheckable(true);
    connect(inspectorSidebarToggle_, &QToolButton::clicked, this,
            [this](bool on) { split_->inspectorSidebarToggleAction(on); });
    toolbar->addWidget(inspectorSidebarToggle_);
}

void MainWindowController::validateMenuItems()
{
    const bool canCreateTimer = split_->canCreateTimerForSelectedProject();
    for (QAction* action : {startNewTimerAction_, newFixedDurationTimerAction_, newExpenseTimerAction_})
        action->setEnabled(canCreateTimer);
    undoAction_->setEnabled(context_ && context_->undoManager().canUndo());
    redoAction_->setEnabled(context_ && context_->undoManager().canRedo());
    toggleSidebarAction_->setChecked(!split_->isCollapsed(MainSplitViewController::sidebarColumn));
    toggleInspectorAction_->setChecked(!split_->isCollapsed(MainSplitViewController::inspectorColumn));
    split_->projectsViewController()->validateActions();
    if (billedToggle_)
        billedToggle_->setChecked(model::Preferences(defaults_).showsBilledTimers());
}

} // namespace mainwindow
