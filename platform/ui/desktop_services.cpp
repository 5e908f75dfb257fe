// Opening through QDesktopServices; revealing through an asynchronous D-Bus call whose failure
// falls back to opening the folder.
#include "ui/desktop_services.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

namespace ui {

namespace {

constexpr const char* fileManagerService = "org.freedesktop.FileManager1";
constexpr const char* fileManagerPath = "/org/freedesktop/FileManager1";
constexpr const char* fileManagerInterface = "org.freedesktop.FileManager1";
// Long enough for a file manager started by the bus to come up; past it the folder opens instead.
constexpr int fileManagerTimeoutMilliseconds = 10'000;

} // namespace

bool openWithDesktop(const QUrl& link)
{
    return QDesktopServices::openUrl(link);
}

QUrl containingFolder(const QUrl& file)
{
    return QUrl::fromLocalFile(QFileInfo(file.toLocalFile()).absolutePath());
}

void revealInFileManager(const QUrl& file, const QDBusConnection& bus, LinkOpener openFolder)
{
    auto fallBack = [file, openFolder = std::move(openFolder)] {
        if (openFolder)
            openFolder(containingFolder(file));
    };
    if (!bus.isConnected()) {
        fallBack();
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromLatin1(fileManagerService), QString::fromLatin1(fileManagerPath),
                                       QString::fromLatin1(fileManagerInterface), QStringLiteral("ShowItems"));
    call << QStringList{file.toString(QUrl::FullyEncoded)} << QString();
    auto* watcher =
        new QDBusPendingCallWatcher(bus.asyncCall(call, fileManagerTimeoutMilliseconds), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [fallBack = std::move(fallBack)](QDBusPendingCallWatcher* finished) {
                         if (finished->isError())
                             fallBack();
                         finished->deleteLater();
                     });
}

void revealInFileManager(const QUrl& file, LinkOpener openFolder)
{
    revealInFileManager(file, QDBusConnection::sessionBus(), std::move(openFolder));
}

} // namespace ui
