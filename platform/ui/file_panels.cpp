// Open and save dialogs through Qt's own QFileDialog (the same dialog on every desktop and under
// Xvfb), shown window-modal; the test hook answers them when installed.
#include "ui/file_panels.h"

#include "ui/modal_test_hook.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>

namespace ui {

namespace {

QStringList nameFilters(const QStringList& allowedFileTypes)
{
    QStringList patterns;
    for (const QString& type : allowedFileTypes)
        patterns.append(QStringLiteral("*.") + type);
    return {patterns.join(QLatin1Char(' '))};
}

bool hasAllowedFileType(const QString& path, const QStringList& allowedFileTypes)
{
    if (allowedFileTypes.isEmpty())
        return true;
    const QString suffix = QFileInfo(path).suffix();
    return allowedFileTypes.contains(suffix, Qt::CaseInsensitive);
}

// What an open dialog would have let the user choose: existing items of the allowed kinds and types,
// one of them unless several may be chosen.
bool openPanelAccepts(const OpenPanel& panel, const QStringList& paths)
{
    if (paths.isEmpty() || (paths.size() > 1 && !panel.allowsMultipleSelection))
        return false;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (!info.exists())
            return false;
        if (info.isDir() ? !panel.canChooseDirectories
                         : !panel.canChooseFiles || !hasAllowedFileType(path, panel.allowedFileTypes))
            return false;
    }
    return true;
}

QFileDialog* makeDialog(QWidget& window, const QString& title, const QString& directory)
{
    auto* dialog = new QFileDialog(window.window(), title, directory);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setWindowModality(Qt::WindowModal);
    return dialog;
}

// Hands the dialog's answer to `finish` on a later event-loop turn. The dialog emits finished from
// inside its own key and button handlers and deletes itself once they return; whatever the
// completion does (an export that lets events through, another dialog) must not run under them.
template <typename Finish>
void finishLater(QFileDialog& dialog, QWidget& window, Finish finish)
{
    QObject::connect(&dialog, &QFileDialog::finished, &dialog,
                     [&dialog, window = QPointer<QWidget>(&window), finish = std::move(finish)](int result) {
                         if (!window)
                             return;
                         const QStringList chosen =
                             result == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
                         QTimer::singleShot(0, window, [finish, chosen] { finish(chosen); });
                     });
}

} // namespace

QString pathWithAllowedFileType(const QString& path, const QStringList& allowedFileTypes, bool allowsOtherFileTypes)
{
    if (allowsOtherFileTypes || hasAllowedFileType(path, allowedFileTypes))
        return path;
    return path + QLatin1Char('.') + allowedFileTypes.first();
}

void SavePanel::beginSheetModal(QWidget& window, std::function<void(ModalResponse, QString)> completion) const
{
    auto finish = [panel = *this, completion = std::move(completion)](const QString& chosen) {
        if (!completion)
            return;
        if (chosen.isEmpty())
            completion(modalResponseCancel, QString());
        else
            completion(modalResponseOK, pathWithAllowedFileType(QFileInfo(chosen).absoluteFilePath(),
                                                                panel.allowedFileTypes, panel.allowsOtherFileTypes));
    };

    if (ModalTestHook* hook = ModalTestHook::active()) {
        hook->fileDialogs.push_back(
            PresentedFileDialog{true, title, directory, nameFieldStringValue, allowedFileTypes, &window});
        const std::optional<QStringList> answer = hook->answerFileDialog(hook->fileDialogs.back());
        const QString chosen = answer && !answer->isEmpty() ? answer->first() : QString();
        QTimer::singleShot(0, &window, [finish = std::move(finish), chosen] { finish(chosen); });
        return;
    }

    QFileDialog* dialog = makeDialog(window, title, directory);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    if (!allowedFileTypes.isEmpty()) {
        dialog->setNameFilters(nameFilters(allowedFileTypes));
        dialog->setDefaultSuffix(allowedFileTypes.first());
    }
    if (!nameFieldStringValue.isEmpty())
        dialog->selectFile(nameFieldStringValue);
    finishLater(*dialog, window, [finish = std::move(finish)](const QStringList& files) {
        finish(files.isEmpty() ? QString() : files.first());
    });
    dialog->open();
}

void OpenPanel::beginSheetModal(QWidget& window, std::function<void(ModalResponse, QStringList)> completion) const
{
    auto finish = [completion = std::move(completion)](const QStringList& chosen) {
        if (!completion)
            return;
        if (chosen.isEmpty())
            completion(modalResponseCancel, {});
        else
            completion(modalResponseOK, chosen);
    };

    if (ModalTestHook* hook = ModalTestHook::active()) {
        hook->fileDialogs.push_back(PresentedFileDialog{false, title, directory, QString(), allowedFileTypes, &window});
        const std::optional<QStringList> answer = hook->answerFileDialog(hook->fileDialogs.back());
        QStringList chosen;
        if (answer && openPanelAccepts(*this, *answer))
            for (const QString& path : *answer)
                chosen.append(QFileInfo(path).absoluteFilePath());
        QTimer::singleShot(0, &window, [finish = std::move(finish), chosen] { finish(chosen); });
        return;
    }

    QFileDialog* dialog = makeDialog(window, title, directory);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    if (canChooseDirectories && !canChooseFiles)
        dialog->setFileMode(QFileDialog::Directory);
    else
        dialog->setFileMode(allowsMultipleSelection ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    if (!allowedFileTypes.isEmpty())
        dialog->setNameFilters(nameFilters(allowedFileTypes));
    finishLater(*dialog, window, std::move(finish));
    dialog->open();
}

} // namespace ui
