// The alert for a setting of the main window that could not be written, once per run of failures.
#include "mainwindow/settings_write_alert.h"

#include "ui/alerts.h"

#include <QObject>
#include <QWidget>

namespace mainwindow {

void SettingsWriteAlert::report(QWidget& window, const foundation::Status& status, const QString& what,
                                const std::filesystem::path& file)
{
    if (status.isOk()) {
        failing_ = false;
        return;
    }
    if (failing_)
        return;
    failing_ = true;
    ui::Alert alert;
    alert.alertStyle = ui::AlertStyle::warning;
    alert.messageText = QObject::tr("A setting could not be saved.");
    alert.informativeText =
        QObject::tr("%1 could not be written to %2 (%3). It is used until Horavine quits, and "
                    "saving is tried again with the next change of a setting.")
            .arg(what, QString::fromStdString(file.string()), QString::fromStdString(status.message()));
    alert.beginSheetModal(window, {});
}

} // namespace mainwindow
