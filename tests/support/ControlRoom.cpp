#include "support/ControlRoom.h"

#include <QMutexLocker>
#include <QWebSocket>
#include <QWebSocketServer>

ControlRoom::ControlRoom() {
    thread.start();
    worker = new QObject();
    worker->moveToThread(&thread);
    QMetaObject::invokeMethod(
        worker,
        [this] {
            server = new QWebSocketServer(QStringLiteral("control-room"),
                                          QWebSocketServer::NonSecureMode, worker);
            server->listen(QHostAddress::LocalHost, 0);
            listening = server->serverPort();
            QObject::connect(server, &QWebSocketServer::newConnection, worker, [this] {
                QWebSocket* socket = server->nextPendingConnection();
                socket->setParent(worker);
                if (client) client->deleteLater();
                client = socket;
                {
                    QMutexLocker guard(&lock);
                    ++accepted;
                    path = socket->requestUrl().path();
                }
                QObject::connect(socket, &QWebSocket::textMessageReceived, worker,
                                 [this](const QString& m) {
                                     QMutexLocker guard(&lock);
                                     received.append(m.toUtf8());
                                 });
            });
        },
        Qt::BlockingQueuedConnection);
}

ControlRoom::~ControlRoom() {
    thaw();
    QMetaObject::invokeMethod(
        worker, [this] { delete worker; }, Qt::BlockingQueuedConnection);
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

void ControlRoom::clearMessages() {
    QMutexLocker guard(&lock);
    received.clear();
}

void ControlRoom::send(const QByteArray& text) {
    onServer([this, text] {
        if (client) client->sendTextMessage(QString::fromUtf8(text));
    });
}

void ControlRoom::sendBinary(const QByteArray& bytes) {
    onServer([this, bytes] {
        if (client) client->sendBinaryMessage(bytes);
    });
}

void ControlRoom::sendAll(const QList<QByteArray>& frames) {
    onServer([this, frames] {
        if (!client) return;
        for (const QByteArray& f : frames) client->sendTextMessage(QString::fromUtf8(f));
    });
}

void ControlRoom::closeClient() {
    onServer([this] {
        if (client) client->close();
    });
}

void ControlRoom::freeze() {
    {
        QMutexLocker guard(&lock);
        ++freezes;
    }
    QMetaObject::invokeMethod(
        worker, [this] { frozen.acquire(); }, Qt::QueuedConnection);
}

void ControlRoom::thaw() {
    QMutexLocker guard(&lock);
    if (freezes == 0) return;
    --freezes;
    frozen.release();
}
