#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class QTimer;
class QWebSocket;
class RoomCommands;
class RoomState;

// The link's rhythm, in milliseconds.
struct LinkTiming {
    int statusMs = 200;     // a status message while connected
    int retryMs = 2000;     // a new attempt after a loss
    int pingMs = 5000;      // a ping while connected
    int silenceMs = 15000;  // nothing heard for this long: the link is lost
    int watchMs = 1000;     // how often the silence is looked at
};

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
    RoomLink(const RoomState& state, RoomCommands& commands, LinkTiming timing = {},
             QObject* parent = nullptr);
    ~RoomLink() override;

    // Connects, and starts the 0.2 s status statusTimer. Call once.
    void start();
    // Whether the peer's handshake has completed and no loss was seen since.
    bool connected() const { return linked; }
    // Connection attempts made so far.
    int attempts() const { return attemptCount; }

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
    const LinkTiming timing;
    QWebSocket* socket = nullptr;
    QTimer* statusTimer = nullptr;
    QTimer* watchdog = nullptr;
    qint64 generation = 0;
    bool linked = false;
    int attemptCount = 0;
    QElapsedTimer heard;  // since the last frame of any kind from the peer
    QElapsedTimer pinged;
};
