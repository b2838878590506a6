#include "app/ParentWatch.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <QTimer>
#include <csignal>

namespace {
constexpr int kCheckMs = 2000;
}

ParentWatch::ParentWatch(pid_t start, std::function<void()> parentGone)
    : parent(start), gone(std::move(parentGone)) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &ParentWatch::check);
    timer->start(kCheckMs);
    // The parent may have ended before the kernel was asked to tell us.
    QTimer::singleShot(0, this, &ParentWatch::check);
}

void ParentWatch::check() {
    if (::getppid() != parent && gone) gone();
}
