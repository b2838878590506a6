#include "protocol/AccessKey.h"

#include <fcntl.h>
#include <stdlib.h>
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
    const auto failed = [&](const QString& why) {
        *error = file + QStringLiteral(": ") + why;
        return QByteArray();
    };
    const QByteArray name = QFile::encodeName(file);
    const auto existing = [&] {
        const QByteArray key = load();
        return key.isEmpty() ? failed(QStringLiteral("cannot be read, or holds no key")) : key;
    };
    if (QFileInfo::exists(file)) return existing();
    quint32 words[8];
    QRandomGenerator::system()->fillRange(words);
    const QByteArray key =
        QByteArray(reinterpret_cast<const char*>(words), sizeof words)
            .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    QByteArray made = name + ".new-XXXXXX";
    const int fd = ::mkostemp(made.data(), O_CLOEXEC);  // mode 0600, a name no one else has
    if (fd < 0) return failed(QString::fromLocal8Bit(std::strerror(errno)));
    const QByteArray line = key + '\n';
    const bool whole = ::write(fd, line.constData(), line.size()) == line.size();
    const bool written = whole && ::fsync(fd) == 0;
    const int why = whole ? errno : EIO;
    ::close(fd);
    const bool placed = written && ::link(made.constData(), name.constData()) == 0;
    const int linkWhy = errno;
    ::unlink(made.constData());
    if (placed) return key;
    if (written && linkWhy == EEXIST) return existing();  // another room was first
    return failed(QString::fromLocal8Bit(std::strerror(written ? linkWhy : why)));
}

QByteArray accessKey::forLink(bool loopbackRoom) {
    const QByteArray given = qgetenv(inherited);
    if (!given.isEmpty() || loopbackRoom) return given;
    return load();
}

bool accessKey::matches(const QByteArray& given, const QByteArray& key) {
    if (key.isEmpty() || given.size() != key.size()) return false;
    unsigned char differ = 0;
    for (qsizetype i = 0; i < key.size(); ++i) differ |= given[i] ^ key[i];
    return differ == 0;
}
