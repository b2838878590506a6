#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;
enum class AudioChange;

// Carries backend notifications to the main thread through a pipe: posting
// only writes one byte, so it is safe from any thread and from callbacks that
// may do nothing else (a server shutdown). Changes that arrive together are
// delivered once each, in a fixed order.
class ChangeDispatcher : public QObject {
public:
    ChangeDispatcher();
    ~ChangeDispatcher() override;

    // Any thread.
    void post(AudioChange change);
    // Main thread.
    std::function<void(AudioChange)> handler;

private:
    void readable();

    int fds[2] = {-1, -1};
    QSocketNotifier* notifier = nullptr;
};
