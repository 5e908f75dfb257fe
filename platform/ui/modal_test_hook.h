// Lets tests answer the window-modal alerts, file dialogs and sheets (and the blocking alerts) in place
// of a user: while a hook exists, every presentation is recorded in it and answered by its functions,
// on a later event-loop turn, as a user would (the print dialog, which blocks, at once); nothing is shown (a sheet may be left to the test).
#pragma once

#include "ui/alerts.h"
#include "ui/modal_response.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class QDialog;
class QPrinter;

namespace ui {

struct PresentedAlert {
    Alert alert;
    QPointer<QWidget> window; // the window it is modal for; null for a blocking alert without parent
    bool windowModal = true;  // false for runWarningAlert / runInformationalAlert / runModalAlert
};

struct PresentedFileDialog {
    bool save = false; // a save dialog, else an open dialog
    QString title;
    QString directory;
    QString nameFieldStringValue;
    QStringList allowedFileTypes;
    QPointer<QWidget> window;
};

struct PresentedSheet {
    QPointer<QDialog> sheet;
    QPointer<QWidget> window;
};

struct PresentedPrintPanel {
    QPointer<QWidget> window;
};

// One at a time (a second one while one exists is a programming error). Create it in a test before the
// code under test presents anything; the answer functions may be replaced at any time.
class ModalTestHook {
public:
    ModalTestHook();
    ~ModalTestHook();
    ModalTestHook(const ModalTestHook&) = delete;
    ModalTestHook& operator=(const ModalTestHook&) = delete;

    static ModalTestHook* active();

    // The response of an alert with buttons (window-modal or runModalAlert); default: its first button
    // (alertFirstButtonReturn). Acknowledgement alerts are recorded only.
    std::function<ModalResponse(const PresentedAlert&)> answerAlert;
    // The paths chosen; nothing means cancel. A save dialog takes the first path. Default: cancel.
    std::function<std::optional<QStringList>(const PresentedFileDialog&)> answerFileDialog;
    // The code the sheet ends with; nothing leaves the sheet shown for the test to end (endSheet,
    // accept, reject). Default: nothing.
    std::function<std::optional<ModalResponse>(const PresentedSheet&)> answerSheet;
    // Whether the print dialog is confirmed; it may set the printer up as a user would (an output
    // file, say) before answering. Answered at once, as the dialog runs to its end. Default: cancel.
    std::function<bool(QPrinter&)> answerPrintPanel;

    // Everything presented while the hook existed, in order.
    std::vector<PresentedAlert> alerts;
    std::vector<PresentedFileDialog> fileDialogs;
    std::vector<PresentedSheet> sheets;
    std::vector<PresentedPrintPanel> printPanels;
};

} // namespace ui
