// The projects outline's controller: list updates, date filter bounds, status line, selection
// reporting, remembered expansion and the creation of timers.
#include "mainwindow/projects_view_controller.h"

#include "mainwindow/column_identifier.h"
#include "mainwindow/drag_data.h"
#include "mainwindow/outline_cells.h"
#include "mainwindow/projects_outline_delegate.h"
#include "mainwindow/projects_outline_model.h"
#include "mainwindow/projects_outline_view.h"
#include "mainwindow/projects_view_controller_delegate.h"

#include "model/date_filter_interval.h"
#include "model/dates.h"
#include "model/fetch_helpers.h"
#include "model/managed_object.h"
#include "model/pasteboard_types.h"
#include "model/project.h"
#include "model/timer.h"

#include "data/object_context.h"
#include "data/undo_manager.h"
#include "foundation/defaults_store.h"
#include "inspectors/popover_date_picker_controller.h"
#include "kits/analytics/tally_events.h"

#include <QContextMenuEvent>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <unordered_set>

namespace mainwindow {

namespace {

constexpr int statusBarHeight = 26;

QString qText(const std::string& text)
{
    return QString::fromStdString(text);
}

// The timer type as the usage events name it.
std::string_view timerTypeName(model::TimerType type)
{
    switch (type) {
    case model::TimerType::period: return "Period";
    case model::TimerType::duration: return "Duration";
    case model::TimerType::expense: return "Expense";
    }
    return "";
}

} // namespace

ProjectsViewController::ProjectsViewController(data::ObjectContext* context, foundation::DefaultsStore& defaults,
                                               QWidget* parent)
    : QWidget(parent), context_(context), defaults_(defaults), preferences_(defaults),
      dateFilter_(model::roundedToMinute(foundation::now()), model::DateFilterRange::all), runningTimers_(context),
      expandedProjects_(defaults, context, ProjectsOutlineViewAutosaveName)
{
    buildViews();
    buildActions();
    connectOutline();
    setupObservings();
    // Unarchived projects until the sidebar reports its selection; the date filter's first update
    // then loads the list once.
    projectsPredicate_ = [](const model::Project& project) { return !project.archived(); };
    dateFilterRangeChanged();
}

ProjectsViewController::~ProjectsViewController()
{
    for (auto* token : {&changeToken_, &undoToken_, &redoToken_, &refreshToken_, &createTimerToken_})
        token->reset();
    // The view and its model go first, while this object can still be told of their last signals.
    disconnect(outline_->selectionModel(), nullptr, this, nullptr);
    disconnect(outline_, nullptr, this, nullptr);
    disconnect(model_, nullptr, this, nullptr);
    outline_->viewport()->removeEventFilter(this);
    delete outline_;
    delete model_;
}

void ProjectsViewController::buildViews()
{
    outline_ = new ProjectsOutlineView(this);
    model_ = new ProjectsOutlineModel(this);
    outline_->setModel(model_);
    outline_->setContextMenuDelegate(this);
    outline_->setDragAndDropDelegate(this, {pasteboardMimeType(model::PasteboardTypes::project),
                                            pasteboardMimeType(model::PasteboardTypes::timer),
                                            pasteboardMimeType(model::PasteboardTypes::client), fileListMimeType});
    outline_->setFrameShape(QFrame::NoFrame);
    auto* header = outline_->header();
    header->setSectionResizeMode(QHeaderView::Interactive);
    outline_->setColumnWidth(static_cast<int>(ColumnIdentifier::date), 175);
    outline_->setColumnWidth(static_cast<int>(ColumnIdentifier::notes), 260);
    outline_->setColumnWidth(static_cast<int>(ColumnIdentifier::status), 34);
    outline_->setColumnWidth(static_cast<int>(ColumnIdentifier::duration), 80);
    outline_->setColumnWidth(static_cast<int>(ColumnIdentifier::actions), 64);

    auto* statusBar = new QWidget(this);
    statusBar->setFixedHeight(statusBarHeight);
    countsStatusLabel_ = new QLabel(statusBar);
    durationStatusLabel_ = new QLabel(statusBar);
    countsStatusLabel_->setObjectName("countsStatusLabel");
    durationStatusLabel_->setObjectName("durationStatusLabel");
    auto* statusLayout = new QHBoxLayout(statusBar);
    statusLayout->setContentsMargins(10, 0, 10, 0);
    statusLayout->addWidget(countsStatusLabel_);
    saveStatusLabel_ = new QLabel(statusBar);
    saveStatusLabel_->setObjectName("saveStatusLabel");
    saveStatusLabel_->setStyleSheet(QStringLiteral("font-weight: bold; color: #b3261e;"));
    saveStatusLabel_->hide();
    statusLayout->addSpacing(12);
    statusLayout->addWidget(saveStatusLabel_);
    statusLayout->addStretch();
    statusLayout->addWidget(durationStatusLabel_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildDateFilterBar());
    layout->addWidget(outline_, 1);
    layout->addWidget(statusBar);

    emptyView_ = new QWidget(outline_->viewport());
    emptyView_->setObjectName("emptyView");
    auto* emptyLayout = new QVBoxLayout(emptyView_);
    auto* emptyTitle = new QLabel(tr("No Projects"), emptyView_);
    QFont titleFont = emptyTitle->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
    emptyTitle->setFont(titleFont);
    emptyTitle->setAlignment(Qt::AlignCenter);
    emptyTitle->setEnabled(false);
    emptyLayout->addWidget(emptyTitle);
    emptyView_->hide();
    outline_->viewport()->installEventFilter(this);

    projectContextMenu_ = new QMenu(this);
    timerContextMenu_ = new QMenu(this);
}

void ProjectsViewController::connectOutline()
{
    connect(outline_, &QTreeView::expanded, this,
            [this](const QModelIndex& index) { itemDidExpandOrCollapse(index, true); });
    connect(outline_, &QTreeView::collapsed, this,
            [this](const QModelIndex& index) { itemDidExpandOrCollapse(index, false); });
    connect(outline_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!keepingSelection_)
            updateSelection();
    });
    connect(model_, &QAbstractItemModel::modelReset, outline_, &ProjectsOutlineView::spanAllProjectRowsAfterLayout);
    connect(model_, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex& parent, int first, int last) {
        if (!parent.isValid())
            outline_->spanProjectRows(first, last);
    });
    auto* cells = outline_->cellDelegate();
    cells->setProjectNameHandler([this](const QModelIndex& index, const QString& name) {
        if (auto* project = dynamic_cast<model::Project*>(model_->item(index)))
            renameProject(*project, name.toStdString());
    });
    connect(cells, &ProjectsOutlineDelegate::newTimerButtonClicked, this, [this](const QModelIndex& index) {
        if (auto* project = dynamic_cast<model::Project*>(model_->item(index)))
            emit newTimerButtonClicked(project);
    });
    connect(cells, &ProjectsOutlineDelegate::togglePauseButtonClicked, this, [this](const QModelIndex& index) {
        if (auto* timer = dynamic_cast<model::Timer*>(model_->item(index)))
            emit togglePauseButtonClicked(timer);
    });
    connect(cells, &ProjectsOutlineDelegate::stopButtonClicked, this, [this](const QModelIndex& index) {
        if (auto* timer = dynamic_cast<model::Timer*>(model_->item(index)))
            emit stopButtonClicked(timer);
    });
    connect(this, &ProjectsViewController::newTimerButtonClicked, this, &ProjectsViewController::startNewTimer);
    connect(this, &ProjectsViewController::togglePauseButtonClicked, this, &ProjectsViewController::togglePauseOnTimer);
    connect(this, &ProjectsViewController::stopButtonClicked, this, &ProjectsViewController::stopTimer);
}

model::Filter ProjectsViewController::filter() const
{
    model::Filter filter;
    filter.fromDate = dateFilter_.startDate();
    filter.toDate = dateFilter_.endDate();
    filter.sortDescriptors = std::vector<data::SortDescriptor>{{"start", true}};
    filter.searchTerm = searchTerm_;
    filter.includeBilledTimers = preferences_.showsBilledTimers();
    return filter;
}

const std::vector<model::Project*>& ProjectsViewController::projects() const
{
    return model_->projects();
}

std::vector<model::Timer*> ProjectsViewController::currentTimersForProject(const model::Project& project) const
{
    return project.timers(filter());
}

model::Project* ProjectsViewController::selectedProject() const
{
    if (auto* project = dynamic_cast<model::Project*>(selectedItem_))
        return project;
    if (auto* timer = dynamic_cast<model::Timer*>(selectedItem_))
        return timer->project();
    return nullptr;
}

void ProjectsViewController::setProjectsPredicate(ProjectsPredicate predicate)
{
    projectsPredicate_ = std::move(predicate);
    updateProjectsList(true);
}

void ProjectsViewController::setSearchTerm(std::optional<std::string> term)
{
    if (term && term->empty())
        term.reset();
    searchTerm_ = std::move(term);
    updateProjectsList(true);
}

void ProjectsViewController::setDateFilterBounds(std::optional<foundation::Date> start,
                                                 std::optional<foundation::Date> end)
{
    dateFilter_.setBounds(start, end);
}

void ProjectsViewController::updateDateFilter()
{
    dateFilter_.update();
    dateFilterDidChange();
}

void ProjectsViewController::dateFilterDidChange()
{
    updateProjectsList(true);
    updateSelection();
    updateDateFilterBar();
}

void ProjectsViewController::dateFilterRangeChanged()
{
    // A stored value that names no range shows the day page; the stored value is left as it is.
    const auto range =
        model::dateFilterRangeFromRawValue(preferences_.dateFilterRange()).value_or(model::DateFilterRange::day);
    dateFilter_.setRange(range);
    dateFilterTabView_->setCurrentIndex(static_cast<int>(model::rawValue(range)));
    updateDateFilter();
}

void ProjectsViewController::navigateToToday()
{
    dateFilter_.navigateToToday(foundation::now());
    dateFilterDidChange();
}

void ProjectsViewController::reloadProjects()
{
    if (!context_)
        return;
    std::function<bool(const model::Project&)> predicate = projectsPredicate_;
    model_->reload(model::fetchAll<model::Project>(*context_, predicate), filter());
    updateEmptyView();
}

void ProjectsViewController::updateProjectsList(bool shouldReloadProjects)
{
    if (shouldReloadProjects && context_)
        reloadProjects();
    else
        model_->reload(model_->projects(), filter());
    // Qt forgets expansion on a reload, so it is re-applied before the selection comes back.
    updateExpandedState();
    if (selectedItem_)
        selectItem(*selectedItem_);
    updateSelection();
    updateStatusLabelsAfterPaint();
    updateEmptyView();
}

QModelIndex ProjectsViewController::rowIndexOf(const data::Object& item) const
{
    const QModelIndex index = model_->indexOf(&item);
    if (index.isValid() && index.parent().isValid() && !outline_->isExpanded(index.parent()))
        return {};
    return index;
}

void ProjectsViewController::selectItem(const data::Object& item)
{
    const QModelIndex index = rowIndexOf(item);
    if (!index.isValid())
        return;
    outline_->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void ProjectsViewController::reloadItem(data::Object& item)
{
    if (!rowIndexOf(item).isValid())
        return;
    if (auto* timer = dynamic_cast<model::Timer*>(&item); timer && timer->project())
        reloadDurationForProject(*timer->project());
    model_->announceItemChanged(item);
}

void ProjectsViewController::refreshAllProjectActionButtons()
{
    if (context_)
        model_->announceAllProjectsChanged();
}

void ProjectsViewController::refreshDurationsInList()
{
    if (!context_)
        return;
    std::unordered_set<const data::Object*> running;
    for (model::Timer* timer : runningTimers_.runningTimers()) {
        // A timer stopped in this turn leaves the index only with the notice at its end.
        if (timer->end())
            continue;
        running.insert(timer);
        if (model::Project* project = timer->project())
            running.insert(project);
    }
    if (running.empty())
        return;
    // Cells compute their text as they are painted, so repainting the visible duration cells of
    // these rows is their reload; rows off screen are computed afresh when they scroll in.
    const int durationColumn = static_cast<int>(ColumnIdentifier::duration);
    for (const QModelIndex& row : outline_->visibleRows()) {
        data::Object* item = model_->item(row);
        if (!running.count(item))
            continue;
        const bool project = dynamic_cast<model::Project*>(item) != nullptr;
        outline_->viewport()->update(outline_->visualRect(project ? row : row.siblingAtColumn(durationColumn)));
    }
}

void ProjectsViewController::reloadDurationForProject(model::Project& project)
{
    model_->recomputeDurations(project);
    if (rowIndexOf(project).isValid())
        model_->announceProjectChanged(project);
}

void ProjectsViewController::updateSelection()
{
    const QModelIndexList rows = outline_->selectionModel()->selectedRows();
    data::Object* item = rows.isEmpty() ? nullptr : model_->item(rows.first());
    // Stored before the delegate hears of it, so what it validates in response sees the new selection.
    selectedItem_ = item;
    if (delegate_) {
        if (auto* project = dynamic_cast<model::Project*>(item))
            delegate_->projectsViewControllerDidSelectProject(*this, *project);
        else if (auto* timer = dynamic_cast<model::Timer*>(item))
            delegate_->projectsViewControllerDidSelectTimer(*this, *timer);
        else if (!item)
            delegate_->projectsViewControllerDidDeselect(*this);
    }
    validateActions();
}

void ProjectsViewController::setSaveStatusMark(const QString& mark)
{
    saveStatusLabel_->setText(mark);
    saveStatusLabel_->setVisible(!mark.isEmpty());
}

void ProjectsViewController::updateStatusLabels()
{
    writeStatusLabels();
}

void ProjectsViewController::updateStatusLabelsAfterPaint()
{
    if (model_->totalsAtHand())
        writeStatusLabels();
    else
        statusLabelsPending_ = true; // the outline's paint (eventFilter) queues the update
}

void ProjectsViewController::writeStatusLabels() const
{
    statusLabelsPending_ = false;
    if (isLoadingShown())
        return; // nothing is counted before the store is in
    // The listed timers are timers(filter) of each listed project; their sums are made where missing.
    countsStatusLabel_->setText(qText(mainwindow::countsStatusText(model_->projects().size(), model_->timerCount())));
    durationStatusLabel_->setText(qText(mainwindow::durationStatusText(model_->totalDuration())));
}

QString ProjectsViewController::countsStatusText() const
{
    if (statusLabelsPending_)
        writeStatusLabels();
    return countsStatusLabel_->text();
}

QString ProjectsViewController::durationStatusText() const
{
    if (statusLabelsPending_)
        writeStatusLabels();
    return durationStatusLabel_->text();
}

void ProjectsViewController::updateEmptyView()
{
    // While the store loads, no projects is no news: the loading view stands there instead.
    const bool empty = model_->projects().empty() && !isLoadingShown();
    emptyView_->setVisible(empty);
    if (empty)
        centreEmptyView();
}

bool ProjectsViewController::isEmptyViewShown() const
{
    return !emptyView_->isHidden();
}

void ProjectsViewController::showLoading(const QString& storeName)
{
    if (!loadingView_) {
        loadingView_ = new QWidget(outline_->viewport());
        loadingView_->setObjectName(QStringLiteral("loadingView"));
        auto* layout = new QVBoxLayout(loadingView_);
        loadingLabel_ = new QLabel(loadingView_);
        loadingLabel_->setAlignment(Qt::AlignCenter);
        loadingLabel_->setEnabled(false);
        auto* busy = new QProgressBar(loadingView_);
        busy->setRange(0, 0); // no steps: it only shows that work goes on
        busy->setTextVisible(false);
        busy->setFixedWidth(160);
        layout->addWidget(loadingLabel_);
        layout->addWidget(busy, 0, Qt::AlignHCenter);
    }
    loadingLabel_->setText(tr("Loading %1…").arg(storeName));
    loadingView_->show();
    centre(*loadingView_);
    updateEmptyView();
    statusLabelsPending_ = false;
    countsStatusLabel_->clear();
    durationStatusLabel_->clear();
}

bool ProjectsViewController::isLoadingShown() const
{
    return loadingView_ && !loadingView_->isHidden();
}

QString ProjectsViewController::loadingText() const
{
    return isLoadingShown() ? loadingLabel_->text() : QString();
}

void ProjectsViewController::centreEmptyView()
{
    centre(*emptyView_);
}

void ProjectsViewController::centre(QWidget& view)
{
    view.adjustSize();
    const QSize area = outline_->viewport()->size();
    view.move((area.width() - view.width()) / 2, (area.height() - view.height()) / 2);
}

void ProjectsViewController::updateExpandedState()
{
    const auto& uris = expandedProjects_.uris();
    const std::unordered_set<std::string> expanded(uris.begin(), uris.end());
    restoringExpansion_ = true;
    for (model::Project* project : model_->projects()) {
        const QModelIndex index = model_->indexOf(project);
        if (expanded.count(project->uriRepresentation()))
            outline_->expand(index);
        else if (outline_->isExpanded(index))
            outline_->collapse(index);
    }
    restoringExpansion_ = false;
    // After a reset the expansion above was only noted: the rows are laid out once, here.
    outline_->layOutPendingRows();
}

void ProjectsViewController::itemDidExpandOrCollapse(const QModelIndex& index, bool expanded)
{
    if (restoringExpansion_)
        return;
    auto* project = dynamic_cast<model::Project*>(model_->item(index));
    if (!project)
        return;
    if (context_ && project->expanded() != expanded) {
        // Expansion is saved with the store but is no step the user can undo. Undo records each
        // write as it happens, so switching registration off around the write is enough; the
        // pending changes are not processed here, or an action that expands a project (a new
        // timer) would reach observers, the store and the undo history in two pieces.
        const data::UndoRegistrationDisabled notUndoable(context_->undoManager());
        project->setExpanded(expanded);
    }
    settingsWriteAlert_.report(*window(), expandedProjects_.remember(*project, expanded),
                               tr("Which projects are expanded"), defaults_.file());
}

void ProjectsViewController::fixColumnOrder()
{
    auto* header = outline_->header();
    const int duration = header->visualIndex(static_cast<int>(ColumnIdentifier::duration));
    const int status = header->visualIndex(static_cast<int>(ColumnIdentifier::status));
    if (duration < 0 || status < 0 || status == duration - 1)
        return;
    header->moveSection(status, duration);
}

void ProjectsViewController::fixOutlineSize()
{
    int others = 0;
    for (int column = 0; column < model_->columnCount(); ++column)
        if (column != static_cast<int>(ColumnIdentifier::notes))
            others += outline_->columnWidth(column);
    outline_->setColumnWidth(static_cast<int>(ColumnIdentifier::notes), std::max(80, outline_->width() - others - 15));
}

model::Project* ProjectsViewController::newProject()
{
    if (!context_)
        return nullptr;
    auto* project = model::initInContext<model::Project>(*context_);
    project->setClient(selectedClient_);
    const auto count = static_cast<std::int64_t>(model_->projects().size());
    model_->insertProject(static_cast<int>(std::min(project->sortOrder(), count)), *project);
    updateEmptyView();
    selectItem(*project);
    outline_->editProjectName(model_->indexOf(project));
    kits::TallyEvents::trackNewProject();
    return project;
}

model::Timer* ProjectsViewController::createTimer(model::Project& project, model::TimerType type,
                                                  std::optional<std::string> notes)
{
    // A new timer is always shown: a search term its empty notes would not match goes first, as the
    // date range has already moved to today.
    if (searchTerm_) {
        searchTerm_.reset();
        updateProjectsList(true);
        emit searchTermCleared();
    }
    model::Timer* timer = nullptr;
    switch (type) {
    case model::TimerType::period: timer = project.startNewTimer(); break;
    case model::TimerType::duration: timer = project.addFixedDurationTimer(); break;
    case model::TimerType::expense: timer = project.addExpenseTimer(); break;
    }
    if (!timer)
        return nullptr;
    timer->setNotes(notes.value_or(""));
    if (delegate_)
        delegate_->projectsViewControllerDidCreateTimer(*this, *timer);
    // A timer the filter still hides (notes given by the caller, a custom range) gets no row until
    // the next list update.
    const auto listed = project.timers(filter());
    if (std::find(listed.begin(), listed.end(), timer) != listed.end())
        model_->insertTimer(project, model_->insertionIndex(project, *timer), *timer);
    const QModelIndex projectIndex = model_->indexOf(&project);
    if (projectIndex.isValid())
        outline_->expand(projectIndex);
    selectItem(*timer);
    kits::TallyEvents::trackStartTimer(std::string(timerTypeName(type)));
    return timer;
}

QMenu* ProjectsViewController::outlineViewMenuForEvent(ContextMenuOutlineView& outlineView,
                                                       const QContextMenuEvent& event)
{
    const QModelIndex index = outlineView.indexAt(event.pos());
    if (!index.isValid())
        return nullptr;
    outlineView.selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    data::Object* item = model_->item(index);
    if (dynamic_cast<model::Project*>(item))
        return projectContextMenu_;
    if (auto* timer = dynamic_cast<model::Timer*>(item); timer && timer->project() && !timer->project()->archived())
        return timerContextMenu_;
    return nullptr;
}

void ProjectsViewController::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    fixOutlineSize();
}

void ProjectsViewController::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    fixColumnOrder();
    fixOutlineSize();
}

bool ProjectsViewController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == outline_->viewport() && event->type() == QEvent::Resize) {
        if (!emptyView_->isHidden())
            centreEmptyView();
        if (isLoadingShown())
            centre(*loadingView_);
    }
    if (watched == outline_->viewport() && event->type() == QEvent::Paint && statusLabelsPending_
        && !statusLabelsPosted_) {
        // Queued, so it runs once this paint is done.
        statusLabelsPosted_ = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                statusLabelsPosted_ = false;
                if (statusLabelsPending_)
                    writeStatusLabels();
            },
            Qt::QueuedConnection);
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace mainwindow
