// The application shell's launch sequence, tray item, windows and menu actions.
#include "app/app_delegate.h"

#include "app/about_window.h"
#include "app/info_dictionary.h"
#include "app/kits.h"
#include "app/preferences_window.h"
#include "app/updater.h"
#include "foundation/diagnostics.h"
#include "foundation/notification_center.h"
#include "kits/analytics/tally_events.h"
#include "model/persistence_controller.h"
#include "model/preferences.h"
#include "ui/alerts.h"
#include "ui/file_panels.h"
#include "ui/modal_response.h"
#include "ui/status_item.h"

#include <QAction>
#include <QClipboard>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QUrl>
#include <QWidget>

namespace app {

namespace {

void raise(QWidget& window)
{
    if (window.isMinimized())
        window.showNormal();
    else
        window.show();
    window.raise();
    window.activateWindow();
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

void AppDelegate::applicationWillTerminate()
{
    services_.persistenceController.save();
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
    // save() also writes a removed store file anew, so it runs even without unsaved changes.
    if (store.save() || !store.hasUnsavedChanges() || !mainWindow_) {
        if (store.hasUnsavedChanges())
            terminateWithoutAsking(); // no window to ask over: the recovery file keeps the changes
        services_.quit();
        return;
    }
    raise(*mainWindow_); // a closed window comes back to carry the question
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
    if (store.save() || !store.hasUnsavedChanges())
        return 0;
    if (const auto file = store.writeRecoveryFile(); file.hasValue())
        foundation::diagnostic("the store could not be saved; everything Horavine had open is in " + file->string());
    else
        foundation::diagnostic("the store could not be saved, nor a recovery file written (" + file.status().message()
                               + ")");
    return 1;
}

bool AppDelegate::applicationShouldHandleReopen()
{
    showMainWindow(false);
    return true;
}

void AppDelegate::showMainWindow(bool onlyIfVisible)
{
    if (mainWindow_ && (!onlyIfVisible || mainWindow_->isVisible()))
        raise(*mainWindow_);
}

void AppDelegate::setupStatusBarItem()
{
    if (!statusItem_) {
        if (!services_.makeStatusItem)
            return;
        statusItem_ = services_.makeStatusItem();
        statusItem_->setClickHandler([this] { statusItemClicked(); });
    }
    statusItem_->show();
}

void AppDelegate::removeStatusBarItem()
{
    if (statusItem_)
        statusItem_->hide();
}

ui::StatusItem* AppDelegate::statusItem() const
{
    return statusItem_ && statusItem_->isShown() ? statusItem_.get() : nullptr;
}

void AppDelegate::showMiniWindowHint()
{
    // The hint hangs below the tray item, so without one nothing is shown and the flag stays unset
    // for the next launch. The hint's popover arrives with the mini window; until then it is never
    // shown, and the flag is written only by the code that really shows it.
    if (!statusItem())
        return;
}

void AppDelegate::statusItemClicked()
{
    // Until the mini window exists, the tray item brings up the main window.
    showMainWindow(false);
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
    raise(*preferencesWindow_);
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
