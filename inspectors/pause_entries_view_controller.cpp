// The pause entries sheet: table, edit box, conflict check, Add, Delete, Undo and Redo.
#include "inspectors/pause_entries_view_controller.h"

#include "inspectors/key_tables.h"

#include "data/change_set.h"
#include "data/object_context.h"
#include "kits/analytics/tally_events.h"
#include "model/dates.h"
#include "model/pause_entry.h"
#include "model/timer.h"
#include "ui/bindings.h"
#include "ui/sheets.h"

#include <QAction>
#include <QApplication>
#include <QDateTimeEdit>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace inspectors {

namespace {

const char* outOfRangeMessage = "This pause entry is not within the timer's start and end.";
const char* overlapMessage = "This pause entry overlaps other pause entries.";

// What is wrong with the entry, nothing when it is fine; an overlap is told before the range.
const char* conflictMessage(const model::PauseEntry& entry)
{
    if (!entry.overlappingOtherPauseEntries().empty())
        return overlapMessage;
    if (!entry.inTimerRange())
        return outOfRangeMessage;
    return nullptr;
}

bool isPauseEntryOrTimer(const data::Object* object)
{
    const std::string& entity = object->entity().name();
    return entity == model::PauseEntry::entityName || entity == model::Timer::entityName;
}

} // namespace

void PauseEntriesTableModel::setEntries(std::vector<model::PauseEntry*> entries)
{
    beginResetModel();
    entries_ = std::move(entries);
    tinted_.clear();
    endResetModel();
}

int PauseEntriesTableModel::row(const model::PauseEntry* entry) const
{
    const auto found = std::find(entries_.begin(), entries_.end(), entry);
    return found == entries_.end() ? -1 : static_cast<int>(found - entries_.begin());
}

model::PauseEntry* PauseEntriesTableModel::entry(int row) const
{
    return row >= 0 && row < static_cast<int>(entries_.size()) ? entries_[static_cast<std::size_t>(row)] : nullptr;
}

void PauseEntriesTableModel::setTintedEntries(std::vector<model::PauseEntry*> entries)
{
    tinted_ = std::move(entries);
}

void PauseEntriesTableModel::refreshCells()
{
    if (!entries_.empty())
        Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

int PauseEntriesTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

int PauseEntriesTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 2;
}

QVariant PauseEntriesTableModel::data(const QModelIndex& index, int role) const
{
    const model::PauseEntry* shown = entry(index.row());
    if (!shown)
        return {};
    if (role == Qt::BackgroundRole) {
        if (std::find(tinted_.begin(), tinted_.end(), shown) != tinted_.end())
            return PauseEntriesViewController::warningRowColor();
        return {};
    }
    if (index.column() == rangeColumn && role == Qt::DisplayRole)
        return QString::fromStdString(shown->formattedDuration());
    if (index.column() == durationColumn) {
        // The length and the warning image take turns: an entry that overlaps others or leaves its
        // timer's range is flagged in its row, whichever row is selected.
        const char* message = conflictMessage(*shown);
        if (role == Qt::DisplayRole)
            return message ? QVariant() : QVariant(QString::fromStdString(model::formattedDuration(shown->duration())));
        if (role == Qt::DecorationRole && message)
            return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
        if (role == Qt::ToolTipRole && message)
            return PauseEntriesViewController::tr(message);
    }
    return {};
}

QVariant PauseEntriesTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return section == rangeColumn ? PauseEntriesViewController::tr("Pause")
                                  : PauseEntriesViewController::tr("Duration");
}

PauseEntriesViewController::PauseEntriesViewController(data::ObjectContext* context, QWidget* parent)
    : QDialog(parent), context_(context), tableModel_(new PauseEntriesTableModel(this)),
      tableView_(new QTableView(this)), editBox_(new QGroupBox(this)), editBoxContent_(new QWidget(editBox_)),
      emptyLabel_(new QLabel(tr("No pause selected"), editBox_)), startField_(new QDateTimeEdit(editBoxContent_)),
      endField_(new QDateTimeEdit(editBoxContent_)), conflictErrorLabel_(new QLabel(editBoxContent_)),
      conflictErrorImageView_(new QLabel(editBoxContent_)), addButton_(new QPushButton(tr("Add"), this)),
      deleteButton_(new QPushButton(tr("Delete"), this)), doneButton_(new QPushButton(tr("Done"), this)),
      deleteAction_(new QAction(tr("Delete"), this)), undoAction_(new QAction(tr("Undo"), this)),
      redoAction_(new QAction(tr("Redo"), this)), entryController_(new ui::ObjectController(pauseEntryKeys(), this))
{
    setWindowTitle(tr("Pauses"));
    tableView_->setModel(tableModel_);
    tableView_->setSelectionBehavior(QAbstractItemView::SelectRows);
    tableView_->setSelectionMode(QAbstractItemView::SingleSelection);
    tableView_->verticalHeader()->hide();
    tableView_->horizontalHeader()->setSectionResizeMode(PauseEntriesTableModel::rangeColumn, QHeaderView::Stretch);
    connect(tableView_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &PauseEntriesViewController::tableViewSelectionDidChange);

    for (QDateTimeEdit* field : {startField_, endField_})
        field->setCalendarPopup(true);
    conflictErrorImageView_->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(16, 16));
    conflictErrorLabel_->setWordWrap(true);
    conflictErrorLabel_->hide();
    conflictErrorImageView_->hide();
    auto* form = new QFormLayout(editBoxContent_);
    form->addRow(tr("Start:"), startField_);
    form->addRow(tr("End:"), endField_);
    auto* conflict = new QHBoxLayout;
    conflict->addWidget(conflictErrorImageView_);
    conflict->addWidget(conflictErrorLabel_, 1);
    form->addRow(conflict);
    auto* boxLayout = new QVBoxLayout(editBox_);
    boxLayout->addWidget(editBoxContent_);
    boxLayout->addWidget(emptyLabel_, 0, Qt::AlignCenter);

    ui::bindDate(*startField_, *entryController_, QStringLiteral("content.start"));
    ui::bindDate(*endField_, *entryController_, QStringLiteral("content.end"));
    // startChanged: and endChanged: of the edit box.
    connect(entryController_, &ui::ObjectController::valueWritten, this, [this] { updateConflicts(); });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(addButton_);
    buttons->addWidget(deleteButton_);
    buttons->addStretch();
    buttons->addWidget(doneButton_);
    doneButton_->setDefault(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tableView_, 1);
    layout->addWidget(editBox_);
    layout->addLayout(buttons);
    resize(460, 420);

    connect(addButton_, &QPushButton::clicked, this, &PauseEntriesViewController::addPause);
    connect(deleteButton_, &QPushButton::clicked, this, &PauseEntriesViewController::deletePause);
    connect(doneButton_, &QPushButton::clicked, this, &PauseEntriesViewController::done);
    deleteAction_->setShortcuts({QKeySequence::Delete, QKeySequence(Qt::Key_Backspace)});
    undoAction_->setShortcut(QKeySequence::Undo);
    redoAction_->setShortcut(QKeySequence::Redo);
    connect(deleteAction_, &QAction::triggered, this, &PauseEntriesViewController::deletePause);
    connect(undoAction_, &QAction::triggered, this, &PauseEntriesViewController::undo);
    connect(redoAction_, &QAction::triggered, this, &PauseEntriesViewController::redo);
    for (QAction* action : {deleteAction_, undoAction_, redoAction_}) {
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
    }
    updateEditBox();
}

PauseEntriesViewController::~PauseEntriesViewController() = default;

void PauseEntriesViewController::setTimer(model::Timer* timer)
{
    if (!timer)
        return;
    timer_ = timer;
    reloadEntries();
}

model::PauseEntry* PauseEntriesViewController::selectedPauseEntry() const
{
    const QModelIndexList rows = tableView_->selectionModel()->selectedRows();
    return rows.isEmpty() ? nullptr : tableModel_->entry(rows.first().row());
}

std::optional<QColor> PauseEntriesViewController::rowBackground(int row) const
{
    const QVariant color = tableModel_->data(tableModel_->index(row, 0), Qt::BackgroundRole);
    return color.isValid() ? std::optional(color.value<QColor>()) : std::nullopt;
}

void PauseEntriesViewController::reloadEntries()
{
    model::PauseEntry* selected = selectedPauseEntry();
    std::vector<model::PauseEntry*> entries = timer_ ? timer_->pauseEntries() : std::vector<model::PauseEntry*>{};
    std::stable_sort(entries.begin(), entries.end(), [](const model::PauseEntry* a, const model::PauseEntry* b) {
        return a->start() < b->start(); // no start sorts first
    });
    {
        const QSignalBlocker blocker(tableView_->selectionModel());
        tableModel_->setEntries(std::move(entries));
        if (const int row = tableModel_->row(selected); row >= 0)
            tableView_->selectionModel()->select(tableModel_->index(row, 0),
                                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    if (tableModel_->row(selected) < 0 && selected)
        tableViewSelectionDidChange(); // the selected entry is gone
}

void PauseEntriesViewController::selectEntry(model::PauseEntry* entry)
{
    if (tableModel_->row(entry) < 0)
        reloadEntries();
    const int row = tableModel_->row(entry);
    if (row < 0)
        return;
    tableView_->selectionModel()->select(tableModel_->index(row, 0),
                                         QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    tableView_->setCurrentIndex(tableModel_->index(row, 0));
}

void PauseEntriesViewController::tableViewSelectionDidChange()
{
    entryController_->setContent(selectedPauseEntry());
    updateConflicts();
    updateEditBox();
}

void PauseEntriesViewController::updateConflicts()
{
    if (!timer_)
        return;
    const model::PauseEntry* selected = selectedPauseEntry();
    bool conflicts = false;
    for (const model::PauseEntry* entry : timer_->pauseEntries()) {
        const char* message = conflictMessage(*entry);
        conflicts = conflicts || message;
        if (entry == selected) {
            if (message)
                conflictErrorLabel_->setText(tr(message));
            conflictErrorLabel_->setVisible(message != nullptr);
            conflictErrorImageView_->setVisible(message != nullptr);
        }
    }
    updateRowBackgrounds();
    if (conflicts != hasConflicts_) {
        hasConflicts_ = conflicts;
        Q_EMIT hasConflictsChanged(conflicts);
    }
}

void PauseEntriesViewController::updateRowBackgrounds()
{
    const model::PauseEntry* selected = selectedPauseEntry();
    tableModel_->setTintedEntries(selected ? selected->overlappingOtherPauseEntries()
                                           : std::vector<model::PauseEntry*>{});
    tableModel_->refreshCells();
}

void PauseEntriesViewController::updateEditBox()
{
    const bool selected = selectedPauseEntry() != nullptr;
    editBoxContent_->setVisible(selected);
    emptyLabel_->setVisible(!selected);
    // Delete needs a selected row.
    deleteAction_->setEnabled(selected);
    deleteButton_->setEnabled(selected);
}

void PauseEntriesViewController::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (context_ && !contextToken_.active()) {
        contextToken_ = context_->notificationCenter().addObserver(
            data::ObjectsDidChangeNotification, context_,
            [this](const foundation::Notification& notification) { contextDidChange(notification); });
    }
    updateEditBox();
    kits::TallyEvents::trackViewPauseEditor();
}

void PauseEntriesViewController::hideEvent(QHideEvent* event)
{
    contextToken_.reset();
    QDialog::hideEvent(event);
}

void PauseEntriesViewController::contextDidChange(const foundation::Notification& notification)
{
    const auto* changes = notification.info<std::shared_ptr<const data::ChangeSet>>("changes");
    if (!changes || !*changes)
        return;
    const data::ChangeSet& changeSet = **changes;
    // One check per notice, however many timers and pauses it updates.
    if (std::none_of(changeSet.updated.begin(), changeSet.updated.end(), isPauseEntryOrTimer))
        return;
    // Pauses added or deleted (by Add, Delete, undo or elsewhere) show as an update of their timer.
    if (timer_ && changeSet.isUpdated(timer_))
        reloadEntries();
    updateConflicts();
    updateEditBox();
}

void PauseEntriesViewController::addPause()
{
    if (!timer_)
        return;
    model::PauseEntry* entry = timer_->pause();
    if (!entry)
        return; // no context, or a pause is running
    entry->setStart(timer_->start());
    entry->setEnd(entry->start());
    // Selected on the next turn, once the new entry is listed.
    QTimer::singleShot(0, this, [this, entry] {
        if (!entry->isDeleted())
            selectEntry(entry);
    });
    kits::TallyEvents::trackAddPause();
}

void PauseEntriesViewController::deletePause()
{
    model::PauseEntry* entry = selectedPauseEntry();
    if (!entry || !context_)
        return;
    context_->deleteObject(entry);
    reloadEntries();
    kits::TallyEvents::trackDeletePause();
}

void PauseEntriesViewController::done()
{
    entryController_->commitEditing();
    ui::endSheet(*this, ui::modalResponseOK);
}

void PauseEntriesViewController::undo()
{
    entryController_->commitEditing();
    if (context_)
        context_->undoManager().undo();
}

void PauseEntriesViewController::redo()
{
    if (context_)
        context_->undoManager().redo();
}

} // namespace inspectors
