// Tells the user when a setting the main window writes (which projects are expanded, whether billed
// timers are shown) could not be saved: one window-modal alert, then none until a write works again,
// so expanding project after project on a full disk raises one alert, not one per click.
#pragma once

#include "foundation/status.h"

#include <QString>

#include <filesystem>

class QWidget;

namespace mainwindow {

class SettingsWriteAlert {
public:
    // `what` names the setting in a sentence ("Which projects are expanded"); `status` is what the
    // write answered and `file` the settings file.
    void report(QWidget& window, const foundation::Status& status, const QString& what,
                const std::filesystem::path& file);

private:
    bool failing_ = false;
};

} // namespace mainwindow
