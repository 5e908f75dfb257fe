// The application's own menu (about, updates, preferences, support links, the debug crash item and
// quit), wired to the application delegate; the main window puts it first in its menu bar.
#pragma once

class QAction;
class QMenu;
class QWidget;

namespace app {

class AppDelegate;

struct ApplicationMenu {
    QMenu* menu = nullptr;
    QAction* debugMenuItem = nullptr; // hidden at launch outside debug builds
};

ApplicationMenu makeApplicationMenu(AppDelegate& delegate, QWidget* parent);

} // namespace app
