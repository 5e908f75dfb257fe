// The placeholder main window's menus, wired to the application delegate and the undo manager.
#include "app/placeholder_main_window.h"

#include "app/app_delegate.h"
#include "app/updater.h"
#include "data/undo_manager.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>

namespace app {

PlaceholderMainWindow::PlaceholderMainWindow(AppDelegate& delegate, data::UndoManager& undoManager, QWidget* parent)
    : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Horavine"));
    auto* placeholder = new QLabel(tr("Your projects will appear here."), this);
    placeholder->setAlignment(Qt::AlignCenter);
    setCentralWidget(placeholder);
    resize(900, 600);

    QMenu* application = menuBar()->addMenu(QStringLiteral("&Horavine"));
    application->addAction(tr("About Horavine"), &delegate, &AppDelegate::about);
    QAction* checkForUpdates = application->addAction(tr("Check for Updates…"), &delegate, &AppDelegate::checkForUpdates);
    checkForUpdates->setEnabled(!delegate.updater() || delegate.updater()->validateMenuItem());
    application->addSeparator();
    application->addAction(tr("Preferences…"), QKeySequence::Preferences, &delegate, &AppDelegate::openPreferencesWindow);
    application->addSeparator();
    application->addAction(tr("Send Support Mail…"), &delegate, &AppDelegate::sendSupportEmail);
    application->addAction(tr("Visit Website"), &delegate, &AppDelegate::openWebsite);
    application->addAction(tr("Rate Horavine"), &delegate, &AppDelegate::rateOnAppStore);
    QMenu* debug = application->addMenu(tr("Debug"));
    debug->addAction(tr("Crash"), &delegate, &AppDelegate::debugCrash);
    debugMenuItem_ = debug->menuAction();
    application->addSeparator();
    application->addAction(tr("Quit Horavine"), QKeySequence::Quit, qApp, &QCoreApplication::quit);

    QMenu* edit = menuBar()->addMenu(tr("&Edit"));
    QAction* undo = edit->addAction(tr("Undo"), QKeySequence::Undo, this, [&undoManager] { undoManager.undo(); });
    QAction* redo = edit->addAction(tr("Redo"), QKeySequence::Redo, this, [&undoManager] { undoManager.redo(); });
    connect(edit, &QMenu::aboutToShow, this, [undo, redo, &undoManager] {
        undo->setEnabled(undoManager.canUndo());
        redo->setEnabled(undoManager.canRedo());
    });

    QMenu* window = menuBar()->addMenu(tr("&Window"));
    window->addAction(tr("Projects"), &delegate, &AppDelegate::openMainWindow);
}

} // namespace app
