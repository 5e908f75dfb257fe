// The local-socket handshake between launches of the same store.
#include "app/single_instance.h"

#include <QCryptographicHash>
#include <QLocalSocket>

#include <unistd.h>

namespace app {

namespace {
constexpr int handshakeTimeoutMilliseconds = 2000;
const QByteArray reopenMessage = QByteArrayLiteral("reopen\n");
} // namespace

QString SingleInstance::serverName(const std::filesystem::path& storePath)
{
    const QByteArray path = QByteArray::fromStdString(std::filesystem::absolute(storePath).lexically_normal().string());
    const QByteArray digest = QCryptographicHash::hash(path, QCryptographicHash::Sha256).toHex().left(24);
    return QStringLiteral("horavine-%1-%2").arg(::getuid()).arg(QString::fromLatin1(digest));
}

bool SingleInstance::handToRunningInstance(const QString& name)
{
    QLocalSocket socket;
    socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    socket.connectToServer(name);
    if (!socket.waitForConnected(handshakeTimeoutMilliseconds))
        return false;
    socket.write(reopenMessage);
    const bool sent = socket.waitForBytesWritten(handshakeTimeoutMilliseconds);
    socket.disconnectFromServer();
    return sent;
}

bool SingleInstance::listen(const QString& name)
{
    server_.setSocketOptions(QLocalServer::AbstractNamespaceOption);
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine())
                    return;
                if (socket->readLine() == reopenMessage)
                    emit reopenRequested();
                socket->disconnectFromServer();
            });
        }
    });
    return server_.listen(name);
}

} // namespace app
