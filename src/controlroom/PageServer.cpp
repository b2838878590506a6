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

QStringList hostNames(const ListenAddress& address) {
    QList<QHostAddress> addresses{address.host};
    QStringList names;
    if (address.loopback()) {
        names << QStringLiteral("localhost");
    } else {
        names << QHostInfo::localHostName().toLower()
              << QHostInfo::localHostName().toLower() + QStringLiteral(".local");
    }
    if (address.host == QHostAddress::Any || address.host == QHostAddress::AnyIPv4 ||
        address.host == QHostAddress::AnyIPv6) {
        addresses = QNetworkInterface::allAddresses();
    }
    const QString port = QString::number(address.port);
    QStringList hosts;
    for (const QHostAddress& a : addresses) {
        if (a.isNull() || a.isLinkLocal()) continue;
        hosts << ListenAddress{a, address.port}.text();
    }
    for (const QString& n : names) hosts << n + u':' + port;
    return hosts;
}

PageServer::PageServer(PageClients& c, QStringList h, const QByteArray& key, QObject* parent)
    : QAbstractHttpServer(parent),
      clients(c),
      hosts(h),
      gate({QStringLiteral("/socket"), true, std::move(h), key}) {
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
    if (!request.value("upgrade").isEmpty())
        return gate.admit(UpgradeRequest::of(request), "page socket");
    QHttpServerResponder responder = makeResponder(request, socket);
    if (!hosts.contains(QString::fromLatin1(request.value("host")).toLower())) {
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
