#include "controlroom/Recorders.h"

#include <QDebug>
#include <QNetworkInterface>
#include <QTimer>
#include <QWebSocket>

#include "controlroom/SocketLimits.h"

Recorders::Recorders(QObject* parent) : QObject(parent), watchdog(new QTimer(this)) {
    connect(watchdog, &QTimer::timeout, this, &Recorders::watch);
    watchdog->start(1000);
}

Recorders::~Recorders() {
    for (const auto& link : links) {
        link->socket->disconnect(this);
        link->socket->abort();
        delete link->socket;
    }
}

Recorders::Recorder* Recorders::place(const QString& key, const QString& label) {
    for (Recorder& r : recorders) {
        if (r.key != key) continue;
        if (!r.socket) return &r;
        // The same recorder again, before its old link was seen to go: that
        // one has gone quiet. Two that both speak (two unnamed recorders
        // behind one address) are two places.
        const auto old = std::find_if(links.begin(), links.end(),
                                      [&r](const auto& l) { return l->socket == r.socket; });
        if (old != links.end() && (*old)->heard.elapsed() >= takeOverMs) {
            gone(r.socket);
            return &r;
        }
    }
    if (recorders.size() >= maxPlaces) {
        const auto oldest = std::max_element(
            recorders.begin(), recorders.end(), [](const Recorder& a, const Recorder& b) {
                const auto awayFor = [](const Recorder& r) {
                    return r.socket || r.expected ? -1 : r.away.elapsed();
                };
                return awayFor(a) < awayFor(b);
            });
        if (oldest->socket || oldest->expected) return nullptr;
        const int id = oldest->id;
        recorders.erase(oldest);
        Q_EMIT forgotten(id);
    }
    recorders.push_back({nextId++, key, label, nullptr, std::nullopt, false, {}});
    return &recorders.back();
}

Recorders::Recorder* Recorders::byId(int id) {
    for (Recorder& r : recorders)
        if (r.id == id) return &r;
    return nullptr;
}

const Recorders::Recorder* Recorders::find(int id) const {
    return const_cast<Recorders*>(this)->byId(id);
}

void Recorders::expect(const QString& instance) {
    if (Recorder* r = place(instance, instance)) {
        r->expected = true;
        Q_EMIT updated(r->id);
    }
}

void Recorders::attach(QWebSocket* socket) {
    if (!adopt(socket, links.size(), maxLinks, maxMessage, "recorder link")) return;
    auto* link = links.emplace_back(std::make_unique<Link>()).get();
    link->socket = socket;
    link->heard.start();
    connect(socket, &QWebSocket::textMessageReceived, this,
            [this, link](const QString& text) { received(*link, text); });
    connect(socket, &QWebSocket::disconnected, this, [this, socket] { gone(socket); });
}

void Recorders::received(Link& link, const QString& text) {
    if (!link.budget.take()) return;
    const auto message = jsonObject(text.toUtf8());
    auto status = message ? parseStatus(*message) : std::nullopt;
    // Nonsense from a recorder changes nothing; one that sends only nonsense
    // is let go as a silent one.
    if (!status || (!status->instance.isEmpty() && !validInstance(status->instance))) return;
    link.heard.start();
    if (!link.recorder) {
        const QHostAddress peer = link.socket->peerAddress();
        const bool local = peer.isLoopback() || QNetworkInterface::allAddresses().contains(peer);
        const QString name =
            status->instance.isEmpty() ? QStringLiteral("Tessaly") : status->instance;
        const QString where = local ? QString() : QStringLiteral(" on ") + peer.toString();
        QWebSocket* socket = link.socket;
        Recorder* r = place(status->instance + where, name + where);
        if (!r) {
            socket->abort();
            return;
        }
        r->socket = socket;
        link.recorder = r->id;
        qInfo().noquote() << QStringLiteral("room: recorder %1 connected").arg(r->label);
    }
    Recorder* r = byId(link.recorder);
    r->status = std::move(status);
    Q_EMIT updated(r->id);
}

void Recorders::gone(QWebSocket* socket) {
    const auto at = std::find_if(links.begin(), links.end(),
                                 [socket](const auto& l) { return l->socket == socket; });
    if (at == links.end()) return;
    const int id = (*at)->recorder;
    links.erase(at);
    socket->disconnect(this);
    socket->deleteLater();
    Recorder* r = byId(id);
    if (!r) return;
    r->socket = nullptr;
    r->status.reset();
    r->away.start();
    qInfo().noquote() << QStringLiteral("room: recorder %1 went away").arg(r->label);
    Q_EMIT updated(id);
}

bool Recorders::send(int id, const LinkCommand& command) {
    const Recorder* r = find(id);
    if (!r || !r->socket) return false;
    r->socket->sendTextMessage(QString::fromUtf8(commandText(command)));
    return true;
}

void Recorders::recordAll(bool on) {
    LinkCommand record;
    record.type = LinkCommand::Type::record;
    record.on = on;
    for (const Recorder& r : recorders)
        if (r.socket) send(r.id, record);
}

void Recorders::watch() {
    // A recorder that has said nothing for seconds is gone, closed or not.
    std::vector<QWebSocket*> silent;
    for (const auto& link : links)
        if (link->heard.elapsed() > silenceMs) silent.push_back(link->socket);
    for (QWebSocket* s : silent) {
        s->abort();
        gone(s);
    }
}
