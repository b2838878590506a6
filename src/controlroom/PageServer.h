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
    // `hosts`: the "host:port" texts this server may be reached by.
    PageServer(PageClients& clients, QStringList hosts, const QByteArray& key,
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
    QStringList hosts;
    UpgradeGate gate;
};

// The "host:port" texts a server listening on `address` is reached by: the
// address itself, and for loopback "localhost"; on every address, each of the
// machine's addresses and its host names.
QStringList hostNames(const ListenAddress& address);
