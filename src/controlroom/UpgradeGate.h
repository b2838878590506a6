#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

class QHttpServerRequest;
class QWebSocket;

// What a WebSocket upgrade asked for, as far as the gate looks.
struct UpgradeRequest {
    QString path;
    QString origin;  // empty when none was sent
    QString host;    // the Host header, lower case
    QByteArray key;  // the "key" of the query
    QString peer;    // for the log

    // Before the handshake: the page's server sees the request itself.
    static UpgradeRequest of(const QHttpServerRequest& request);
    // After it: the link's server shows only the socket it made.
    static UpgradeRequest of(const QWebSocket& socket);
};

// Decides whether a WebSocket may be opened: the one path served, the
// page's own Origin and Host (a browser) or no Origin at all (a recorder),
// and the access key when one is asked for. The page's upgrades are refused
// before their handshake; the link's server (Qt WebSockets) refuses an
// Origin before it too, and the rest right after: closed at once, nothing
// sent, nothing read.
class UpgradeGate {
public:
    struct Rules {
        QString path;          // the only path served
        bool browser = false;  // true: the page's own Origin is required; false: none may be sent
        // Whether a "host:port" text names this server (the Host header, and
        // the Origin after its "http://").
        std::function<bool(const QString&)> knownHost;
        QByteArray key;  // required as "key" in the query when not empty
    };

    explicit UpgradeGate(Rules r) : rules(std::move(r)) {}

    // Empty when the upgrade may go on, else why not.
    QString refusal(const UpgradeRequest& request) const;
    bool knowsHost(const QString& host) const { return rules.knownHost(host.toLower()); }
    // Whether it may, saying in the log why not.
    bool admit(const UpgradeRequest& request, const char* what) const;

private:
    Rules rules;
};
