#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QSemaphore>
#include <QThread>
#include <functional>

class QWebSocket;
class QWebSocketServer;

// A Control Room on loopback: a real WebSocket server in a thread of its own,
// so that it can be frozen (answering nothing, not even pings) while the
// engine's main thread goes on. Every member is safe to call from the test.
class ControlRoom {
public:
    ControlRoom();
    ~ControlRoom();

    quint16 port() const { return listening; }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(listening); }
    int connections();             // handshakes accepted so far
    QString lastPath();            // the path the last client asked for
    QList<QByteArray> messages();  // every text frame received, in order

    // To the current client, in one go.
    void send(const QList<QByteArray>& frames, bool binary = false);
    void closeClient();
    void freeze();  // blocks the server's thread until thaw()
    void thaw();

private:
    void onServer(std::function<void()> job);

    QThread thread;
    QObject* worker = nullptr;  // lives in `thread`
    QWebSocketServer* server = nullptr;
    QWebSocket* client = nullptr;  // touched only in `thread`
    quint16 listening = 0;
    QMutex lock;  // guards the fields below
    int accepted = 0;
    QString path;
    QList<QByteArray> received;
    QSemaphore frozen;
    bool isFrozen = false;
};
