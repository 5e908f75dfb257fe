// The sheet in which the user edits the pauses of one timer: the entries by start, the start and end
// of the selected one, Add, Delete and Done, and a conflict check that flags entries outside the
// timer's start and end or overlapping other entries. Undo and redo act on the store's main context.
#pragma once

#include "ui/object_controller.h"

#include "foundation/notification_center.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QDialog>

#include <vector>

class QAction;
class QDateTimeEdit;
class QGroupBox;
class QLabel;
class QPushButton;
class QTableView;

namespace data {
class ObjectContext;
}
namespace model {
class PauseEntry;
class Timer;
} // namespace model

namespace inspectors {

// The timer's pause entries by start: column 0 the range, column 1 the length (or, for an entry that
// overlaps others or leaves its timer's range, a warning image); tinted rows take the warning
// background.
class PauseEntriesTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { rangeColumn = 0, durationColumn = 1 };

    explicit PauseEntriesTableModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    void setEntries(std::vector<model::PauseEntry*> entries);
    const std::vector<model::PauseEntry*>& entries() const { return entries_; }
    // The row of `entry`; -1 when it is not listed.
    int row(const model::PauseEntry* entry) const;
    model::PauseEntry* entry(int row) const;
    void setTintedEntries(std::vector<model::PauseEntry*> entries);
    // Every cell's text, image and background may have changed.
    void refreshCells();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<model::PauseEntry*> entries_;
    std::vector<model::PauseEntry*> tinted_;
};

class PauseEntriesViewController : public QDialog {
    Q_OBJECT
public:
    static QColor warningRowColor() { return QColor::fromRgbF(0.95f, 0.51f, 0.51f, 1.0f); }

    // `context` (borrowed) is the store's main context: its notices refresh the sheet and its undo
    // manager serves the sheet's Undo and Redo.
    explicit PauseEntriesViewController(data::ObjectContext* context, QWidget* parent = nullptr);
    ~PauseEntriesViewController() override;

    model::Timer* timer() const { return timer_; }
    // The timer whose pauses are edited; nothing changes for nullptr.
    void setTimer(model::Timer* timer);
    bool hasConflicts() const { return hasConflicts_; }
    model::PauseEntry* selectedPauseEntry() const;

    // Actions.
    void addPause();
    void deletePause();
    void done();
    void undo();
    void redo();

    QTableView* pauseEntriesTableView() const { return tableView_; }
    PauseEntriesTableModel* tableModel() const { return tableModel_; }
    QLabel* conflictErrorLabel() const { return conflictErrorLabel_; }
    QLabel* conflictErrorImageView() const { return conflictErrorImageView_; }
    QGroupBox* editBox() const { return editBox_; }
    QWidget* editBoxContent() const { return editBoxContent_; }
    QLabel* emptyLabel() const { return emptyLabel_; }
    QDateTimeEdit* startField() const { return startField_; }
    QDateTimeEdit* endField() const { return endField_; }
    QAction* deleteAction() const { return deleteAction_; }
    QAction* undoAction() const { return undoAction_; }
    QAction* redoAction() const { return redoAction_; }
    QPushButton* doneButton() const { return doneButton_; }
    // The background the row of `entry` shows; nothing for an untinted or unlisted one.
    std::optional<QColor> rowBackground(int row) const;

Q_SIGNALS:
    void hasConflictsChanged(bool hasConflicts);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void reloadEntries();
    void selectEntry(model::PauseEntry* entry);
    void tableViewSelectionDidChange();
    void updateConflicts();
    void updateRowBackgrounds();
    void updateEditBox();
    void contextDidChange(const foundation::Notification& notification);

    data::ObjectContext* context_;
    model::Timer* timer_ = nullptr;
    bool hasConflicts_ = false;
    PauseEntriesTableModel* tableModel_;
    QTableView* tableView_;
    QGroupBox* editBox_;
    QWidget* editBoxContent_;
    QLabel* emptyLabel_;
    QDateTimeEdit* startField_;
    QDateTimeEdit* endField_;
    QLabel* conflictErrorLabel_;
    QLabel* conflictErrorImageView_;
    QPushButton* addButton_;
    QPushButton* deleteButton_;
    QPushButton* doneButton_;
    QAction* deleteAction_;
    QAction* undoAction_;
    QAction* redoAction_;
    ui::ObjectController* entryController_;
    foundation::ObserverToken contextToken_;
};

} // namespace inspectors
