#pragma once

#include <QAbstractHttpServer>
#include <QStringList>

#include "controlroom/RoomOptions.h"
#include "controlroom/UpgradeGate.h"

class PageClients;

// The page: its files, built into the program, and the WebSocket the page
// opens on "/socket". Only the page's own host names are answered, so a page
// of another site that a browser was made to send here (DNS rebinding) gets
// nothing.
class PageServer : public QAbstractHttpServer {
    Q_OBJECT

public:
    PageServer(PageClients& clients, const ListenAddress& address, const QByteArray& key,
               QObject* parent = nullptr);

    // False, with the reason in `error`, when the address cannot be taken.
    bool listen(const ListenAddress& address, QString* error);

    static const QByteArray policy;  // the content security policy every file is served with

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    void accept();

    PageClients& clients;
    UpgradeGate gate;
};

// Whether a "host:port" text names a server listening on `address`: the
// address itself; on loopback also "localhost"; beyond it, the machine's host
// name (and its ".local" form); on every address, each address the machine
// has at that moment (one that came up after the start included) and the
// loopback names.
bool servesHost(const ListenAddress& address, const QString& hostPort);
