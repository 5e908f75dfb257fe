// Undo groups: recorded primitive changes, replayed backwards as raw values.
#include "data/undo_manager.h"

#include "data/object_context.h"

namespace data {

void UndoManager::enableUndoRegistration()
{
    if (disabled_ > 0)
        --disabled_;
}

void UndoManager::record(UndoRecord record)
{
    if (disabled_ == 0)
        open_.push_back(std::move(record));
}

void UndoManager::closeGroup()
{
    if (open_.empty())
        return;
    if (undoing_) {
        redoStack_.push_back(std::move(open_));
    } else {
        undoStack_.push_back(std::move(open_));
        if (!redoing_)
            redoStack_.clear();
    }
    open_.clear();
}

void UndoManager::removeAllActions()
{
    open_.clear();
    undoStack_.clear();
    redoStack_.clear();
}

void UndoManager::undo()
{
    context_.processPendingChanges();
    if (undoStack_.empty())
        return;
    Group group = std::move(undoStack_.back());
    undoStack_.pop_back();
    replay(std::move(group), true);
    context_.notificationCenter().post(UndoManagerDidUndoChangeNotification, this);
}

void UndoManager::redo()
{
    context_.processPendingChanges();
    if (redoStack_.empty())
        return;
    Group group = std::move(redoStack_.back());
    redoStack_.pop_back();
    replay(std::move(group), false);
    context_.notificationCenter().post(UndoManagerDidRedoChangeNotification, this);
}

void UndoManager::replay(Group group, bool asUndo)
{
    bool& flag = asUndo ? undoing_ : redoing_;
    flag = true;
    // The replay records its own changes (the group that reverses it) even when the caller has
    // switched registration off around the undo.
    const int disabled = disabled_;
    disabled_ = 0;
    for (auto record = group.rbegin(); record != group.rend(); ++record) {
        Object& object = *record->object;
        switch (record->kind) {
        case UndoRecord::Kind::setAttribute:
            context_.writeValue(object, record->index, std::move(record->oldValue));
            break;
        case UndoRecord::Kind::setToOne: context_.writeToOne(object, record->index, record->oldTarget); break;
        case UndoRecord::Kind::insert: context_.removeObject(object, false); break;
        case UndoRecord::Kind::remove: context_.reinsertObject(object); break;
        }
    }
    context_.processPendingChanges();
    disabled_ = disabled;
    flag = false;
}

} // namespace data
