// What the user is told about settings that could not be read at launch or whose settled currency
// could not be saved: one warning, shown once the main window is up, besides the line on stderr.
#pragma once

#include "foundation/status.h"

#include <QString>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace app {

class SettingsWarning {
public:
    using RunAlert = std::function<void(QWidget* parent, const QString& title, const QString& text)>;

    // `currencyWrite` is what writing the settled currency to `settingsFile` answered.
    SettingsWarning(const std::optional<std::string>& loadProblem, const foundation::Status& currencyWrite,
                    const std::filesystem::path& settingsFile);

    // The text to show; nothing when all went well.
    const std::optional<QString>& text() const { return text_; }

    // Shows the warning over `window` (borrowed; a window closed meanwhile makes it parentless) at the
    // next turn of the event loop, so it comes after the window itself. Shows it at most once.
    void showAfterLaunch(QWidget* window, RunAlert runAlert);

private:
    std::optional<QString> text_;
    bool shown_ = false;
};

} // namespace app
