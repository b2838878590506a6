#include "recording/OpenTakeMark.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "base/Instance.h"

namespace {

std::atomic<int> marksMade{0};

void syncDirectory(const QString& dir) {
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

bool writeAll(int fd, const QByteArray& bytes) {
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

}  // namespace

QString OpenTakeMark::folder() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state)) state = QDir::homePath() + QStringLiteral("/.local/state");
    const QString own = instance::name();
    return state + QStringLiteral("/Tessaly") + (own.isEmpty() ? QString() : u'/' + own);
}

std::unique_ptr<OpenTakeMark> OpenTakeMark::create(const QString& takeFolder) {
    const QString dir = folder();
    QDir().mkpath(dir);
    const QString base = dir + QStringLiteral("/%1-%2-%3")
                                   .arg(QDateTime::currentMSecsSinceEpoch())
                                   .arg(::getpid())
                                   .arg(marksMade.fetch_add(1));
    const QByteArray made = QFile::encodeName(base + QLatin1String(making));
    const QString path = base + QLatin1String(suffix);
    const int fd = ::open(made.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    // The full path: the next start may run in another working folder.
    const bool ok = fd >= 0 && ::flock(fd, LOCK_EX) == 0 &&
                    writeAll(fd, QFileInfo(takeFolder).absoluteFilePath().toUtf8() + '\n') &&
                    ::fdatasync(fd) == 0 &&
                    ::rename(made.constData(), QFile::encodeName(path).constData()) == 0;
    if (!ok) {
        qWarning().noquote() << QStringLiteral("open take: cannot mark %1 in %2: %3")
                                    .arg(takeFolder, dir, QString::fromLocal8Bit(strerror(errno)));
        if (fd >= 0) {
            ::unlink(made.constData());
            ::close(fd);
        }
        return nullptr;
    }
    syncDirectory(dir);
    return std::unique_ptr<OpenTakeMark>(new OpenTakeMark(path, fd));
}

OpenTakeMark::~OpenTakeMark() {
    if (!kept) {
        ::unlink(QFile::encodeName(path).constData());
        syncDirectory(folder());
    }
    ::close(fd);  // the lock goes with the last descriptor
}
