#include "controlroom/PageServer.h"

#include <QFile>
#include <QHostInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QNetworkInterface>
#include <QWebSocket>

#include "controlroom/PageClients.h"

const QByteArray PageServer::policy =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "connect-src 'self'; object-src 'none'; base-uri 'none'; frame-ancestors 'none'";

namespace {

struct PageFile {
    const char* path;
    const char* resource;
    const char* type;
};
constexpr PageFile files[] = {
    {"/", ":/page/index.html", "text/html; charset=utf-8"},
    {"/room.js", ":/page/room.js", "text/javascript; charset=utf-8"},
    {"/room.css", ":/page/room.css", "text/css; charset=utf-8"},
    {"/icon.svg", ":/page/icon.svg", "image/svg+xml"},
};

}  // namespace

bool servesHost(const ListenAddress& address, const QString& hostPort) {
    const qsizetype colon = hostPort.lastIndexOf(u':');
    if (colon < 0 || hostPort.mid(colon + 1) != QString::number(address.port)) return false;
    QString name = hostPort.left(colon).toLower();
    if (name.startsWith(u'[') && name.endsWith(u']')) name = name.mid(1, name.size() - 2);
    const QHostAddress literal(name);
    const bool anywhere = address.wildcard();
    if (!literal.isNull() && literal == address.host && !anywhere) return true;
    if (address.loopback() || anywhere) {
        if (name == u"localhost" || (!literal.isNull() && literal.isLoopback())) return true;
    }
    if (!address.loopback()) {
        const QString machine = QHostInfo::localHostName().toLower();
        if (name == machine || name == machine + QStringLiteral(".local")) return true;
    }
    return anywhere && !literal.isNull() && QNetworkInterface::allAddresses().contains(literal);
}

PageServer::PageServer(PageClients& c, const ListenAddress& address, const QByteArray& key,
                       QObject* parent)
    : QAbstractHttpServer(parent),
      clients(c),
      gate({QStringLiteral("/socket"), true,
            [address](const QString& host) { return servesHost(address, host); }, key}) {
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &PageServer::accept);
}

bool PageServer::listen(const ListenAddress& address, QString* error) {
    if (QAbstractHttpServer::listen(address.host, address.port) == address.port) return true;
    *error = QStringLiteral("cannot serve the page on %1").arg(address.text());
    return false;
}

bool PageServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    // An upgrade goes on when this answers true and writes nothing; false
    // refuses it before its handshake.
    const QByteArray upgrade = request.value("upgrade").toLower();
    if (upgrade == "websocket") return gate.admit(UpgradeRequest::of(request), "page socket");
    if (!upgrade.isEmpty()) return false;
    QHttpServerResponder responder = makeResponder(request, socket);
    if (!gate.knowsHost(QString::fromLatin1(request.value("host")))) {
        responder.write(QHttpServerResponder::StatusCode::Forbidden);
        return true;
    }
    if (request.method() != QHttpServerRequest::Method::Get) {
        responder.write(QHttpServerResponder::StatusCode::MethodNotAllowed);
        return true;
    }
    const QString path = request.url().path();
    for (const PageFile& f : files) {
        if (path != QLatin1StringView(f.path)) continue;
        QFile file(QString::fromLatin1(f.resource));
        file.open(QIODevice::ReadOnly);
        responder.write(file.readAll(), {{"Content-Type", f.type},
                                         {"Content-Security-Policy", policy},
                                         {"X-Content-Type-Options", "nosniff"},
                                         {"Referrer-Policy", "no-referrer"},
                                         {"Cache-Control", "no-cache"}});
        return true;
    }
    return false;
}

void PageServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    const bool refused = !request.value("upgrade").isEmpty();
    makeResponder(request, socket)
        .write(refused ? QHttpServerResponder::StatusCode::Forbidden
                       : QHttpServerResponder::StatusCode::NotFound);
}

void PageServer::accept() {
    // Each was admitted before its handshake.
    while (hasPendingWebSocketConnections())
        clients.attach(nextPendingWebSocketConnection().release());
}
