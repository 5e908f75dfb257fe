// Sheets as window-modal QDialogs: the completion hangs on the dialog's finished signal for one run.
#include "ui/sheets.h"

#include "ui/modal_test_hook.h"

#include <QDialog>
#include <QTimer>

#include <memory>

namespace ui {

namespace {
constexpr const char* runningProperty = "ui_sheetRunning";
}

void beginSheet(QWidget& window, QDialog& sheet, std::function<void(ModalResponse)> completion)
{
    // A sheet begun again while it runs ends its first run as cancelled, so each completion runs once.
    endSheet(sheet, modalResponseCancel);

    QWidget* owner = window.window();
    if (sheet.parentWidget() != owner)
        sheet.setParent(owner, sheet.windowFlags() | Qt::Dialog);
    sheet.setWindowModality(Qt::WindowModal);
    sheet.setProperty(runningProperty, true);

    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(&sheet, &QDialog::finished, &sheet,
                                   [&sheet, connection, completion = std::move(completion)](int code) {
                                       QObject::disconnect(*connection);
                                       sheet.setProperty(runningProperty, false);
                                       // accept() and reject() end with 1 and 0: modalResponseOK and Cancel.
                                       if (completion)
                                           completion(code);
                                   });

    if (ModalTestHook* hook = ModalTestHook::active()) {
        hook->sheets.push_back(PresentedSheet{&sheet, &window});
        if (const std::optional<ModalResponse> answer = hook->answerSheet(hook->sheets.back())) {
            QTimer::singleShot(0, &sheet, [&sheet, code = *answer] { endSheet(sheet, code); });
            return;
        }
    }
    sheet.open();
}

void endSheet(QDialog& sheet, ModalResponse code)
{
    if (sheet.property(runningProperty).toBool())
        sheet.done(code);
}

} // namespace ui
