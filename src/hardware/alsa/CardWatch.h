#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

// Cards that come and go: the device nodes in /dev/snd (under a root tests
// replace), watched through inotify. The nodes of one card appear together
// (its control, each PCM); they make one change, told a tenth of a second
// after the last. A machine with no card yet has no /dev/snd: then /dev is
// watched until it appears. Main thread.
class CardWatch : public QObject {
public:
    CardWatch(const QString& root, std::function<void()> changed, QObject* parent = nullptr);

    static constexpr int settleMs = 100;

private:
    void look();

    const QString snd;
    const QString dev;
    QFileSystemWatcher watcher;
    QTimer settle;
};
