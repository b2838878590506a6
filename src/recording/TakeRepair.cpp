#include "recording/TakeRepair.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <array>
#include <cerrno>
#include <cstring>

#include "recording/OpenTakeMark.h"
#include "recording/WAVWriter.h"

namespace {

constexpr std::size_t kHeader = WAVWriter::headerBytes;

std::uint32_t le(const std::uint8_t* p, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

bool tagAt(const std::array<std::uint8_t, kHeader>& h, std::size_t at, const char* tag) {
    return std::memcmp(h.data() + at, tag, 4) == 0;
}

// Bytes per frame when `h` is the header our writer makes, else 0.
std::uint32_t frameBytesOf(const std::array<std::uint8_t, kHeader>& h) {
    const std::uint32_t channels = le(&h[632], 2), rate = le(&h[634], 4);
    const std::uint32_t align = channels * WAVWriter::bytesPerSample;
    const bool ours = tagAt(h, 0, "RIFF") && tagAt(h, 8, "WAVE") && tagAt(h, 12, "bext") &&
                      le(&h[16], 4) == 602 && tagAt(h, 622, "fmt ") && le(&h[626], 4) == 16 &&
                      le(&h[630], 2) == 1 && channels > 0 && rate > 0 &&
                      le(&h[638], 4) == std::uint64_t{rate} * align && le(&h[642], 2) == align &&
                      le(&h[644], 2) == 24 && tagAt(h, 646, "data");
    return ours ? align : 0;
}

bool putU32(int fd, std::uint64_t value, off_t at) {
    const auto v = static_cast<std::uint32_t>(std::min<std::uint64_t>(value, 0xFFFFFFFFu));
    const std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                               static_cast<std::uint8_t>(v >> 16),
                               static_cast<std::uint8_t>(v >> 24)};
    return ::pwrite(fd, b, 4, at) == 4;
}

TakeRepair::Outcome repairOpen(int fd) {
    using TakeRepair::Outcome;
    struct stat st {};
    std::array<std::uint8_t, kHeader> h{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return Outcome::foreign;
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size < kHeader) return Outcome::tooShort;
    if (::pread(fd, h.data(), kHeader, 0) != static_cast<ssize_t>(kHeader)) return Outcome::foreign;
    const std::uint32_t frame = frameBytesOf(h);
    if (frame == 0) return Outcome::foreign;
    // Sizes that cannot be told in a header: no rewrite could make it exact.
    if (size - kHeader > WAVWriter::maxDataBytes) return Outcome::tooLarge;
    const std::uint64_t data = (size - kHeader) / frame * frame;
    const bool exact =
        le(&h[650], 4) == data && le(&h[4], 4) == data + kHeader - 8 && size == kHeader + data;
    // Space reserved ahead of a file that was never closed shows as blocks past its end.
    const bool reserved = static_cast<std::uint64_t>(st.st_blocks) * 512 > size + 2 * 4096;
    if (exact && !reserved) return Outcome::exact;
    const bool ok = (exact || (putU32(fd, data + kHeader - 8, 4) && putU32(fd, data, 650))) &&
                    ::ftruncate(fd, static_cast<off_t>(kHeader + data)) == 0 &&
                    ::fdatasync(fd) == 0;
    if (!ok) return Outcome::failed;
    return exact ? Outcome::exact : Outcome::repaired;
}

const char* why(TakeRepair::Outcome o) {
    switch (o) {
        case TakeRepair::Outcome::tooShort:
            return "shorter than a header";
        case TakeRepair::Outcome::tooLarge:
            return "larger than a header can describe";
        case TakeRepair::Outcome::foreign:
            return "not laid out as ours";
        default:
            return "could not be repaired; tried again at the next start";
    }
}

}  // namespace

TakeRepair::Outcome TakeRepair::repairFile(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return errno == ELOOP ? Outcome::foreign : Outcome::failed;
    const Outcome outcome = repairOpen(fd);
    ::close(fd);
    return outcome;
}

std::vector<TakeRepair::Take> TakeRepair::recoverOpenTakes(const QString& markers) {
    std::vector<Take> takes;
    const QDir dir(markers);
    for (const QString& name : dir.entryList(QDir::Files)) {
        const bool making = name.endsWith(QLatin1String(OpenTakeMark::making));
        if (!making && !name.endsWith(QLatin1String(OpenTakeMark::suffix))) continue;
        const QByteArray path = QFile::encodeName(dir.filePath(name));
        const int fd = ::open(path.constData(), O_RDWR | O_CLOEXEC);
        if (fd < 0) continue;
        const auto release = qScopeGuard([fd] { ::close(fd); });
        struct stat st {};
        // Held: a running Tessaly is still writing that take. Unlinked: its
        // take just ended cleanly.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &st) != 0 || st.st_nlink == 0)
            continue;
        if (making) {
            // Cut off while being made, before its take had a file; a fresh
            // one may not be locked yet.
            const QDateTime made = QFileInfo(dir.filePath(name)).lastModified();
            if (made.secsTo(QDateTime::currentDateTime()) > 60) ::unlink(path.constData());
            continue;
        }
        QFile marker;
        marker.open(fd, QIODevice::ReadOnly);
        const QString folder = QString::fromUtf8(marker.readAll()).trimmed();
        marker.close();
        if (!QDir::isAbsolutePath(folder)) {
            qWarning().noquote() << QStringLiteral(
                                        "recovery: dropping a marker that names no folder: ") +
                                        name;
            ::unlink(path.constData());
            continue;
        }
        if (!QFileInfo(folder).isDir()) {
            qInfo().noquote()
                << QStringLiteral("recovery: %1 is not reachable now; kept for later").arg(folder);
            continue;
        }
        Take take{folder, 0, {}, true};
        const QDir files(folder);
        for (const QString& wav : files.entryList({QStringLiteral("*.wav")}, QDir::Files)) {
            const Outcome o = repairFile(QFile::encodeName(files.filePath(wav)).toStdString());
            if (o == Outcome::repaired) ++take.repaired;
            if (o == Outcome::failed) take.done = false;
            if (o != Outcome::repaired && o != Outcome::exact)
                take.leftAlone << wav + QStringLiteral(" (") + QLatin1String(why(o)) + u')';
        }
        qInfo().noquote() << QStringLiteral("recovery: %1: %2 files repaired")
                                     .arg(folder, QString::number(take.repaired)) +
                                 (take.leftAlone.isEmpty()
                                      ? QString()
                                      : QStringLiteral("; left alone: ") +
                                            take.leftAlone.join(QStringLiteral(", ")));
        if (take.done) ::unlink(path.constData());
        takes.push_back(std::move(take));
    }
    return takes;
}
