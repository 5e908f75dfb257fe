// Words for the settings problems of a launch, and their one warning dialog after the main window.
#include "app/settings_warning.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace app {

SettingsWarning::SettingsWarning(const std::optional<std::string>& loadProblem, const foundation::Status& currencyWrite,
                                 const std::filesystem::path& settingsFile)
{
    QStringList paragraphs;
    if (loadProblem)
        paragraphs << QString::fromStdString(*loadProblem);
    if (!currencyWrite.isOk()) {
        paragraphs << QObject::tr("The default currency could not be saved to %1 (%2). It is used until "
                                  "Horavine quits, and saving is tried again with the next change of a setting.")
                          .arg(QString::fromStdString(settingsFile.string()),
                               QString::fromStdString(currencyWrite.message()));
    }
    if (!paragraphs.isEmpty())
        text_ = paragraphs.join(QStringLiteral("\n\n"));
}

void SettingsWarning::showAfterLaunch(QWidget* window, RunAlert runAlert)
{
    if (!text_ || shown_)
        return;
    shown_ = true;
    QTimer::singleShot(0, QCoreApplication::instance(),
                       [parent = QPointer<QWidget>(window), text = *text_, runAlert = std::move(runAlert)] {
                           runAlert(parent.data(), QObject::tr("Horavine has a problem with its settings"), text);
                       });
}

} // namespace app
