// The pending-change pass at aboutToBlock, and the edit preserver around saves.
#include "app/event_loop_hook.h"

#include "ui/autosizing_text_field.h"
#include "ui/object_controller.h"

#include "data/object_context.h"
#include "model/persistence_controller.h"

#include <QAbstractEventDispatcher>
#include <QAbstractItemDelegate>
#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QTextCursor>

#include <algorithm>

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
        QMetaObject::invokeMethod(
            this, [] {}, Qt::QueuedConnection);
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

void EditPreserver::forget()
{
    editor_.clear();
    editedView_.clear();
    editedCell_ = QPersistentModelIndex();
    hadLineEdit_ = false;
    hadTextField_ = false;
    textAnchor_ = 0;
    selectionStart_ = -1;
    selectionLength_ = 0;
    cursorPosition_ = 0;
}

void EditPreserver::commitEditInProgress()
{
    forget();
    // Bound fields that are not line edits (dates, notes) have no editingFinished to send.
    ui::ObjectController::commitEditingEverywhere();
    QWidget* focused = QApplication::focusWidget();
    if (!focused)
        return;
    auto [view, editor] = cellEditor(focused);
    auto* lineEdit = qobject_cast<QLineEdit*>(focused);
    auto* textField = qobject_cast<ui::AutosizingTextField*>(focused);
    if (!view && !lineEdit && !textField)
        return; // not a text edit: the save leaves the focus alone
    editor_ = focused;
    if (textField) {
        hadTextField_ = true;
        const QTextCursor cursor = textField->textCursor();
        cursorPosition_ = cursor.position();
        textAnchor_ = cursor.anchor();
        textField->endEditing();
        return;
    }
    if (lineEdit) {
        hadLineEdit_ = true;
        cursorPosition_ = lineEdit->cursorPosition();
        selectionStart_ = lineEdit->selectionStart();
        selectionLength_ = lineEdit->selectionLength();
    }
    if (view) {
        editedView_ = view;
        editedCell_ = view->indexAt(editor->geometry().center());
        Q_EMIT view->itemDelegate()->commitData(editor);
    } else {
        Q_EMIT lineEdit->editingFinished();
    }
}

void EditPreserver::restoreEditing()
{
    QWidget* editor = editor_;
    // A cell editor closed while its edit was committed (the rows were refreshed, say) is opened
    // again on the same cell.
    if (editedView_ && editedCell_.isValid()) {
        QWidget* open = editedView_->indexWidget(editedCell_);
        if (!open || !editor || (open != editor && !open->isAncestorOf(editor))) {
            editedView_->edit(editedCell_);
            open = editedView_->indexWidget(editedCell_);
            editor = open && open->focusProxy() ? open->focusProxy() : open;
        }
    }
    if (editor && QApplication::focusWidget() != editor)
        editor->setFocus(Qt::OtherFocusReason);
    if (auto* textField = qobject_cast<ui::AutosizingTextField*>(editor); textField && hadTextField_) {
        // The end of the edit may have set the text anew; the cursor stays inside it.
        const int end = textField->document()->characterCount() - 1;
        QTextCursor cursor = textField->textCursor();
        cursor.setPosition(std::clamp(textAnchor_, 0, end));
        cursor.setPosition(std::clamp(cursorPosition_, 0, end), QTextCursor::KeepAnchor);
        textField->setTextCursor(cursor);
    }
    auto* lineEdit = qobject_cast<QLineEdit*>(editor);
    if (lineEdit && hadLineEdit_) {
        const int length = static_cast<int>(lineEdit->text().size());
        if (selectionStart_ >= 0 && selectionStart_ + selectionLength_ <= length) {
            // A selection made backwards keeps its cursor at the start.
            if (cursorPosition_ == selectionStart_)
                lineEdit->setSelection(selectionStart_ + selectionLength_, -selectionLength_);
            else
                lineEdit->setSelection(selectionStart_, selectionLength_);
        } else {
            lineEdit->setCursorPosition(std::min(cursorPosition_, length));
        }
    }
    forget();
}

} // namespace app
