#pragma once

#include <QJsonDocument>
#include <QSemaphore>
#include <QThread>
#include <QWebSocket>
#include <QWebSocketServer>
#include <functional>

// A Control Room on loopback: a real WebSocket server in a thread of its own,
// so that it can be frozen (answering nothing, not even pings) while the
// engine's main thread goes on. Every member is safe to call from the test.
class ControlRoom {
public:
    ControlRoom() {
        thread.start();
        worker.moveToThread(&thread);
        onServer([this] {
            server = new QWebSocketServer("control-room", QWebSocketServer::NonSecureMode, &worker);
            server->listen(QHostAddress::LocalHost, 0);
            port = server->serverPort();
            QObject::connect(server, &QWebSocketServer::newConnection, &worker, [this] {
                if (client) client->deleteLater();
                client = server->nextPendingConnection();
                client->setParent(&worker);
                ++accepted;
                path = client->requestUrl().path();
                QObject::connect(client, &QWebSocket::textMessageReceived, &worker,
                                 [this](const QString& m) { received.append(m.toUtf8()); });
            });
        });
    }
    ~ControlRoom() {
        thaw();
        onServer([this] { qDeleteAll(worker.children()); });  // the server and its clients
        thread.quit();
        thread.wait();
    }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port); }
    // Read on the server's thread, so not while it is frozen.
    int connections() { return read(accepted); }             // handshakes accepted so far
    QString lastPath() { return read(path); }                // the path the last client asked for
    QList<QByteArray> messages() { return read(received); }  // every text frame, in order
    // `key` of the last message, as text.
    QString latest(const char* key) {
        const QList<QByteArray> all = messages();
        return all.isEmpty() ? QString()
                             : QJsonDocument::fromJson(all.last())[key].toVariant().toString();
    }
    // To the current client, in one go.
    void send(const QList<QByteArray>& frames, bool binary = false) {
        onServer([this, frames, binary] {
            for (const QByteArray& f : frames)
                if (client)
                    binary ? client->sendBinaryMessage(f)
                           : client->sendTextMessage(QString::fromUtf8(f));
        });
    }
    void closeClient() {
        onServer([this] { client ? client->close() : void(); });
    }
    void freeze() {  // blocks the server's thread until thaw()
        frozen = true;
        QMetaObject::invokeMethod(
            &worker, [this] { thawed.acquire(); }, Qt::QueuedConnection);
    }
    void thaw() {
        if (std::exchange(frozen, false)) thawed.release();
    }
    quint16 port = 0;

private:
    template <typename T>
    T read(const T& field) {
        T copy;
        onServer([&] { copy = field; });
        return copy;
    }
    void onServer(std::function<void()> job) {
        QMetaObject::invokeMethod(&worker, std::move(job), Qt::BlockingQueuedConnection);
    }
    QThread thread;
    QObject worker;  // lives in `thread`
    QWebSocketServer* server = nullptr;
    // Touched only in `thread`.
    QWebSocket* client = nullptr;
    int accepted = 0;
    QString path;
    QList<QByteArray> received;
    QSemaphore thawed;
    bool frozen = false;
};
