#include "protocol/AccessKey.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>

QString accessKey::path() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!QDir::isAbsolutePath(config)) config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/Tessaly/room-key");
}

QByteArray accessKey::load() {
    QFile file(path());
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.read(256).trimmed();
}

QByteArray accessKey::loadOrCreate(QString* error) {
    const QString file = path();
    QDir().mkpath(QFileInfo(file).absolutePath());
    const QByteArray name = QFile::encodeName(file);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        quint32 words[8];
        QRandomGenerator::system()->fillRange(words);
        const QByteArray key =
            QByteArray(reinterpret_cast<const char*>(words), sizeof words)
                .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
        const QByteArray line = key + '\n';
        const bool written =
            ::write(fd, line.constData(), line.size()) == line.size() && ::fsync(fd) == 0;
        const int why = errno;
        ::close(fd);
        if (written) return key;
        ::unlink(name.constData());
        *error = QStringLiteral("%1: %2").arg(file, QString::fromLocal8Bit(std::strerror(why)));
        return {};
    }
    if (errno != EEXIST) {
        *error = QStringLiteral("%1: %2").arg(file, QString::fromLocal8Bit(std::strerror(errno)));
        return {};
    }
    const QByteArray key = load();
    if (key.isEmpty()) *error = QStringLiteral("%1 holds no key").arg(file);
    return key;
}

bool accessKey::matches(const QByteArray& given, const QByteArray& key) {
    if (key.isEmpty() || given.size() != key.size()) return false;
    unsigned char differ = 0;
    for (qsizetype i = 0; i < key.size(); ++i) differ |= given[i] ^ key[i];
    return differ == 0;
}
