// The local-socket handshake between launches of the same store, with its private folder and the
// peer's user checked on both ends.
#include "app/single_instance.h"
#include "foundation/diagnostics.h"

#include <QCryptographicHash>
#include <QLocalSocket>

#include <cstdlib>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace app {

namespace {

constexpr int handshakeTimeoutMilliseconds = 2000;
const QByteArray reopenMessage = QByteArrayLiteral("reopen\n");

// A real folder (not a link) of this user that no one else may enter.
bool isPrivateFolder(const std::filesystem::path& folder)
{
    struct stat status {};
    return ::lstat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::getuid()
           && (status.st_mode & 077) == 0;
}

// The peer of a connected local socket runs as this user.
bool peerIsThisUser(qintptr descriptor)
{
    struct ucred credentials {};
    socklen_t length = sizeof credentials;
    if (::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return false;
    return credentials.uid == ::getuid();
}

} // namespace

std::optional<std::filesystem::path> SingleInstance::socketFolder()
{
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/') {
        if (isPrivateFolder(runtime))
            return std::filesystem::path(runtime);
    }
    std::filesystem::path cache;
    if (const char* cacheHome = std::getenv("XDG_CACHE_HOME"); cacheHome && *cacheHome == '/')
        cache = cacheHome;
    else if (const char* home = std::getenv("HOME"); home && *home)
        cache = std::filesystem::path(home) / ".cache";
    else
        return std::nullopt;
    const std::filesystem::path folder = cache / "horavine" / "instances";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    ::chmod(folder.c_str(), 0700);
    if (!isPrivateFolder(folder))
        return std::nullopt;
    return folder;
}

QString SingleInstance::serverName(const std::filesystem::path& storePath)
{
    std::error_code ec;
    std::filesystem::path canonical = std::filesystem::weakly_canonical(std::filesystem::absolute(storePath), ec);
    if (ec)
        canonical = std::filesystem::absolute(storePath).lexically_normal();
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray::fromStdString(canonical.string()), QCryptographicHash::Sha256)
            .toHex()
            .left(24);
    const QString name = QStringLiteral("horavine-%1.socket").arg(QString::fromLatin1(digest));
    const auto folder = socketFolder();
    if (!folder) {
        foundation::diagnostic("no private folder for the instance socket; every launch starts on its own");
        return {};
    }
    return QString::fromStdString((*folder / name.toStdString()).string());
}

bool SingleInstance::handToRunningInstance(const QString& name)
{
    if (name.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(handshakeTimeoutMilliseconds))
        return false;
    if (!peerIsThisUser(socket.socketDescriptor())) {
        foundation::diagnostic("the instance socket " + name.toStdString()
                               + " belongs to another user; it is not used");
        socket.abort();
        return false;
    }
    socket.write(reopenMessage);
    const bool sent = socket.waitForBytesWritten(handshakeTimeoutMilliseconds);
    socket.disconnectFromServer();
    return sent;
}

bool SingleInstance::listen(const QString& name)
{
    if (name.isEmpty())
        return false;
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            if (!peerIsThisUser(socket->socketDescriptor())) {
                socket->abort();
                continue;
            }
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine())
                    return;
                if (socket->readLine() == reopenMessage)
                    emit reopenRequested();
                socket->disconnectFromServer();
            });
        }
    });
    // No access options: with them Qt renames its socket into place over a live one. The folder
    // is private already.
    if (server_.listen(name))
        return true;
    if (server_.serverError() != QAbstractSocket::AddressInUseError)
        return false;
    // A launch of ours that won the race keeps the name. Otherwise it is a crashed instance's
    // socket or one another user placed in our folder: the name is taken over.
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(handshakeTimeoutMilliseconds) && peerIsThisUser(probe.socketDescriptor()))
        return false;
    probe.abort();
    QLocalServer::removeServer(name);
    return server_.listen(name);
}

} // namespace app
