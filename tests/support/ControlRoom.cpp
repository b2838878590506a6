#include "support/ControlRoom.h"

#include <QWebSocket>
#include <QWebSocketServer>

ControlRoom::ControlRoom() {
    thread.start();
    worker = new QObject();
    worker->moveToThread(&thread);
    onServer([this] {
        server = new QWebSocketServer("control-room", QWebSocketServer::NonSecureMode, worker);
        server->listen(QHostAddress::LocalHost, 0);
        listening = server->serverPort();
        QObject::connect(server, &QWebSocketServer::newConnection, worker, [this] {
            QWebSocket* socket = server->nextPendingConnection();
            socket->setParent(worker);
            if (client) client->deleteLater();
            client = socket;
            QMutexLocker guard(&lock);
            ++accepted;
            path = socket->requestUrl().path();
            QObject::connect(socket, &QWebSocket::textMessageReceived, worker,
                             [this](const QString& m) {
                                 QMutexLocker inner(&lock);
                                 received.append(m.toUtf8());
                             });
        });
    });
}

ControlRoom::~ControlRoom() {
    thaw();
    onServer([this] { delete worker; });
    thread.quit();
    thread.wait();
}

void ControlRoom::onServer(std::function<void()> job) {
    QMetaObject::invokeMethod(worker, std::move(job), Qt::BlockingQueuedConnection);
}

int ControlRoom::connections() {
    QMutexLocker guard(&lock);
    return accepted;
}

QString ControlRoom::lastPath() {
    QMutexLocker guard(&lock);
    return path;
}

QList<QByteArray> ControlRoom::messages() {
    QMutexLocker guard(&lock);
    return received;
}

void ControlRoom::send(const QList<QByteArray>& frames, bool binary) {
    onServer([this, frames, binary] {
        for (const QByteArray& f : frames) {
            if (client && binary) client->sendBinaryMessage(f);
            if (client && !binary) client->sendTextMessage(QString::fromUtf8(f));
        }
    });
}

void ControlRoom::closeClient() {
    onServer([this] {
        if (client) client->close();
    });
}

void ControlRoom::freeze() {
    isFrozen = true;
    QMetaObject::invokeMethod(
        worker, [this] { frozen.acquire(); }, Qt::QueuedConnection);
}

void ControlRoom::thaw() {
    if (!std::exchange(isFrozen, false)) return;
    frozen.release();
}
