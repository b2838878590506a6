#pragma once

#include <QDir>
#include <QFile>
#include <QString>
#include <cstdint>

// The pretend card of alsa/pretend_card.c, declared in the ALSA configuration
// under `config` (an XDG_CONFIG_HOME) with its control folder `control`:
// "card" (20 channels of S32_LE at 48 kHz, mmap, a 1024-frame buffer at
// most), "card24" (S24_3LE, read/write access only), "card16" (S16_LE) and
// "big" (64 channels at 96 kHz).
namespace pretend {

inline bool declare(const QString& config, const QString& control) {
    QDir().mkpath(config + "/alsa");
    QDir().mkpath(control);
    QFile rc(config + "/alsa/asoundrc");
    const QString card =
        QString("pcm.%1 { type tessaly_card control \"%2\" %3 hint.description \"%4\" }\n");
    return rc.open(QIODevice::WriteOnly) &&
           rc.write(QString("pcm_type.tessaly_card { lib \"%1\" }\n")
                        .arg(TESSALY_PRETEND_CARD)
                        .append(card.arg("card", control, "", "Pretend Card"))
                        .append(card.arg("card24", control, "format S24_3LE access rw", "Card 24"))
                        .append(card.arg("card16", control, "format S16_LE", "Card 16"))
                        .append(card.arg("big", control, "channels 64 rate 96000 buffer 4096",
                                         "Big Card"))
                        .toUtf8()) > 0;
}

// What channel `ch` (from 0) carries at frame `f`, as a 24-bit or 16-bit value.
inline std::int32_t counter(std::uint64_t f, unsigned ch, int bits = 24) {
    const std::uint64_t span = bits == 16 ? 65535 : 16777215;
    return static_cast<std::int32_t>((f + ch * (bits == 16 ? 1021u : 524309u)) % span) -
           static_cast<std::int32_t>(span / 2);
}

}  // namespace pretend
