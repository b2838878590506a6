#include "link/RoomLink.h"

#include <QJsonDocument>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>

#include "base/Settings.h"
#include "link/LinkMessages.h"
#include "room/RoomCommands.h"
#include "room/RoomState.h"

namespace {
constexpr int kWatchMs = 1000;
}

RoomLink::RoomLink(const RoomState& s, RoomCommands& c, QObject* parent)
    : QObject(parent), state(s), commands(c) {}

RoomLink::~RoomLink() {
    if (!task) return;
    task->disconnect(this);  // no loss to report, no retry to schedule
    task->abort();
}

void RoomLink::start() {
    connect();
    timer = new QTimer(this);
    QObject::connect(timer, &QTimer::timeout, this, &RoomLink::sendStatus);
    timer->start(statusMs);
    watchdog = new QTimer(this);
    QObject::connect(watchdog, &QTimer::timeout, this, &RoomLink::watch);
    watchdog->start(kWatchMs);
}

void RoomLink::connect() {
    if (task) {
        task->disconnect(this);  // its late signals belong to an old generation
        task->abort();
        task->deleteLater();
        task = nullptr;
    }
    const qint64 g = ++gen;
    const QUrl url(QStringLiteral("ws://") + Settings().server() + QStringLiteral("/tessaly"),
                   QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()) return;  // idle until the next launch

    task = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    task->setMaxAllowedIncomingMessageSize(maxMessage);
    task->setMaxAllowedIncomingFrameSize(maxMessage);
    QObject::connect(task, &QWebSocket::connected, this, [this] {
        heard.start();
        pinged.start();
        setConnected(true);
    });
    QObject::connect(task, &QWebSocket::disconnected, this, [this, g] { lost(g); });
    QObject::connect(task, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
                     [this, g] { lost(g); });
    QObject::connect(task, &QWebSocket::textMessageReceived, this, [this](const QString& message) {
        heard.start();
        received(message.toUtf8());
    });
    QObject::connect(task, &QWebSocket::binaryMessageReceived, this, [this] { heard.start(); });
    QObject::connect(task, &QWebSocket::pong, this, [this] { heard.start(); });
    ++attemptCount;
    task->open(url);
}

void RoomLink::lost(qint64 g) {
    setConnected(false);
    retry(g);
}

void RoomLink::retry(qint64 g) {
    QTimer::singleShot(retryMs, this, [this, g] {
        if (gen == g) connect();
    });
}

void RoomLink::setConnected(bool on) {
    linked = on;
    // The engine hears of it from the main loop, as every other change.
    QMetaObject::invokeMethod(
        this, [this, on] { commands.setLinkConnected(on); }, Qt::QueuedConnection);
}

void RoomLink::watch() {
    if (!linked || !task) return;
    // A peer that vanished without closing (asleep, cable pulled) answers nothing.
    if (heard.elapsed() >= silenceMs) {
        const qint64 g = gen;
        task->disconnect(this);
        task->abort();
        lost(g);
        return;
    }
    if (pinged.elapsed() >= pingMs) {
        task->ping();
        pinged.start();
    }
}

void RoomLink::sendStatus() {
    if (!linked || !task) return;
    task->sendTextMessage(QString::fromUtf8(statusText(state)));
}

void RoomLink::received(const QByteArray& text) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return;  // dropped silently
    handleCommand(commands, state, doc.object());
}
