#include "hardware/alsa/AlsaCard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

namespace {

QString firstLine(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readLine()).trimmed()
                                          : QString();
}

QString wholeFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The card in /proc/asound/card<index>; nothing when it has no id.
std::optional<AlsaCard> read(const QString& root, int index) {
    const QDir asound(root + QStringLiteral("/proc/asound"));
    const QString dir = QStringLiteral("card%1").arg(index);
    const QString id = firstLine(asound.filePath(dir + QStringLiteral("/id")));
    if (id.isEmpty()) return std::nullopt;
    AlsaCard found{id, id, index, id, {}, {}, 0};
    // A USB card's sound device is an interface of the USB device that has the serial.
    const QString device =
        QFileInfo(root + QStringLiteral("/sys/class/sound/") + dir + QStringLiteral("/device"))
            .canonicalFilePath();
    const QString serial =
        device.isEmpty() ? QString() : firstLine(QDir::cleanPath(device + "/../serial"));
    if (!serial.isEmpty()) found.key += u':' + serial;
    // " 2 [USB            ]: USB-Audio - Scarlett 18i20 USB"
    const QRegularExpression line(
        QStringLiteral(R"(^\s*%1\s+\[[^\]]*\]:[^\n]*? - ([^\n]+)$)").arg(index),
        QRegularExpression::MultilineOption);
    const auto m = line.match(wholeFile(asound.filePath(QStringLiteral("cards"))));
    if (m.hasMatch()) found.name = m.captured(1).trimmed();
    // "pcm0c", "pcm1p": the devices with a capture or a playback stream.
    for (auto [suffix, list] : {std::pair{'c', &found.captures}, {'p', &found.playbacks}}) {
        for (const QString& pcm :
             QDir(asound.filePath(dir)).entryList({QStringLiteral("pcm*") + suffix}, QDir::Dirs)) {
            bool number = false;
            const int n = pcm.mid(3, pcm.size() - 4).toInt(&number);
            if (number) list->append(n);
        }
        std::sort(list->begin(), list->end());
    }
    // A USB card says what each of its alternate settings offers:
    // "Capture:\n  ...\n    Channels: 20"; the largest is the card's.
    const QString streams = wholeFile(asound.filePath(dir + QStringLiteral("/stream0")));
    const qsizetype capture = streams.indexOf(QStringLiteral("\nCapture:"));
    if (capture >= 0) {
        const qsizetype end = streams.indexOf(QStringLiteral("\nPlayback:"), capture);
        const QString section = streams.mid(capture, end < 0 ? -1 : end - capture);
        static const QRegularExpression channels(QStringLiteral(R"(Channels:\s*(\d+))"));
        for (auto it = channels.globalMatch(section); it.hasNext();)
            found.captureChannels = std::max(found.captureChannels, it.next().captured(1).toInt());
    }
    return found;
}

// The indexes of the cards in /proc/asound, in order.
QList<int> indexes(const QString& root) {
    QList<int> out;
    for (const QString& dir : QDir(root + QStringLiteral("/proc/asound"))
                                  .entryList({QStringLiteral("card*")}, QDir::Dirs)) {
        bool number = false;
        const int n = dir.mid(4).toInt(&number);
        if (number) out.append(n);
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

std::optional<AlsaCard> AlsaCard::behind(const QString& alias, const QString& root) {
    // The card is the third field, by index or by id.
    const QStringList fields = alias.split(u':');
    if (fields.size() < 4 || fields[0] != u"alsa_pcm" || fields[1] != u"hw") return std::nullopt;
    const QString card = fields[2].section(u',', 0, 0);
    for (const int index : indexes(root)) {
        auto found = read(root, index);
        if (found && (QString::number(index) == card || found->id == card)) return found;
    }
    return std::nullopt;
}

QList<AlsaCard> AlsaCard::all(const QString& root) {
    QList<AlsaCard> out;
    for (const int index : indexes(root))
        if (auto card = read(root, index); card && !card->captures.isEmpty()) out.append(*card);
    return out;
}
