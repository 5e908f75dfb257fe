// The numbers a window-modal alert, file dialog or sheet ends with, handed to its completion: OK and
// cancel for dialogs and sheets, and 1000, 1001, ... for an alert's buttons in the order they were added.
#pragma once

namespace ui {

using ModalResponse = int;

inline constexpr ModalResponse modalResponseCancel = 0;
inline constexpr ModalResponse modalResponseOK = 1;
inline constexpr ModalResponse alertFirstButtonReturn = 1000;
inline constexpr ModalResponse alertSecondButtonReturn = 1001;
inline constexpr ModalResponse alertThirdButtonReturn = 1002;

} // namespace ui
