// A dialog shown as a window-modal sheet over a window, ending in a completion with its return code.
// A ModalTestHook can answer it in tests instead of the user.
#pragma once

#include "ui/modal_response.h"

#include <functional>

class QDialog;
class QWidget;

namespace ui {

// Shows `sheet` window-modal over `window` without blocking. `completion` runs once with the code the
// sheet ends with: endSheet's code, QDialog's accept (modalResponseOK) or reject/Escape/close
// (modalResponseCancel). The caller keeps owning the sheet; it is hidden when it ends.
void beginSheet(QWidget& window, QDialog& sheet, std::function<void(ModalResponse)> completion);

// Ends a sheet begun with beginSheet with `code`; a sheet that is not running is left alone.
void endSheet(QDialog& sheet, ModalResponse code);

} // namespace ui
