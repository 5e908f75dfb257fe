// Runs the main context's pending-change pass after every turn of the main event loop: one
// "objects did change" notice, one undo group and the save per turn. Also keeps the user's edit in
// progress across a save: committed before, focus and selection put back after.
#pragma once

#include <QObject>
#include <QPointer>

class QAbstractEventDispatcher;
class QWidget;

namespace data {
class ObjectContext;
}
namespace model {
class PersistenceController;
}

namespace app {

class EventLoopHook : public QObject {
    Q_OBJECT
public:
    EventLoopHook(data::ObjectContext& context, QAbstractEventDispatcher& dispatcher);

    void processPendingChanges();

private:
    data::ObjectContext& context_;
    bool processing_ = false;
};

// The save hooks of the persistence controller: commit the focused editor's text, then restore the
// focus, the cursor and the selection the user had.
class EditPreserver {
public:
    void install(model::PersistenceController& persistenceController);

    void commitEditInProgress();
    void restoreEditing();

private:
    QPointer<QWidget> focused_;
    int cursorPosition_ = 0;
    int selectionStart_ = -1;
    int selectionLength_ = 0;
};

} // namespace app
