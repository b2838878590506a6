#include "hardware/alsa/CardWatch.h"

#include <QDir>

CardWatch::CardWatch(const QString& root, std::function<void()> changed, QObject* parent)
    : QObject(parent), snd(root + QStringLiteral("/dev/snd")), dev(root + QStringLiteral("/dev")) {
    settle.setSingleShot(true);
    settle.setInterval(settleMs);
    connect(&settle, &QTimer::timeout, this, std::move(changed));
    connect(&watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
        look();
        settle.start();
    });
    look();
}

void CardWatch::look() {
    // /dev/snd itself may come (the first card) or go (the last one).
    const bool here = QDir(snd).exists();
    const QString wanted = here ? snd : dev;
    if (watcher.directories() == QStringList{wanted}) return;
    if (!watcher.directories().isEmpty()) watcher.removePaths(watcher.directories());
    watcher.addPath(wanted);
}
