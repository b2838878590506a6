#include "hardware/jack/AlsaCard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

QString firstLine(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readLine()).trimmed()
                                          : QString();
}

}  // namespace

std::optional<AlsaCard> AlsaCard::behind(const QString& alias, const QString& root) {
    // The card is the third field, by index or by id.
    const QStringList fields = alias.split(u':');
    if (fields.size() < 4 || fields[0] != u"alsa_pcm" || fields[1] != u"hw") return std::nullopt;
    const QString card = fields[2].section(u',', 0, 0);
    const QDir asound(root + QStringLiteral("/proc/asound"));
    for (const QString& dir : asound.entryList({QStringLiteral("card*")}, QDir::Dirs)) {
        const QString index = dir.mid(4);
        const QString id = firstLine(asound.filePath(dir + QStringLiteral("/id")));
        if (id.isEmpty() || (index != card && id != card)) continue;
        AlsaCard found{id, id};
        // A USB card's sound device is an interface of the USB device that has the serial.
        const QString device =
            QFileInfo(root + QStringLiteral("/sys/class/sound/") + dir + QStringLiteral("/device"))
                .canonicalFilePath();
        const QString serial =
            device.isEmpty() ? QString() : firstLine(QDir::cleanPath(device + "/../serial"));
        if (!serial.isEmpty()) found.key += u':' + serial;
        // " 2 [USB            ]: USB-Audio - Scarlett 18i20 USB"
        QFile cards(asound.filePath(QStringLiteral("cards")));
        if (cards.open(QIODevice::ReadOnly)) {
            const QRegularExpression line(
                QStringLiteral(R"(^\s*%1\s+\[[^\]]*\]:[^\n]*? - ([^\n]+)$)").arg(index),
                QRegularExpression::MultilineOption);
            const auto m = line.match(QString::fromUtf8(cards.readAll()));
            if (m.hasMatch()) found.name = m.captured(1).trimmed();
        }
        return found;
    }
    return std::nullopt;
}
