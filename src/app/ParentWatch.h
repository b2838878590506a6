#pragma once

#include <sys/types.h>

#include <QObject>
#include <functional>

// Headless mode follows the process that started it. When the parent ends,
// Linux hands the orphan to the nearest subreaper (a systemd user manager, a
// container's init), not always to process 1, so any change of the parent id
// counts as the parent's end. The kernel is also asked to send SIGTERM the
// moment the parent dies, which takes the signal path at once.
class ParentWatch : public QObject {
public:
    // `parent`: the parent id seen when the process started.
    ParentWatch(pid_t parent, std::function<void()> parentGone);

private:
    void check();

    const pid_t parent;
    std::function<void()> gone;
};
