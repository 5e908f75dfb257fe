// The mini window's list of running timers, its new-timer form and its action menu.
#include "app/mini_window_view_controller.h"

#include "app/mini_window_timer_cells.h"

#include "kits/analytics/tally_events.h"
#include "mainwindow/projects_view_controller.h"
#include "model/client.h"
#include "model/fetch_helpers.h"
#include "model/project.h"
#include "model/timer.h"

#include "data/change_set.h"
#include "data/object_context.h"
#include "data/undo_manager.h"

#include <QComboBox>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <algorithm>
#include <unordered_set>

namespace app {

namespace {

// A running period timer: no end, type period (paused ones included).
bool isListed(const model::Timer& timer)
{
    return !timer.end() && timer.type() == model::rawValue(model::TimerType::period);
}

// The animation of an int property from `from` to `to`, handed to `apply` on every frame.
QVariantAnimation* makeAnimation(QObject* parent, QVariant from, QVariant to, int milliseconds, QEasingCurve curve,
                                 std::function<void(const QVariant&)> apply)
{
    auto* animation = new QVariantAnimation(parent);
    animation->setStartValue(from);
    animation->setEndValue(to);
    animation->setDuration(milliseconds);
    animation->setEasingCurve(curve);
    QObject::connect(animation, &QVariantAnimation::valueChanged, parent, std::move(apply));
    return animation;
}

void stopAnimation(QVariantAnimation*& animation)
{
    if (animation) {
        animation->stop();
        animation->deleteLater();
        animation = nullptr;
    }
}

} // namespace

MiniWindowViewController::MiniWindowViewController(data::ObjectContext* context, QWidget* parent)
    : QWidget(parent), context_(context), runningTimers_(context)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* topBar = new QWidget(this);
    topBar->setFixedHeight(topBarHeight);
    auto* topBarLayout = new QHBoxLayout(topBar);
    topBarLayout->setContentsMargins(10, 0, 10, 0);
    addTimerButton_ = new QToolButton(topBar);
    addTimerButton_->setText(QStringLiteral("+"));
    addTimerButton_->setToolTip(tr("New Timer"));
    addTimerButton_->setAutoRaise(true);
    auto* title = new QLabel(tr("Running Timers"), topBar);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    title->setAlignment(Qt::AlignCenter);
    actionMenuButton_ = new QToolButton(topBar);
    actionMenuButton_->setText(QStringLiteral("…"));
    actionMenuButton_->setToolTip(tr("Actions"));
    actionMenuButton_->setAutoRaise(true);
    topBarLayout->addWidget(addTimerButton_);
    topBarLayout->addWidget(title, 1);
    topBarLayout->addWidget(actionMenuButton_);
    layout->addWidget(topBar);

    newTimerContainerView_ = new QWidget(this);
    newTimerContainerView_->setFixedHeight(0);
    containerOpacity_ = new QGraphicsOpacityEffect(newTimerContainerView_);
    containerOpacity_->setOpacity(0.0);
    newTimerContainerView_->setGraphicsEffect(containerOpacity_);
    auto* form = new QVBoxLayout(newTimerContainerView_);
    form->setContentsMargins(12, 10, 12, 10);
    form->setSpacing(8);
    projectPopupButton_ = new QComboBox(newTimerContainerView_);
    projectPopupButton_->setPlaceholderText(tr("Choose a Project"));
    notesTextField_ = new QLineEdit(newTimerContainerView_);
    notesTextField_->setPlaceholderText(tr("Notes"));
    auto* buttons = new QHBoxLayout;
    cancelButton_ = new QPushButton(tr("Cancel"), newTimerContainerView_);
    newTimerButton_ = new QPushButton(tr("Start Timer"), newTimerContainerView_);
    newTimerButton_->setDefault(true);
    buttons->addStretch(1);
    buttons->addWidget(cancelButton_);
    buttons->addWidget(newTimerButton_);
    form->addWidget(projectPopupButton_);
    form->addWidget(notesTextField_);
    form->addLayout(buttons);
    form->addStretch(1);
    layout->addWidget(newTimerContainerView_);

    timersTableView_ = new MiniWindowTimerTableView(this);
    timersTableView_->verticalHeader()->setDefaultSectionSize(rowHeight);
    timersTableView_->setFixedHeight(rowHeight);
    layout->addWidget(timersTableView_);
    emptyLabel_ = new QLabel(tr("No Running Timers"), timersTableView_->viewport());
    emptyLabel_->setAlignment(Qt::AlignCenter);
    emptyLabel_->setEnabled(false);

    actionMenu_ = new QMenu(this);

    connect(addTimerButton_, &QToolButton::clicked, this, &MiniWindowViewController::addTimer);
    connect(cancelButton_, &QPushButton::clicked, this, &MiniWindowViewController::cancelAddingTimer);
    connect(newTimerButton_, &QPushButton::clicked, this, &MiniWindowViewController::confirmAddingTimer);
    connect(notesTextField_, &QLineEdit::returnPressed, this, &MiniWindowViewController::confirmAddingTimer);
    connect(actionMenuButton_, &QToolButton::clicked, this, [this] { showActionMenu(actionMenuButton_); });

    rearrangeObjects();
    tableHeightTarget_ = -1; // the first height is set at once, not animated
    updateTableHeight();
    updateEmptyLabel();
    reloadProjects();
    setupObservings();
}

MiniWindowViewController::~MiniWindowViewController()
{
    removeObservings();
}

void MiniWindowViewController::setupObservings()
{
    if (context_) {
        auto& center = context_->notificationCenter();
        changeToken_ = center.addObserver(
            data::ObjectsDidChangeNotification, context_, [this](const foundation::Notification& notification) {
                using Changes = std::shared_ptr<const data::ChangeSet>;
                if (const Changes* changes = notification.info<Changes>("changes"); changes && *changes)
                    contextDidChange(**changes);
            });
        // Undo and redo restore and remove objects wholesale: the list is made again.
        const auto undone = [this](const foundation::Notification&) {
            runningTimers_.rebuild();
            arrangedObjectsDidChange();
            for (int row = 0; row < timersTableView_->rowCount(); ++row) {
                if (MiniWindowTimerTableCellView* cell = timersTableView_->cellAt(row))
                    cell->updateView();
            }
            reloadProjects();
        };
        const void* undoManager = &context_->undoManager();
        undoToken_ = center.addObserver(data::UndoManagerDidUndoChangeNotification, undoManager, undone);
        redoToken_ = center.addObserver(data::UndoManagerDidRedoChangeNotification, undoManager, undone);
    }
    refreshToken_ = foundation::NotificationCenter::defaultCenter().addObserver(
        model::RefreshTimerFiredNotification, nullptr,
        [this](const foundation::Notification&) { refreshTimerFired(); });
}

void MiniWindowViewController::removeObservings()
{
    changeToken_.reset();
    undoToken_.reset();
    redoToken_.reset();
    refreshToken_.reset();
}

void MiniWindowViewController::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    updateNewTimerButton();
    updateEmptyLabel();
}

bool MiniWindowViewController::rearrangeObjects()
{
    std::vector<model::Timer*> arranged;
    for (model::Timer* timer : runningTimers_.runningTimers()) {
        if (isListed(*timer))
            arranged.push_back(timer);
    }
    // By start; the index hands them over by key, which orders equal starts.
    std::stable_sort(arranged.begin(), arranged.end(),
                     [](const model::Timer* a, const model::Timer* b) { return a->start() < b->start(); });
    if (arranged == timers_)
        return false;

    const std::unordered_set<model::Timer*> kept(arranged.begin(), arranged.end());
    for (int row = static_cast<int>(timers_.size()) - 1; row >= 0; --row) {
        if (!kept.count(timers_[static_cast<std::size_t>(row)])) {
            timersTableView_->removeRow(row);
            timers_.erase(timers_.begin() + row);
        }
    }
    for (std::size_t index = 0; index < arranged.size(); ++index) {
        model::Timer* timer = arranged[index];
        if (index < timers_.size() && timers_[index] == timer)
            continue;
        // A timer further down moved up (its start changed): its row is made again here.
        if (auto moved = std::find(timers_.begin() + static_cast<std::ptrdiff_t>(index), timers_.end(), timer);
            moved != timers_.end()) {
            timersTableView_->removeRow(static_cast<int>(moved - timers_.begin()));
            timers_.erase(moved);
        }
        const int row = static_cast<int>(index);
        timersTableView_->insertRow(row);
        auto* cell = new MiniWindowTimerTableCellView;
        cell->setObjectValue(timer);
        cell->updateDuration();
        connect(cell, &MiniWindowTimerTableCellView::togglePauseRequested, this,
                &MiniWindowViewController::togglePauseTimer);
        connect(cell, &MiniWindowTimerTableCellView::stopRequested, this, &MiniWindowViewController::stopTimer);
        timersTableView_->setCellWidget(row, 0, cell);
        timers_.insert(timers_.begin() + static_cast<std::ptrdiff_t>(index), timer);
    }
    return true;
}

void MiniWindowViewController::arrangedObjectsDidChange()
{
    if (rearrangeObjects()) {
        updateTableHeight();
        updateEmptyLabel();
        updateNewTimerButton();
    }
}

void MiniWindowViewController::updateEmptyLabel()
{
    // The list's one empty row says why it is empty.
    emptyLabel_->setGeometry(0, 0, timersTableView_->viewport()->width(), rowHeight);
    emptyLabel_->setVisible(timers_.empty());
}

void MiniWindowViewController::contextDidChange(const data::ChangeSet& changes)
{
    runningTimers_.apply(changes);
    arrangedObjectsDidChange();

    bool projectsChanged = false;
    std::unordered_set<const model::Project*> updatedProjects;
    for (const auto* list : {&changes.inserted, &changes.deleted}) {
        for (data::Object* object : *list)
            projectsChanged = projectsChanged || dynamic_cast<model::Project*>(object);
    }
    for (data::Object* object : changes.updated) {
        if (auto* timer = dynamic_cast<model::Timer*>(object)) {
            const auto found = std::find(timers_.begin(), timers_.end(), timer);
            if (found != timers_.end()) {
                if (MiniWindowTimerTableCellView* cell =
                        timersTableView_->cellAt(static_cast<int>(found - timers_.begin())))
                    cell->updateView();
            }
            updateNewTimerButton();
        } else if (auto* project = dynamic_cast<model::Project*>(object)) {
            projectsChanged = true;
            updatedProjects.insert(project);
        } else if (dynamic_cast<model::Client*>(object)) {
            projectsChanged = true; // a client's name shows beside its projects' names
        }
    }
    if (!updatedProjects.empty()) {
        // A renamed project shows its new name in its rows.
        for (std::size_t row = 0; row < timers_.size(); ++row) {
            if (updatedProjects.count(timers_[row]->project())) {
                if (MiniWindowTimerTableCellView* cell = timersTableView_->cellAt(static_cast<int>(row)))
                    cell->updateView();
            }
        }
    }
    if (projectsChanged)
        reloadProjects();
}

void MiniWindowViewController::refreshTimerFired()
{
    for (int row : timersTableView_->visibleRows()) {
        if (MiniWindowTimerTableCellView* cell = timersTableView_->cellAt(row))
            cell->updateDuration();
    }
}

void MiniWindowViewController::updateTableHeight()
{
    const std::size_t count = timers_.size();
    const double factor = count == 0 ? 1.0 : count <= 2 ? static_cast<double>(count) : 2.5;
    const int target = static_cast<int>(rowHeight * factor);
    const bool first = tableHeightTarget_ < 0;
    if (target == tableHeightTarget_)
        return;
    tableHeightTarget_ = target;
    stopAnimation(tableHeightAnimation_);
    if (first) {
        timersTableView_->setFixedHeight(target);
        return;
    }
    tableHeightAnimation_ = makeAnimation(
        this, timersTableView_->height(), target, tableHeightAnimationMilliseconds, QEasingCurve::InOutQuad,
        [this](const QVariant& value) { timersTableView_->setFixedHeight(value.toInt()); });
    tableHeightAnimation_->start();
}

void MiniWindowViewController::animateContainerHeight(int to, std::function<void()> then)
{
    stopAnimation(containerHeightAnimation_);
    containerHeightAnimation_ =
        makeAnimation(this, newTimerContainerView_->height(), to, containerResizeMilliseconds, QEasingCurve::OutCubic,
                      [this](const QVariant& value) { newTimerContainerView_->setFixedHeight(value.toInt()); });
    if (then)
        connect(containerHeightAnimation_, &QVariantAnimation::finished, this, std::move(then));
    containerHeightAnimation_->start();
}

void MiniWindowViewController::animateContainerOpacity(qreal to, std::function<void()> then)
{
    stopAnimation(containerFadeAnimation_);
    containerFadeAnimation_ =
        makeAnimation(this, containerOpacity_->opacity(), to, containerFadeMilliseconds, QEasingCurve::Linear,
                      [this](const QVariant& value) { containerOpacity_->setOpacity(value.toReal()); });
    if (then)
        connect(containerFadeAnimation_, &QVariantAnimation::finished, this, std::move(then));
    containerFadeAnimation_->start();
}

void MiniWindowViewController::showNewTimerContainer()
{
    // A new request ends the steps of the previous one, so a late step of it never undoes this one.
    stopAnimation(containerFadeAnimation_);
    containerHeightTarget_ = newTimerContainerOpenHeight;
    containerOpacity_->setOpacity(0.0);
    animateContainerHeight(newTimerContainerOpenHeight, [this] { animateContainerOpacity(1.0, {}); });
    notesTextField_->setFocus();
}

void MiniWindowViewController::hideNewTimerContainer()
{
    stopAnimation(containerHeightAnimation_);
    containerHeightTarget_ = 0;
    animateContainerOpacity(0.0, [this] { animateContainerHeight(0, {}); });
}

void MiniWindowViewController::updateNewTimerButton()
{
    const model::Project* project = chosenProject();
    newTimerButton_->setEnabled(!(project && project->archived()));
}

model::Project* MiniWindowViewController::chosenProject() const
{
    const int index = projectPopupButton_->currentIndex();
    if (index < 0 || index >= static_cast<int>(projects_.size()))
        return nullptr;
    return projects_[static_cast<std::size_t>(index)];
}

void MiniWindowViewController::chooseProject(model::Project* project)
{
    const auto found = std::find(projects_.begin(), projects_.end(), project);
    projectPopupButton_->setCurrentIndex(found == projects_.end() ? -1 : static_cast<int>(found - projects_.begin()));
}

void MiniWindowViewController::reloadProjects()
{
    model::Project* chosen = chosenProject();
    const bool wasEmpty = projects_.empty();
    std::vector<model::Project*> projects;
    if (context_)
        projects = model::fetchAll<model::Project>(*context_, [](const model::Project& p) { return !p.archived(); });
    // Projects of the same name are told apart by their clients: "Website — ACME".
    QStringList names;
    for (const model::Project* project : projects) {
        QString name = QString::fromStdString(project->name().value_or(""));
        const model::Client* client = project->client();
        if (const std::string clientName = client ? client->name().value_or("") : ""; !clientName.empty())
            name += QStringLiteral(" — ") + QString::fromStdString(clientName);
        names.push_back(name);
    }
    bool sameNames = projects == projects_ && projectPopupButton_->count() == names.size();
    for (int index = 0; sameNames && index < names.size(); ++index)
        sameNames = projectPopupButton_->itemText(index) == names[index];
    if (sameNames)
        return;
    projects_ = std::move(projects);
    const QSignalBlocker blocker(projectPopupButton_);
    projectPopupButton_->clear();
    projectPopupButton_->addItems(names);
    // The choice is kept by identity and cleared once it leaves the list; a list that fills up for
    // the first time starts with its first project chosen.
    if (chosen)
        chooseProject(chosen);
    else if (wasEmpty && !projects_.empty())
        projectPopupButton_->setCurrentIndex(0);
    else
        projectPopupButton_->setCurrentIndex(-1);
}

void MiniWindowViewController::addTimer()
{
    notesTextField_->setText(QString());
    showNewTimerContainer();
}

void MiniWindowViewController::cancelAddingTimer()
{
    hideNewTimerContainer();
}

void MiniWindowViewController::confirmAddingTimer()
{
    model::Project* project = chosenProject();
    if (!project)
        return;
    // Always a period timer, whatever the default timer type says: the list shows only those.
    foundation::NotificationCenter::defaultCenter().post(
        mainwindow::CreateNewTimerNotification, nullptr,
        {{"project", project}, {"type", model::TimerType::period}, {"notes", notesTextField_->text().toStdString()}});
    hideNewTimerContainer();
    updateNewTimerButton();
    kits::TallyEvents::trackStartTimerFromMiniWindow();
}

QPoint MiniWindowViewController::actionMenuPosition(const QWidget& sender)
{
    return sender.mapToGlobal(QPoint(0, sender.height() + 5));
}

void MiniWindowViewController::showActionMenu(QWidget* sender)
{
    if (!sender)
        return;
    actionMenu_->popup(actionMenuPosition(*sender));
    kits::TallyEvents::trackShowMiniWindowActionMenu();
}

void MiniWindowViewController::togglePauseTimer(QWidget* sender)
{
    performTimerAction(sender, &model::Timer::togglePause, &kits::TallyEvents::trackTogglePauseFromMiniWindow);
}

void MiniWindowViewController::stopTimer(QWidget* sender)
{
    performTimerAction(sender, &model::Timer::stop, &kits::TallyEvents::trackTrackStopTimerFromMiniWindow);
}

void MiniWindowViewController::performTimerAction(QWidget* sender, void (model::Timer::*operation)(),
                                                  void (*usageEvent)())
{
    const int row = timersTableView_->rowForView(sender);
    if (row < 0 || row >= static_cast<int>(timers_.size()))
        return;
    (timers_[static_cast<std::size_t>(row)]->*operation)();
    usageEvent();
}

} // namespace app
