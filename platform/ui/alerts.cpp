// Alerts through QMessageBox: blocking ones for the application, window-modal ones that end in a
// completion with the button's response; all go to the test hook when one is installed.
#include "ui/alerts.h"

#include "ui/modal_test_hook.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <memory>

namespace ui {

namespace {

bool recordBlockingAlert(QWidget* parent, AlertStyle style, const QString& title, const QString& text)
{
    ModalTestHook* hook = ModalTestHook::active();
    if (!hook)
        return false;
    Alert alert{style, title, text, {}};
    hook->alerts.push_back(PresentedAlert{alert, parent, false});
    return true;
}

QMessageBox::Icon iconOf(AlertStyle style)
{
    switch (style) {
    case AlertStyle::warning: return QMessageBox::Warning;
    case AlertStyle::informational: return QMessageBox::Information;
    case AlertStyle::critical: return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

// The buttons in order, the first the default and one titled "Cancel" the answer to Escape.
QList<QAbstractButton*> addButtons(QMessageBox& box, const QStringList& titles)
{
    QList<QAbstractButton*> buttons;
    for (const QString& title : titles) {
        QPushButton* button = box.addButton(title, QMessageBox::ActionRole);
        buttons.append(button);
        if (title == QObject::tr("Cancel"))
            box.setEscapeButton(button);
    }
    box.setDefaultButton(qobject_cast<QPushButton*>(buttons.first()));
    return buttons;
}

ModalResponse responseOf(const QMessageBox& box, const QList<QAbstractButton*>& buttons)
{
    const qsizetype index = buttons.indexOf(box.clickedButton());
    return index < 0 ? modalResponseCancel : alertFirstButtonReturn + int(index);
}

} // namespace

void runWarningAlert(QWidget* parent, const QString& title, const QString& text)
{
    if (!recordBlockingAlert(parent, AlertStyle::warning, title, text))
        QMessageBox::warning(parent, title, text);
}

void runInformationalAlert(QWidget* parent, const QString& title, const QString& text)
{
    if (!recordBlockingAlert(parent, AlertStyle::informational, title, text))
        QMessageBox::information(parent, title, text);
}

void Alert::beginSheetModal(QWidget& window, std::function<void(ModalResponse)> completion) const
{
    Alert shown = *this;
    if (shown.buttons.isEmpty())
        shown.buttons = {QObject::tr("OK")};

    if (ModalTestHook* hook = ModalTestHook::active()) {
        hook->alerts.push_back(PresentedAlert{shown, &window, true});
        const ModalResponse response = hook->answerAlert(hook->alerts.back());
        QTimer::singleShot(0, &window, [completion = std::move(completion), response] {
            if (completion)
                completion(response);
        });
        return;
    }

    auto* box =
        new QMessageBox(iconOf(shown.alertStyle), QString(), shown.messageText, QMessageBox::NoButton, window.window());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setInformativeText(shown.informativeText);
    const QList<QAbstractButton*> boxButtons = addButtons(*box, shown.buttons);
    QObject::connect(box, &QMessageBox::finished, box, [box, boxButtons, completion = std::move(completion)] {
        const ModalResponse response = responseOf(*box, boxButtons);
        if (completion)
            completion(response);
    });
    box->open();
}

ModalResponse runModalAlert(QWidget* parent, const Alert& alert)
{
    Alert shown = alert;
    if (shown.buttons.isEmpty())
        shown.buttons = {QObject::tr("OK")};
    if (ModalTestHook* hook = ModalTestHook::active()) {
        hook->alerts.push_back(PresentedAlert{shown, parent, false});
        return hook->answerAlert(hook->alerts.back());
    }
    QMessageBox box(iconOf(shown.alertStyle), QString(), shown.messageText, QMessageBox::NoButton, parent);
    box.setWindowModality(Qt::ApplicationModal);
    box.setInformativeText(shown.informativeText);
    const QList<QAbstractButton*> buttons = addButtons(box, shown.buttons);
    box.exec();
    return responseOf(box, buttons);
}

} // namespace ui
