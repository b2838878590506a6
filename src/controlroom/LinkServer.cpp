#include "controlroom/LinkServer.h"

#include <QWebSocket>
#include <QWebSocketCorsAuthenticator>
#include <QWebSocketServer>

#include "controlroom/Recorders.h"

LinkServer::LinkServer(Recorders& r, const QByteArray& key, QObject* parent)
    : QObject(parent),
      recorders(r),
      server(new QWebSocketServer(QStringLiteral("tessaly-room"), QWebSocketServer::NonSecureMode,
                                  this)),
      gate({QStringLiteral("/tessaly"), false, nullptr, key}) {
    // A recorder sends no Origin; a browser always does.
    connect(server, &QWebSocketServer::originAuthenticationRequired, this,
            [](QWebSocketCorsAuthenticator* a) { a->setAllowed(a->origin().isEmpty()); });
    connect(server, &QWebSocketServer::newConnection, this, &LinkServer::accept);
}

bool LinkServer::listen(const ListenAddress& address, QString* error) {
    if (server->listen(address.host, address.port)) return true;
    *error = QStringLiteral("cannot listen for recorders on %1: %2")
                 .arg(address.text(), server->errorString());
    return false;
}

ListenAddress LinkServer::address() const {
    return {server->serverAddress(), server->serverPort()};
}

void LinkServer::accept() {
    while (QWebSocket* socket = server->nextPendingConnection()) {
        if (gate.admit(UpgradeRequest::of(*socket), "recorder link")) {
            recorders.attach(socket);
        } else {
            socket->abort();
            socket->deleteLater();
        }
    }
}
