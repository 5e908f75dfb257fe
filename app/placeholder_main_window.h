// A minimal main window carrying the application and Edit menus until the real main window exists.
#pragma once

#include <QMainWindow>

class QAction;

namespace data {
class UndoManager;
}

namespace app {

class AppDelegate;

class PlaceholderMainWindow : public QMainWindow {
    Q_OBJECT
public:
    PlaceholderMainWindow(AppDelegate& delegate, data::UndoManager& undoManager, QWidget* parent = nullptr);

    QAction* debugMenuItem() const { return debugMenuItem_; }

private:
    QAction* debugMenuItem_ = nullptr;
};

} // namespace app
