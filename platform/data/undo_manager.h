// Undo and redo of a context. Every pass of change processing closes one group of the changes it
// recorded; undoing a group replays its changes backwards as raw values (no entity side effects)
// and records the replay as the matching redo group.
#pragma once

#include "data/value.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace data {

class Object;
class ObjectContext;

inline constexpr const char* UndoManagerDidUndoChangeNotification = "UndoManagerDidUndoChangeNotification";
inline constexpr const char* UndoManagerDidRedoChangeNotification = "UndoManagerDidRedoChangeNotification";
inline constexpr const char* UndoManagerCheckpointNotification = "UndoManagerCheckpointNotification";

// One recorded primitive change.
struct UndoRecord {
    enum class Kind : std::uint8_t { setAttribute, setToOne, insert, remove };
    Kind kind;
    int index = -1; // attribute or relationship index
    Object* object = nullptr;
    Value oldValue;              // setAttribute
    Object* oldTarget = nullptr; // setToOne
};

class UndoManager {
public:
    explicit UndoManager(ObjectContext& context) : context_(context) {}

    bool canUndo() const { return !undoStack_.empty(); }
    bool canRedo() const { return !redoStack_.empty(); }
    std::size_t undoCount() const { return undoStack_.size(); }
    std::size_t redoCount() const { return redoStack_.size(); }

    // Undoes the newest group: pending changes are processed first (closing their own group),
    // then the group is replayed backwards and processed, then "did undo" is posted.
    void undo();
    void redo();

    bool isUndoing() const { return undoing_; }
    bool isRedoing() const { return redoing_; }

    // Nested and counted: changes made while registration is disabled are never undoable.
    void disableUndoRegistration() { ++disabled_; }
    void enableUndoRegistration();
    bool isUndoRegistrationEnabled() const { return disabled_ == 0; }

    void removeAllActions();

    // An edit written in several steps (notes stored whenever the user pauses typing) is one step to
    // undo: while a session is open (counted), a group that only sets attributes the session's newest
    // group set too joins that group. endCoalescing() lets the changes still pending join as well;
    // the session ends with the next close of a group.
    void beginCoalescing() { ++coalescing_; }
    void endCoalescing();
    bool isCoalescing() const { return coalescing_ > 0; }

    // Called by the context as it records and processes changes.
    void record(UndoRecord record);
    void closeGroup();

private:
    using Group = std::vector<UndoRecord>;

    void replay(Group group, bool asUndo);
    // Whether `group` only sets attributes that the session's group, the newest one, sets too.
    bool joinsSessionGroup(const Group& group) const;

    ObjectContext& context_;
    Group open_;
    std::vector<Group> undoStack_;
    std::vector<Group> redoStack_;
    int disabled_ = 0;
    int coalescing_ = 0;
    bool sessionEnding_ = false;
    // The index on the undo stack of the newest group closed in the open session.
    std::optional<std::size_t> sessionGroup_;
    bool undoing_ = false;
    bool redoing_ = false;
};

// Switches undo registration off for its lifetime: changes made meanwhile are never undoable. Nests
// like the calls it makes, and turns registration back on however its scope is left.
class UndoRegistrationDisabled {
public:
    explicit UndoRegistrationDisabled(UndoManager& manager) : manager_(manager) { manager_.disableUndoRegistration(); }
    ~UndoRegistrationDisabled() { manager_.enableUndoRegistration(); }
    UndoRegistrationDisabled(const UndoRegistrationDisabled&) = delete;
    UndoRegistrationDisabled& operator=(const UndoRegistrationDisabled&) = delete;

private:
    UndoManager& manager_;
};

} // namespace data
