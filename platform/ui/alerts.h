// Alerts shared by the controllers: application-modal warnings and notices that block until
// acknowledged, the application-modal alert that asks a question and answers with the button chosen,
// and the window-modal alert that ends in a completion with the response of its button.
#pragma once

#include "ui/modal_response.h"

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace ui {

// Application-modal; they return once the user acknowledged them. Under a ModalTestHook they are
// recorded there and return at once.
void runWarningAlert(QWidget* parent, const QString& title, const QString& text);
void runInformationalAlert(QWidget* parent, const QString& title, const QString& text);

enum class AlertStyle { warning, informational, critical };

// A window-modal alert: a message, an informative text below it and buttons in the order added. The
// first button is the default (Return); a button titled "Cancel" also answers Escape. Closed without a
// button (its window went away), it answers modalResponseCancel.
struct Alert {
    AlertStyle alertStyle = AlertStyle::warning;
    QString messageText;
    QString informativeText;
    QStringList buttons; // none: one "OK"

    // Shows the alert over `window` without blocking; `completion` runs once, on a later event-loop
    // turn, with alertFirstButtonReturn + the index of the button chosen. A ModalTestHook, when one
    // is installed, answers instead of the user and nothing is shown.
    void beginSheetModal(QWidget& window, std::function<void(ModalResponse)> completion) const;
};

// Runs `alert` application-modal (over `parent`, when given) until the user chooses; answers
// alertFirstButtonReturn + the index of the button chosen, modalResponseCancel when it was closed
// without one. Under a ModalTestHook it is recorded there and the hook answers at once.
ModalResponse runModalAlert(QWidget* parent, const Alert& alert);

} // namespace ui
