#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

// Carries SIGTERM and SIGINT to the main loop: the handler only writes the
// signal's number to a pipe; `onSignal` runs on the main thread, where it
// may stop the engine and close every file.
class SignalBridge : public QObject {
public:
    explicit SignalBridge(std::function<void(int signal)> onSignal);
    ~SignalBridge() override;

private:
    static void handler(int signal);
    void readable();

    std::function<void(int)> onSignal;
    QSocketNotifier* notifier = nullptr;
};
