#include "instance_activation.h"

#include <QLocalServer>
#include <QLocalSocket>

namespace quellin {

ActivationServer::ActivationServer(const QString& socketPath, QObject* parent)
    : QObject(parent), server_(new QLocalServer(this)) {
    // The lock is ours, so a socket file left by a crashed instance is stale.
    QLocalServer::removeServer(socketPath);
    server_->listen(socketPath);
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_->nextPendingConnection()) {
            peer->disconnectFromServer();
            peer->deleteLater();
            emit activationRequested();
        }
    });
}

bool RequestActivation(const QString& socketPath, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.disconnectFromServer();
    return true;
}

}  // namespace quellin
