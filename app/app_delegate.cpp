// The application shell's launch sequence, tray item, windows and menu actions.
#include "app/app_delegate.h"

#include "app/about_window.h"
#include "app/info_dictionary.h"
#include "app/kits.h"
#include "app/mini_window.h"
#include "app/mini_window_background_view.h"
#include "app/mini_window_hint.h"
#include "app/mini_window_view_controller.h"
#include "app/preferences_window.h"
#include "app/updater.h"
#include "foundation/activity_register.h"
#include "foundation/application_notifications.h"
#include "foundation/diagnostics.h"
#include "foundation/notification_center.h"
#include "kits/analytics/tally_events.h"
#include "model/persistence_controller.h"
#include "model/preferences.h"
#include "ui/alerts.h"
#include "ui/file_panels.h"
#include "ui/modal_response.h"
#include "ui/status_item.h"
#include "ui/widget_extensions.h"

#include <QAction>
#include <QClipboard>
#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QMenu>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QWidget>

namespace app {

namespace {

// The available area of the screen that shows `point`, else of the primary screen.
QRect availableAreaAt(QPointF point)
{
    QScreen* screen = QGuiApplication::screenAt(point.toPoint());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

} // namespace

AppDelegate::AppDelegate(Services services, QObject* parent) : QObject(parent), services_(std::move(services))
{
    refreshTimer_.setInterval(refreshIntervalMilliseconds);
    refreshTimer_.setSingleShot(false);
    connect(&refreshTimer_, &QTimer::timeout, this,
            [] { foundation::NotificationCenter::defaultCenter().post(refreshTimerFiredNotification); });
    if (QCoreApplication* application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, &AppDelegate::applicationWillTerminate);
    if (auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(application, &QGuiApplication::applicationStateChanged, this, &AppDelegate::applicationStateChanged);
    }
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching()
{
    if (debugMenuItem_)
        debugMenuItem_->setVisible(false);
    startKits();
    refreshTimer_.start();
    if (services_.settings.showsMenuIcon())
        setupStatusBarItem();
    if (!services_.settings.didShowMiniWindowHint())
        showMiniWindowHint();
}

void AppDelegate::applicationStateChanged(Qt::ApplicationState state)
{
    const bool active = state == Qt::ApplicationActive;
    // Inactive, hidden and suspended are all "not active": only the step across the line is told.
    if (active != active_) {
        active_ = active;
        // Qt tells of the change once it happened: the "will" and "did" of each step go out together.
        auto& center = foundation::NotificationCenter::defaultCenter();
        if (active) {
            center.post(foundation::ApplicationWillBecomeActiveNotification);
            center.post(foundation::ApplicationDidBecomeActiveNotification);
        } else {
            center.post(foundation::ApplicationWillResignActiveNotification);
            center.post(foundation::ApplicationDidResignActiveNotification);
        }
    }
    if (active)
        applicationDidBecomeActive();
}

void AppDelegate::applicationWillTerminate()
{
    foundation::NotificationCenter::defaultCenter().post(foundation::ApplicationWillTerminateNotification);
    services_.persistenceController.save();
    // Kit work in flight (the quit event being written, an upload) holds an activity; it gets a moment.
    foundation::ActivityRegister::waitUntilIdle(terminationActivityLimit);
}

void AppDelegate::setMainWindow(QWidget* window)
{
    if (mainWindow_)
        mainWindow_->removeEventFilter(this);
    mainWindow_ = window;
    if (mainWindow_)
        mainWindow_->installEventFilter(this);
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event)
{
    // The window may still refuse to close; whether it did shows once its own handling is over.
    if (watched == mainWindow_ && event->type() == QEvent::Close) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (mainWindow_ && !mainWindow_->isVisible())
                    mainWindowDidClose();
            },
            Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
}

void AppDelegate::mainWindowDidClose()
{
    // Unlike a desktop with a dock, Linux has no other way back to a window closed without a tray icon.
    if (!statusItem())
        terminate();
}

void AppDelegate::terminate()
{
    auto& store = services_.persistenceController;
    // The save also writes a removed store file anew, so it runs even without unsaved changes; and
    // the field being typed in is committed first, so it is saved too.
    if (store.saveWithEditInProgress() || !store.hasUnsavedChanges() || !mainWindow_) {
        if (store.hasUnsavedChanges())
            terminateWithoutAsking(); // no window to ask over: the recovery file keeps the changes
        services_.quit();
        return;
    }
    ui::bringToFront(*mainWindow_); // a closed window comes back to carry the question
    ui::Alert{ui::AlertStyle::warning,
              tr("Your changes could not be saved"),
              tr("%1\n\nIf you quit without saving, the changes since the last save are lost.")
                  .arg(QString::fromStdString(store.statusMessage())),
              {tr("Try Again"), tr("Save a Copy…"), tr("Quit Without Saving")}}
        .beginSheetModal(*mainWindow_, [this](ui::ModalResponse response) {
            switch (response) {
            case ui::alertFirstButtonReturn: terminate(); break;
            case ui::alertSecondButtonReturn: saveCopyThenQuit(); break;
            case ui::alertThirdButtonReturn: services_.quit(); break;
            default: break; // dismissed: the program keeps running with the changes
            }
        });
}

void AppDelegate::saveCopyThenQuit()
{
    if (!mainWindow_)
        return;
    const auto& storePath = services_.persistenceController.storePath();
    ui::SavePanel{tr("Save a Copy"),
                  QString::fromStdString(storePath.parent_path().string()),
                  tr("Projects Copy.horavine"),
                  {QStringLiteral("horavine")}}
        .beginSheetModal(*mainWindow_, [this](ui::ModalResponse response, const QString& path) {
            if (response != ui::modalResponseOK) {
                terminate(); // back to the question
                return;
            }
            const foundation::Status written = services_.persistenceController.writeCopy(path.toStdString());
            if (written.isOk()) {
                services_.quit();
                return;
            }
            if (!mainWindow_)
                return;
            ui::Alert{ui::AlertStyle::warning,
                      tr("The copy could not be saved"),
                      tr("%1 could not be written: %2").arg(path, QString::fromStdString(written.message())),
                      {}}
                .beginSheetModal(*mainWindow_, [this](ui::ModalResponse) { terminate(); });
        });
}

int AppDelegate::terminateWithoutAsking()
{
    auto& store = services_.persistenceController;
    // As at a quit from the menu, the field being typed in is committed and saved with the rest.
    if (store.saveWithEditInProgress() || !store.hasUnsavedChanges())
        return 0;
    if (const auto file = store.writeRecoveryFile(); file.hasValue())
        foundation::diagnostic("the store could not be saved; everything Horavine had open is in " + file->string());
    else
        foundation::diagnostic("the store could not be saved, nor a recovery file written (" + file.status().message()
                               + ")");
    return 1;
}

void AppDelegate::applicationDidBecomeActive()
{
    if (!isMiniWindowVisible())
        showMainWindow(true);
}

bool AppDelegate::applicationShouldHandleReopen()
{
    showMainWindow(false);
    return true;
}

void AppDelegate::showMainWindow(bool onlyIfVisible)
{
    if (mainWindow_ && (!onlyIfVisible || mainWindow_->isVisible()))
        ui::bringToFront(*mainWindow_);
}

void AppDelegate::setupStatusBarItem()
{
    if (!statusItem_) {
        if (!services_.makeStatusItem)
            return;
        statusItem_ = services_.makeStatusItem();
        statusItem_->setClickHandler([this] { statusItemClicked(); });
    }
    showsStatusItem_ = true;
    statusItem_->show();
}

void AppDelegate::removeStatusBarItem()
{
    showsStatusItem_ = false;
    if (statusItem_)
        statusItem_->hide();
}

ui::StatusItem* AppDelegate::statusItem() const
{
    return statusItem_ && statusItem_->isShown() ? statusItem_.get() : nullptr;
}

void AppDelegate::showMiniWindowHint()
{
    // The hint hangs below the tray item: without one nothing is shown and the flag stays unset for
    // the next launch.
    if (!statusItem() || hintPending_)
        return;
    hintPending_ = true;
    pollForHintIcon(services_.monotonicNow() + services_.hintIconWait);
}

void AppDelegate::pollForHintIcon(std::chrono::steady_clock::time_point deadline)
{
    ui::StatusItem* item = statusItem();
    if (!item) {
        hintPending_ = false; // the icon went away meanwhile: tried again at the next launch
        return;
    }
    // A tray places its icons a moment after they are shown; some never say where.
    const std::optional<QRect> icon = item->iconGeometry();
    if (!icon && services_.monotonicNow() < deadline) {
        QTimer::singleShot(100, this, [this, deadline] { pollForHintIcon(deadline); });
        return;
    }
    hintPending_ = false;
    if (icon) {
        miniWindowHint_ = std::make_unique<MiniWindowHintPopup>();
        miniWindowHint_->hintController()->closeCallback = [this] {
            if (miniWindowHint_)
                miniWindowHint_->close();
        };
        miniWindowHint_->showUnder(*icon, availableAreaAt(QRectF(*icon).center()));
    } else {
        item->showMessage(QStringLiteral("Horavine"), MiniWindowHintViewController::hintText());
    }
    services_.settings.setDidShowMiniWindowHint(true);
}

MiniWindowController& AppDelegate::miniWindowController()
{
    if (!miniWindowController_) {
        miniWindowController_ = std::make_unique<MiniWindowController>(
            &services_.persistenceController.managedObjectContext(), services_.monotonicNow);
        QMenu* menu = miniWindowController_->viewController()->actionMenu();
        menu->addAction(tr("Open Main Window"), this, &AppDelegate::openMainWindow);
        menu->addAction(tr("Preferences…"), this, &AppDelegate::openPreferencesWindow);
        menu->addSeparator();
        menu->addAction(tr("Quit Horavine"), this, &AppDelegate::terminate);
    }
    return *miniWindowController_;
}

bool AppDelegate::isMiniWindowVisible() const
{
    return miniWindowController_ && miniWindowController_->window()->isVisible();
}

void AppDelegate::placeMiniWindow(MiniWindowToggle source)
{
    MiniWindow& window = *miniWindowController_->window();
    window.layout()->activate(); // its size follows the content, also before it is first shown
    std::optional<QRect> icon = statusItem() ? statusItem_->iconGeometry() : std::nullopt;
    QRectF anchor;
    QRect available;
    if (icon) {
        anchor = QRectF(*icon);
        available = availableAreaAt(anchor.center());
    } else {
        // Without an icon rectangle: at the pointer when the icon was clicked, else in the corner.
        const bool fromIcon = source == MiniWindowToggle::statusItem && statusItem();
        const std::optional<QPointF> pointer = fromIcon ? std::optional<QPointF>(QCursor::pos()) : std::nullopt;
        QScreen* primary = QGuiApplication::primaryScreen();
        available = pointer ? availableAreaAt(*pointer) : primary ? primary->availableGeometry() : QRect();
        anchor = anchorWithoutIcon(pointer, QRectF(available));
    }
    const MiniWindowBackgroundView& background = *window.backgroundView();
    const MiniWindowPlacement placement = app::placeMiniWindow(anchor, QSizeF(window.size()), QRectF(available),
                                                               background.arrowSize(), background.cornerRadius());
    window.setArrow(placement.arrowEdge, placement.arrowTip);
    window.move(qRound(placement.topLeft.x()), qRound(placement.topLeft.y()));
}

void AppDelegate::openMiniWindow(MiniWindowToggle source)
{
    if (!statusItem_ || !showsStatusItem_)
        return;
    MiniWindowController& controller = miniWindowController();
    MiniWindow& window = *controller.window();
    placeMiniWindow(source);
    if (window.isVisible() || controller.closedByResignKeyWithin(MiniWindowController::toggleAfterCloseWindow)) {
        // A panel that closed itself a moment ago lost the focus to the tray's own press: this click
        // meant to close it, and it stays closed.
        controller.forgetResignKeyClose();
        window.close();
        kits::TallyEvents::trackCloseMiniWindow();
        return;
    }
    // Shown and activated, the panel is above the other windows; the main window is left where it is.
    window.show();
    window.raise();
    window.activateWindow();
    kits::TallyEvents::trackOpenMiniWindow();
}

void AppDelegate::statusItemClicked()
{
    openMiniWindow(MiniWindowToggle::statusItem);
}

void AppDelegate::openMainWindow()
{
    showMainWindow(false);
}

void AppDelegate::about()
{
    if (!aboutWindow_) {
        aboutWindow_ = std::make_unique<AboutWindow>(infoDictionary());
        kits::TallyEvents::trackViewAboutWindow();
    }
    aboutWindow_->show();
    aboutWindow_->raise();
}

void AppDelegate::checkForUpdates()
{
    if (services_.updater)
        services_.updater->checkForUpdates(mainWindow_);
}

void AppDelegate::openPreferencesWindow()
{
    if (!preferencesWindow_) {
        preferencesWindow_ =
            std::make_unique<PreferencesWindow>(services_.settings, services_.updater, [this](bool showsMenuIcon) {
                if (showsMenuIcon)
                    setupStatusBarItem();
                else
                    removeStatusBarItem();
            });
    }
    ui::bringToFront(*preferencesWindow_);
    kits::TallyEvents::trackOpenPreferencesWindow();
}

void AppDelegate::sendSupportEmail()
{
    const std::string* address = infoString(infoDictionary(), "AppSupportEmail");
    if (!address)
        return;
    std::optional<QUrl> link = linkFromText("mailto:" + *address);
    if (!link)
        return;
    openOrWarn(*link, QString::fromStdString(*address));
    kits::TallyEvents::trackOpenSupportMail();
}

void AppDelegate::openWebsite()
{
    if (openURL("AppWebsiteURL", infoDictionary(),
                [this](const QUrl& link) { return openOrWarn(link, link.toString()); }))
        kits::TallyEvents::trackOpenWebsite();
}

void AppDelegate::rateOnAppStore()
{
    if (openURL("AppStoreURL", infoDictionary(),
                [this](const QUrl& link) { return openOrWarn(link, link.toString()); }))
        kits::TallyEvents::trackRateApp();
}

bool AppDelegate::openOrWarn(const QUrl& link, const QString& address)
{
    if (services_.openLink(link))
        return true;
    const bool mail = link.scheme() == QLatin1String("mailto");
    const ui::Alert alert{
        .alertStyle = ui::AlertStyle::warning,
        .messageText = mail ? tr("No mail program could be started") : tr("No program could open the link"),
        .informativeText = (mail ? tr("Write to this address with the mail program you use:\n%1")
                                 : tr("Open this address in the program you use for it:\n%1"))
                               .arg(address),
        .buttons = {tr("Copy Address"), tr("OK")},
    };
    auto completion = [address](ui::ModalResponse response) {
        if (response == ui::alertFirstButtonReturn)
            QGuiApplication::clipboard()->setText(address);
    };
    if (mainWindow_ && mainWindow_->isVisible()) {
        alert.beginSheetModal(*mainWindow_, completion);
    } else {
        // Without a window on screen there is nothing to hang the alert on: it stands alone.
        ui::runWarningAlert(nullptr, alert.messageText, alert.informativeText);
    }
    return false;
}

void AppDelegate::debugCrash()
{
    crashForDebugging();
}

} // namespace app
