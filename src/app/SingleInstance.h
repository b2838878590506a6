#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QLocalServer;

// One window per user: launching Tessaly again while it runs in windowed mode
// shows the running instance's window instead of starting a second recorder.
class SingleInstance : public QObject {
public:
    // The per-user socket: $XDG_RUNTIME_DIR/tessaly.socket, else one in the
    // temporary folder named after the user id.
    static QString socketPath();

    // Tells a running instance to show its window. False when none answers.
    // Needs no application object.
    static bool handOff();

    // Becomes the instance that later launches hand off to; `show` runs on
    // the main thread at each. A socket left by a crashed instance is replaced.
    bool listen(std::function<void()> show);

private:
    QLocalServer* server = nullptr;
};
