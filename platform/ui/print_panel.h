// The print dialog, run to its end before the call returns (printing is synchronous): the user picks
// a printer and its settings on `printer`. A ModalTestHook answers it in tests instead of the user.
#pragma once

class QPrinter;
class QWidget;

namespace ui {

// True when the user chose to print, with `printer` set up as chosen; false on Cancel.
bool runPrintPanel(QWidget* window, QPrinter& printer);

} // namespace ui
