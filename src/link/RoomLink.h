#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class QTimer;
class QWebSocket;
class RoomCommands;
class RoomState;

// The WebSocket link to the Control Room: connects at start-up and again 2 s
// after every loss for as long as the process lives, tells the engine whether
// the peer is there, sends it the engine's state every 0.2 s while connected,
// and obeys its commands.
//
// Everything runs on the main thread. A generation counter ties each retry to
// the connection it belongs to, so a loss reported twice (a close and a
// failure) gives one reconnect.
class RoomLink : public QObject {
    Q_OBJECT

public:
    RoomLink(const RoomState& state, RoomCommands& commands, QObject* parent = nullptr);
    ~RoomLink() override;

    // Connects, and starts the 0.2 s status timer. Call once.
    void start();
    // Whether the peer's handshake has completed and no loss was seen since.
    bool connected() const { return linked; }
    // Connection attempts made so far.
    int attempts() const { return attemptCount; }

    static constexpr int retryMs = 2000;
    static constexpr int statusMs = 200;
    static constexpr int pingMs = 5000;      // while connected
    static constexpr int silenceMs = 15000;  // without a pong or any frame: lost
    static constexpr qint64 maxMessage = 1 << 20;

private:
    void connect();
    void retry(qint64 g);
    void lost(qint64 g);
    void setConnected(bool on);
    void sendStatus();
    void received(const QByteArray& text);
    void watch();

    const RoomState& state;
    RoomCommands& commands;
    QWebSocket* task = nullptr;
    QTimer* timer = nullptr;
    QTimer* watchdog = nullptr;
    qint64 gen = 0;
    bool linked = false;
    int attemptCount = 0;
    QElapsedTimer heard;  // since the last frame of any kind from the peer
    QElapsedTimer pinged;
};
