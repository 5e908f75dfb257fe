// The update checker's stand-in: a notice instead of a download.
#include "app/updater.h"

#include "foundation/defaults_store.h"
#include "ui/alerts.h"

#include <QObject>

namespace app {

namespace {
constexpr const char* automaticChecksKey = "automaticallyChecksForUpdates";
}

bool Updater::automaticallyChecksForUpdates() const
{
    return store_.boolValue(automaticChecksKey);
}

void Updater::setAutomaticallyChecksForUpdates(bool checks)
{
    store_.set(automaticChecksKey, checks);
}

void Updater::checkForUpdates(QWidget* parent)
{
    ui::runInformationalAlert(parent, QObject::tr("Check for Updates"),
                              QObject::tr("Horavine is updated by your system's package manager. "
                                          "Use it to look for a newer version."));
}

} // namespace app
