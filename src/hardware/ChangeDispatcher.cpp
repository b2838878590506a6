#include "hardware/ChangeDispatcher.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>

#include "hardware/AudioSystem.h"

ChangeDispatcher::ChangeDispatcher() {
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return;
    notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &ChangeDispatcher::readable);
}

ChangeDispatcher::~ChangeDispatcher() {
    delete notifier;
    for (int fd : fds) {
        if (fd >= 0) ::close(fd);
    }
}

void ChangeDispatcher::post(AudioChange change) {
    const auto byte = static_cast<unsigned char>(change);
    // A full pipe already holds a wake-up; nothing is lost by not writing more.
    [[maybe_unused]] ssize_t ignored = ::write(fds[1], &byte, 1);
}

void ChangeDispatcher::readable() {
    bool seen[3] = {false, false, false};
    unsigned char bytes[64];
    for (ssize_t n; (n = ::read(fds[0], bytes, sizeof bytes)) > 0;) {
        for (ssize_t i = 0; i < n; ++i) {
            if (bytes[i] < 3) seen[bytes[i]] = true;
        }
    }
    for (int c = 0; c < 3; ++c) {
        // A copy: the handler may replace itself while it runs.
        const std::function<void(AudioChange)> call = handler;
        if (seen[c] && call) call(static_cast<AudioChange>(c));
    }
}
