#include "controlroom/RoomOptions.h"

#include <QUrl>

ListenAddress ListenAddress::parse(const QString& text) {
    const QUrl url(QStringLiteral("ws://") + text, QUrl::StrictMode);
    const int port = url.port();
    if (!url.isValid() || !url.path().isEmpty() || port <= 0) return {};
    const QString host = url.host();
    QHostAddress address(host);
    if (host == u"localhost") address = QHostAddress(QHostAddress::LocalHost);
    if (address.isNull()) return {};
    return {address, static_cast<quint16>(port)};
}

QString ListenAddress::text() const {
    const QString h = host.protocol() == QAbstractSocket::IPv6Protocol
                          ? u'[' + host.toString() + u']'
                          : host.toString();
    return h + u':' + QString::number(port);
}

RoomOptions RoomOptions::parse(const QStringList& args) {
    RoomOptions o;
    const qsizetype dashes = args.indexOf(QStringLiteral("--"));
    const qsizetype end = dashes < 0 ? args.size() : dashes;
    if (dashes >= 0) o.engineArgs = args.mid(dashes + 1);
    for (qsizetype at = 1; at < end; ++at) {
        const QString& a = args[at];
        const QString value = at + 1 < end ? args[at + 1] : QString();
        if (a == u"--link" || a == u"--listen") {
            const ListenAddress address = ListenAddress::parse(value);
            if (address.host.isNull()) o.error = a + QStringLiteral(" takes ADDRESS:PORT");
            (a == u"--link" ? o.link : o.page) = address;
            ++at;
        } else if (a == u"--recorders") {
            bool ok = false;
            o.recorders = value.toInt(&ok);
            if (!ok || o.recorders < 1 || o.recorders > 16)
                o.error = QStringLiteral("--recorders takes a number from 1 to 16");
            ++at;
        } else if (a == u"--engine") {
            o.engine = value;
            if (value.isEmpty()) o.error = QStringLiteral("--engine takes a program");
            ++at;
        } else if (a == u"--no-engine") {
            o.startEngines = false;
        } else if (a == u"--help") {
            o.help = true;
        } else if (a == u"--version") {
            o.version = true;
        } else {
            o.error = QStringLiteral("unknown switch %1 (recorder switches go after --)").arg(a);
        }
    }
    return o;
}

QString roomUsage() {
    return QStringLiteral(
        "Usage: tessaly-room [--link ADDRESS:PORT] [--listen ADDRESS:PORT] [--no-engine]\n"
        "                    [--recorders N] [--engine PROGRAM] [-- RECORDER SWITCHES]\n"
        "\n"
        "The Control Room: serves the link Tessaly recorders connect to, starts a\n"
        "headless recorder as its child, and serves a page that shows and drives\n"
        "every connected recorder from a browser.\n"
        "\n"
        "  --link ADDRESS:PORT    where recorders connect (default 127.0.0.1:4777)\n"
        "  --listen ADDRESS:PORT  the page (default 127.0.0.1:8477); any address but\n"
        "                         loopback asks for the access key\n"
        "  --no-engine            start no recorder: only serve\n"
        "  --recorders N          headless recorders to start, each its own instance\n"
        "                         (default 1)\n"
        "  --engine PROGRAM       the recorder program (default: tessaly beside this one)\n"
        "  -- SWITCHES            given to each recorder (-- --backend demo tries\n"
        "                         everything without hardware)\n"
        "  --help, --version\n");
}
