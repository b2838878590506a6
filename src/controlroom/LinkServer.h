#pragma once

#include <QObject>
#include <QString>

#include "controlroom/RoomOptions.h"
#include "controlroom/UpgradeGate.h"

class QWebSocketServer;
class Recorders;

// Where recorders connect: a WebSocket server on the path "/tessaly". A
// browser never gets through (any connection that carries an Origin is
// refused before its handshake), and beyond loopback the access key is
// asked for.
class LinkServer : public QObject {
    Q_OBJECT

public:
    LinkServer(Recorders& recorders, const QByteArray& key, QObject* parent = nullptr);

    // False, with the reason in `error`, when the address cannot be taken.
    bool listen(const ListenAddress& address, QString* error);
    ListenAddress address() const;

private:
    void accept();

    Recorders& recorders;
    QWebSocketServer* server;
    UpgradeGate gate;
};
