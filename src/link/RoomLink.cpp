#include "link/RoomLink.h"

#include <QHostAddress>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>

#include "base/Settings.h"
#include "link/LinkMessages.h"
#include "protocol/AccessKey.h"
#include "room/RoomCommands.h"
#include "room/RoomState.h"

RoomLink::RoomLink(const RoomState& s, RoomCommands& c, LinkTiming t, QObject* parent)
    : QObject(parent), state(s), commands(c), timing(t) {}

RoomLink::~RoomLink() {
    if (!socket) return;
    socket->disconnect(this);  // no loss to report, no retry to schedule
    socket->abort();
}

void RoomLink::start() {
    connect();
    statusTimer = new QTimer(this);
    QObject::connect(statusTimer, &QTimer::timeout, this, &RoomLink::sendStatus);
    statusTimer->start(timing.statusMs);
    watchdog = new QTimer(this);
    QObject::connect(watchdog, &QTimer::timeout, this, &RoomLink::watch);
    watchdog->start(timing.watchMs);
}

void RoomLink::connect() {
    if (socket) {
        socket->disconnect(this);  // its late signals belong to an old generation
        socket->abort();
        socket->deleteLater();
        socket = nullptr;
    }
    const qint64 g = ++generation;
    QUrl url(QStringLiteral("ws://") + Settings().server() + QStringLiteral("/tessaly"),
             QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()) return;  // idle until the next launch
    // A room that listens beyond this machine asks for its key: the one it
    // gave its child, else this user's copy, never sent to one on loopback.
    const bool loopback = url.host() == u"localhost" || QHostAddress(url.host()).isLoopback();
    if (const QByteArray key = accessKey::forLink(loopback); !key.isEmpty())
        url.setQuery(QStringLiteral("key=") + QString::fromLatin1(key));

    socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    socket->setMaxAllowedIncomingMessageSize(maxMessage);
    socket->setMaxAllowedIncomingFrameSize(maxMessage);
    QObject::connect(socket, &QWebSocket::connected, this, [this] {
        heard.start();
        pinged.start();
        setConnected(true);
    });
    QObject::connect(socket, &QWebSocket::disconnected, this, [this, g] { lost(g); });
    QObject::connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
                     [this, g] { lost(g); });
    QObject::connect(socket, &QWebSocket::textMessageReceived, this,
                     [this](const QString& message) {
                         heard.start();
                         received(message.toUtf8());
                     });
    QObject::connect(socket, &QWebSocket::binaryMessageReceived, this, [this] { heard.start(); });
    QObject::connect(socket, &QWebSocket::pong, this, [this] { heard.start(); });
    ++attemptCount;
    socket->open(url);
}

void RoomLink::lost(qint64 g) {
    setConnected(false);
    retry(g);
}

void RoomLink::retry(qint64 g) {
    QTimer::singleShot(timing.retryMs, this, [this, g] {
        if (generation == g) connect();
    });
}

void RoomLink::setConnected(bool on) {
    linked = on;
    // The engine hears of it from the main loop, as every other change.
    QMetaObject::invokeMethod(
        this, [this, on] { commands.setLinkConnected(on); }, Qt::QueuedConnection);
}

void RoomLink::watch() {
    if (!linked || !socket) return;
    // A peer that vanished without closing (asleep, cable pulled) answers nothing.
    if (heard.elapsed() >= timing.silenceMs) {
        const qint64 g = generation;
        socket->disconnect(this);
        socket->abort();
        lost(g);
        return;
    }
    if (pinged.elapsed() >= timing.pingMs) {
        socket->ping();
        pinged.start();
    }
}

void RoomLink::sendStatus() {
    if (!linked || !socket) return;
    socket->sendTextMessage(QString::fromUtf8(statusText(state)));
}

void RoomLink::received(const QByteArray& text) {
    // Anything that is not a known command is dropped silently.
    if (const auto message = jsonObject(text))
        if (const auto command = parseCommand(*message)) obey(commands, state, *command);
}
