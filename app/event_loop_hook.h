// Runs the main context's pending-change pass after every turn of the main event loop: one
// "objects did change" notice, one undo group and the save per turn. Also keeps the user's edit in
// progress across a save: committed before, focus and selection put back after.
#pragma once

#include <QObject>
#include <QPersistentModelIndex>
#include <QPointer>

class QAbstractEventDispatcher;
class QAbstractItemView;
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

// The save hooks of the persistence controller. Before a save, the text edit in progress (a focused
// line edit, an autosizing text field, a cell editor of an item view, any bound field) is committed so
// that it is saved too; afterwards the same field, or the same cell in editing mode, has the focus
// again with the same selection. When nothing is being edited, nothing is remembered and the focus is
// not touched.
class EditPreserver {
public:
    void install(model::PersistenceController& persistenceController);

    void commitEditInProgress();
    void restoreEditing();

private:
    void forget();

    QPointer<QWidget> editor_;
    QPointer<QAbstractItemView> editedView_;
    QPersistentModelIndex editedCell_;
    // The line edit's selection, with the cursor at either end of it, or only the cursor.
    bool hadLineEdit_ = false;
    int cursorPosition_ = 0;
    // A text field's selection runs from this anchor to the cursor position.
    bool hadTextField_ = false;
    int textAnchor_ = 0;
    int selectionStart_ = -1;
    int selectionLength_ = 0;
};

} // namespace app
