// The one installed test hook and its defaults.
#include "ui/modal_test_hook.h"

#include <stdexcept>

namespace ui {

namespace {
ModalTestHook* installedHook = nullptr;
}

ModalTestHook::ModalTestHook()
    : answerAlert([](const PresentedAlert&) { return alertFirstButtonReturn; }),
      answerFileDialog([](const PresentedFileDialog&) { return std::optional<QStringList>(); }),
      answerSheet([](const PresentedSheet&) { return std::optional<ModalResponse>(); }),
      answerPrintPanel([](QPrinter&) { return false; })
{
    if (installedHook)
        throw std::logic_error("ui::ModalTestHook: a hook is already installed");
    installedHook = this;
}

ModalTestHook::~ModalTestHook()
{
    installedHook = nullptr;
}

ModalTestHook* ModalTestHook::active()
{
    return installedHook;
}

} // namespace ui
