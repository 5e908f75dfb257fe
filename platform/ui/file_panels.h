// Window-modal open and save file dialogs that end in a completion: OK with the chosen paths, or
// cancel with none. A ModalTestHook answers them in tests instead of the user.
#pragma once

#include "ui/modal_response.h"

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace ui {

struct SavePanel {
    QString title;
    QString directory;            // where the dialog opens; empty: the dialog's own choice
    QString nameFieldStringValue; // the file name proposed
    QStringList allowedFileTypes; // extensions without the dot; empty: any
    bool allowsOtherFileTypes = false;

    // `completion` runs once, on a later event-loop turn, with modalResponseOK and the absolute path
    // (made to carry an allowed extension, see pathWithAllowedFileType) or with modalResponseCancel and
    // an empty path.
    void beginSheetModal(QWidget& window, std::function<void(ModalResponse, QString path)> completion) const;
};

struct OpenPanel {
    QString title;
    QString directory;
    QStringList allowedFileTypes; // extensions without the dot; empty: any
    bool canChooseFiles = true;
    bool canChooseDirectories = false;
    bool allowsMultipleSelection = false;

    // `completion` runs once, on a later event-loop turn, with modalResponseOK and the chosen paths, or
    // with modalResponseCancel and none. Answers of a ModalTestHook that break the panel's rules (a
    // directory where only files may be chosen, a second path without multiple selection) are refused:
    // such an answer is taken as cancel.
    void beginSheetModal(QWidget& window, std::function<void(ModalResponse, QStringList paths)> completion) const;
};

// The path a save dialog hands back: unchanged when other types are allowed, when no types are given
// or when it already ends in an allowed extension (case-insensitive); otherwise the first allowed
// extension is appended, so "notes.txt" saved as CSV becomes "notes.txt.csv".
QString pathWithAllowedFileType(const QString& path, const QStringList& allowedFileTypes, bool allowsOtherFileTypes);

} // namespace ui
