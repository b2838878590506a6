#include "engine/RoomEngine.h"

namespace {

constexpr float kDecay = 0.85f;                // per 0.05 s tick: about 28 dB per second
constexpr double kRollHeadroomSeconds = 10.0;  // of the set's fastest file

float decayed(float raw, float shown) {
    return std::max(raw, shown * kDecay);
}

}  // namespace

void RoomEngine::tick() {
    float mix = 0.0f, mon = 0.0f;
    meters.take(peaks, mix, mon);
    assign(monPeak_, decayed(mon, monPeak_));
    QStringList soloed;
    for (const Channel& ch : channels_) {
        if (ch.solo) soloed.append(ch.displayName());
    }
    assign(monLabel_,
           soloed.isEmpty() ? QStringLiteral("Mix") : soloed.join(QStringLiteral(" + ")));
    for (qsizetype i = 0; i < channels_.size() && static_cast<std::size_t>(i) < peaks.size(); ++i) {
        channels_[i].peak = decayed(peaks[static_cast<std::size_t>(i)], channels_[i].peak);
        Q_EMIT changed();
    }
    assign(mixPeak_, decayed(mix, mixPeak_));

    if (!recording_) return;
    const Clock::Instant now = clock.instant();
    assign(elapsed_, secondsBetween(recStart.steady, now.steady));
    // Audio the disk could not take in time is gone; the engineer must know.
    if (const std::uint64_t dropped = ioQ.droppedBlocks(); dropped > dropsShown) {
        assign(status_,
               QStringLiteral("Recording error: the disk is too slow — %1 audio blocks lost")
                   .arg(dropped - dropsShown));
        dropsShown = dropped;
    }
    // The mix is the fastest-growing file: 2 channels of 3 bytes.
    const double headroom = kRollHeadroomSeconds * 6.0 * hwRate();
    if (secondsBetween(fileStart.steady, now.steady) >= rollover ||
        static_cast<double>(ioQ.largestFile()) + headroom >= static_cast<double>(maxFileBytes)) {
        rollFiles();
    }
}
