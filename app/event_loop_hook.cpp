// The pending-change pass at aboutToBlock, and the edit preserver around saves.
#include "app/event_loop_hook.h"

#include "data/object_context.h"
#include "model/persistence_controller.h"

#include <QAbstractEventDispatcher>
#include <QAbstractItemDelegate>
#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>

namespace app {

EventLoopHook::EventLoopHook(data::ObjectContext& context, QAbstractEventDispatcher& dispatcher) : context_(context)
{
    connect(&dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &EventLoopHook::processPendingChanges);
}

void EventLoopHook::processPendingChanges()
{
    // A modal loop started by an observer blocks too; its turns must not start a second pass.
    if (processing_)
        return;
    processing_ = true;
    context_.processPendingChanges();
    processing_ = false;
    // Changes made during the pass (by observers or a committed edit) belong to the next turn:
    // wake the loop so that the turn comes.
    if (context_.hasPendingChanges())
        QMetaObject::invokeMethod(this, [] {}, Qt::QueuedConnection);
}

void EditPreserver::install(model::PersistenceController& persistenceController)
{
    persistenceController.setSaveHooks([this] { commitEditInProgress(); }, [this] { restoreEditing(); });
}

namespace {

// The item view that `widget` edits a cell of, and the editor widget itself (a child of the viewport).
std::pair<QAbstractItemView*, QWidget*> cellEditor(QWidget* widget)
{
    for (QWidget* child = widget; child && child->parentWidget(); child = child->parentWidget()) {
        auto* view = qobject_cast<QAbstractItemView*>(child->parentWidget()->parentWidget());
        if (view && child->parentWidget() == view->viewport())
            return {view, child};
    }
    return {nullptr, nullptr};
}

} // namespace

void EditPreserver::commitEditInProgress()
{
    focused_ = QApplication::focusWidget();
    if (!focused_)
        return;
    auto* lineEdit = qobject_cast<QLineEdit*>(focused_.data());
    if (lineEdit) {
        cursorPosition_ = lineEdit->cursorPosition();
        selectionStart_ = lineEdit->selectionStart();
        selectionLength_ = lineEdit->selectionLength();
    }
    if (auto [view, editor] = cellEditor(focused_); view)
        Q_EMIT view->itemDelegate()->commitData(editor);
    else if (lineEdit)
        Q_EMIT lineEdit->editingFinished();
}

void EditPreserver::restoreEditing()
{
    if (!focused_)
        return;
    if (QApplication::focusWidget() != focused_)
        focused_->setFocus(Qt::OtherFocusReason);
    if (auto* lineEdit = qobject_cast<QLineEdit*>(focused_.data())) {
        if (selectionStart_ >= 0)
            lineEdit->setSelection(selectionStart_, selectionLength_);
        else
            lineEdit->setCursorPosition(cursorPosition_);
    }
    focused_.clear();
}

} // namespace app
