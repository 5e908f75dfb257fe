// Qt's print dialog, window-modal over the caller's window; the test hook answers it when installed.
#include "ui/print_panel.h"

#include "ui/modal_test_hook.h"

#include <QPrintDialog>
#include <QPrinter>
#include <QWidget>

namespace ui {

bool runPrintPanel(QWidget* window, QPrinter& printer)
{
    if (ModalTestHook* hook = ModalTestHook::active()) {
        hook->printPanels.push_back(PresentedPrintPanel{window});
        return hook->answerPrintPanel(printer);
    }
    QPrintDialog dialog(&printer, window ? window->window() : nullptr);
    dialog.setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace ui
