// Undo groups: recorded primitive changes, replayed backwards as raw values.
#include "data/undo_manager.h"

#include "data/object_context.h"

#include <algorithm>

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

void UndoManager::endCoalescing()
{
    if (coalescing_ > 0 && --coalescing_ == 0)
        sessionEnding_ = true;
}

bool UndoManager::joinsSessionGroup(const Group& group) const
{
    if (!sessionGroup_ || undoStack_.empty() || *sessionGroup_ != undoStack_.size() - 1)
        return false;
    const Group& session = undoStack_.back();
    return std::all_of(group.begin(), group.end(), [&session](const UndoRecord& record) {
        return record.kind == UndoRecord::Kind::setAttribute
               && std::any_of(session.begin(), session.end(), [&record](const UndoRecord& earlier) {
                      return earlier.kind == UndoRecord::Kind::setAttribute && earlier.object == record.object
                             && earlier.index == record.index;
                  });
    });
}

void UndoManager::closeGroup()
{
    const bool inSession = coalescing_ > 0 || sessionEnding_;
    sessionEnding_ = false;
    if (!open_.empty()) {
        if (undoing_) {
            redoStack_.push_back(std::move(open_));
        } else {
            // A joining group adds nothing to undo: the session's group already holds the values
            // from before the session.
            if (redoing_ || !inSession || !joinsSessionGroup(open_)) {
                undoStack_.push_back(std::move(open_));
                sessionGroup_ = inSession && !redoing_ ? std::optional(undoStack_.size() - 1) : std::nullopt;
            }
            if (!redoing_)
                redoStack_.clear();
        }
        open_.clear();
    }
    if (coalescing_ == 0)
        sessionGroup_.reset();
}

void UndoManager::removeAllActions()
{
    open_.clear();
    undoStack_.clear();
    redoStack_.clear();
    sessionGroup_.reset();
}

void UndoManager::undo()
{
    context_.processPendingChanges();
    if (undoStack_.empty())
        return;
    Group group = std::move(undoStack_.back());
    undoStack_.pop_back();
    sessionGroup_.reset(); // what is typed after an undo is a step of its own
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
    sessionGroup_.reset();
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
