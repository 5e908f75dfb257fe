// The application shell: owns the refresh tick, the status item, the preferences and about windows,
// and answers the application menu. Everything it uses from outside is handed in, so tests can run
// it with fakes.
#pragma once

#include "app/global_functions.h"
#include "model/refresh_notification.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

class QAction;
class QWidget;

namespace model {
class PersistenceController;
class Preferences;
}
namespace ui {
class StatusItem;
}

namespace app {

class AboutWindow;
class MiniWindowController;
class MiniWindowHintPopup;
class PreferencesWindow;
class Updater;

class AppDelegate : public QObject {
    Q_OBJECT
public:
    struct Services {
        model::PersistenceController& persistenceController;
        model::Preferences& settings;
        Updater* updater = nullptr; // none: "Check for Updates" does nothing and its menu item is disabled
        std::function<std::unique_ptr<ui::StatusItem>()> makeStatusItem;
        LinkOpener openLink = openWithDesktop;
        // Ends the event loop; tests see the call instead.
        std::function<void()> quit = [] { QCoreApplication::quit(); };
        // The monotonic clock the mini window's toggle reads.
        std::function<std::chrono::steady_clock::time_point()> monotonicNow = [] {
            return std::chrono::steady_clock::now();
        };
        // How long the first-launch hint waits for the tray to say where the icon is.
        std::chrono::milliseconds hintIconWait{3000};
    };

    // Where a toggle of the mini window came from.
    enum class MiniWindowToggle { statusItem, menu };

    // The tick it posts (model/refresh_notification.h).
    static constexpr const char* refreshTimerFiredNotification = model::RefreshTimerFiredNotification;
    static constexpr int refreshIntervalMilliseconds = 10'000;
    static constexpr std::chrono::milliseconds terminationActivityLimit{2000};

    explicit AppDelegate(Services services, QObject* parent = nullptr);
    ~AppDelegate() override;

    model::PersistenceController& persistenceController() { return services_.persistenceController; }
    Updater* updater() const { return services_.updater; }

    // The main window registers itself; until then the actions that show it do nothing.
    void setMainWindow(QWidget* window);
    QWidget* mainWindow() const { return mainWindow_; }
    void setDebugMenuItem(QAction* item) { debugMenuItem_ = item; }

    // Launch sequence after the store is open and the defaults registered.
    void applicationDidFinishLaunching();
    // Runs as the application is about to quit (connected by the constructor): posts the termination
    // notification, saves the store and waits, at most terminationActivityLimit, while kit activities
    // are active.
    void applicationWillTerminate();
    // Qt's application state (connected by the constructor): becoming active posts the "did become
    // active" notification and brings the main window forward; leaving it posts "will resign active".
    void applicationStateChanged(Qt::ApplicationState state);
    // The main window was closed. Without a tray icon on screen nothing would bring it back, so the
    // program quits as from the menu (and saves on the way); with one it keeps running.
    void mainWindowDidClose();
    // Quit from the menu: one more save of unsaved changes, the field being typed in included
    // (PersistenceController::saveWithEditInProgress); when it fails, a warning over the main
    // window offers "Try Again", "Save a Copy…" and "Quit Without Saving" before the program quits.
    // Dismissed without a choice, the program keeps running.
    void terminate();
    // Quit without anyone to ask (a signal, the end of the desktop session): one more save, the field
    // being typed in included; when it fails, the whole store goes to a recovery file named in one
    // line on stderr. Returns the exit status: 0 when nothing is left unsaved, 1 otherwise.
    int terminateWithoutAsking();
    // The application became the active one: a visible main window comes to the front and becomes
    // active, unless the mini window is open.
    void applicationDidBecomeActive();
    // Another launch asked for the program (or the desktop did): shows the main window.
    bool applicationShouldHandleReopen();
    void showMainWindow(bool onlyIfVisible);

    const QTimer& refreshTimer() const { return refreshTimer_; }

    // Shows the tray item, making it on first use; showing it again never adds a second icon.
    void setupStatusBarItem();
    void removeStatusBarItem();
    // The tray item while it is shown; a removed item counts as none.
    ui::StatusItem* statusItem() const;
    // Once per launch at most: a hint under the tray icon, or, where the tray does not say where its
    // icon is, a tray message; marked shown then. Without a tray item nothing, and nothing is marked.
    void showMiniWindowHint();
    MiniWindowHintPopup* miniWindowHint() const { return miniWindowHint_.get(); }

    // The mini window: made on first use and kept.
    MiniWindowController& miniWindowController();
    bool hasMiniWindowController() const { return miniWindowController_ != nullptr; }
    bool isMiniWindowVisible() const;
    // Places the mini window under the tray icon and opens or closes it. Does nothing while the menu
    // icon is turned off; without a tray it opens in the top-right corner of the screen.
    void openMiniWindow(MiniWindowToggle source = MiniWindowToggle::menu);

    // Application menu actions.
    void openMainWindow();
    void about();
    void checkForUpdates();
    void openPreferencesWindow();
    void sendSupportEmail();
    void openWebsite();
    void rateOnAppStore();
    [[noreturn]] void debugCrash();

    PreferencesWindow* preferencesWindow() const { return preferencesWindow_.get(); }
    AboutWindow* aboutWindow() const { return aboutWindow_.get(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void saveCopyThenQuit();
    // Opens the link; when nothing on the system takes it, a warning gives `address` to copy.
    bool openOrWarn(const QUrl& link, const QString& address);
    void statusItemClicked();
    void placeMiniWindow(MiniWindowToggle source);
    void pollForHintIcon(std::chrono::steady_clock::time_point deadline);

    Services services_;
    QPointer<QWidget> mainWindow_;
    QPointer<QAction> debugMenuItem_;
    std::unique_ptr<ui::StatusItem> statusItem_;
    bool showsStatusItem_ = false;
    std::unique_ptr<MiniWindowController> miniWindowController_;
    std::unique_ptr<MiniWindowHintPopup> miniWindowHint_;
    bool hintPending_ = false;
    bool active_ = false; // Qt's state last seen was the active one
    std::unique_ptr<PreferencesWindow> preferencesWindow_;
    std::unique_ptr<AboutWindow> aboutWindow_;
    QTimer refreshTimer_;
};

} // namespace app
