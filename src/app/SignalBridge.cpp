#include "app/SignalBridge.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>

namespace {
int pipeFds[2] = {-1, -1};
}

SignalBridge::SignalBridge(std::function<void(int)> handlerOnMain)
    : onSignal(std::move(handlerOnMain)) {
    if (pipeFds[0] < 0 && ::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0) return;
    notifier = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &SignalBridge::readable);
    struct sigaction action = {};
    action.sa_handler = &SignalBridge::handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

SignalBridge::~SignalBridge() {
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
}

void SignalBridge::handler(int signal) {
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] ssize_t ignored = ::write(pipeFds[1], &byte, 1);  // async-signal-safe
}

void SignalBridge::readable() {
    unsigned char byte = 0;
    if (::read(pipeFds[0], &byte, 1) == 1 && onSignal) onSignal(byte);
}
