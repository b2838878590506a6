#include "engine/RoomEngine.h"

#include <QDir>
#include <QSettings>
#include <algorithm>
#include <cmath>

#include "recording/RecordBlock.h"

namespace {

// Seconds of recorded audio the block ring holds while the disk is slow.
constexpr std::size_t kRecordBufferSeconds = 5;

QSettings store() {
    return QSettings(QStringLiteral("Tessaly"), QStringLiteral("Tessaly"));
}

}  // namespace

RoomEngine& RoomEngine::shared() {
    static RoomEngine* engine = new RoomEngine();  // lives until the process ends
    return *engine;
}

RoomEngine::RoomEngine(const Clock& c, QObject* parent)
    : QObject(parent),
      clock(c),
      ioQ(1 << 20,
          [this](std::vector<FileFailure> failures, bool exhausted, std::uint64_t set) {
              // From the file thread to the main thread; dropped if the engine is gone.
              QMetaObject::invokeMethod(
                  this,
                  [this, failures = std::move(failures), exhausted, set] {
                      filesFailed(failures, exhausted, set);
                  },
                  Qt::QueuedConnection);
          }),
      recStart(c.instant()),
      fileStart(recStart) {
    const QSettings settings = store();
    inputUID_ = settings.value(QStringLiteral("inputUID")).toString();
    outputUID_ = settings.value(QStringLiteral("outputUID")).toString();
    rootPath_ = settings.value(QStringLiteral("rootPath"), QDir::homePath() + "/Desktop/Tessaly")
                    .toString();
    showAll_ = settings.value(QStringLiteral("showAll"), false).toBool();
    work.mix.assign(kChunk, 0.0f);
    work.monitor.assign(kChunk, 0.0f);
}

RoomEngine::~RoomEngine() {
    // Nothing may call back into a half-destroyed engine.
    capture.setOnBuffer({});
    capture.stop();
    source.reset();
    if (running_) AudioSystem::current().onChange({});
}

int RoomEngine::hwRate() const {
    std::lock_guard guard(lock);
    return hwRate_;
}

void RoomEngine::setLinkConnected(bool connected) {
    assign(linkConnected_, connected);
}

void RoomEngine::setRoot(const QString& path) {
    assign(rootPath_, path);
    store().setValue(QStringLiteral("rootPath"), path);
}

void RoomEngine::setShowAll(bool flag) {
    assign(showAll_, flag);
    store().setValue(QStringLiteral("showAll"), flag);
}

void RoomEngine::testTone(double seconds) {
    // Callers pass a fraction of a second: a length that is not a positive
    // number plays nothing, and a huge one must not overflow the count.
    if (!std::isfinite(seconds) || seconds <= 0.0) seconds = 0.0;
    seconds = std::min(seconds, 3600.0);
    std::lock_guard guard(lock);
    toneLeft = static_cast<std::int64_t>(hwRate_ * seconds);
}

void RoomEngine::setCaptureFormat(int channels, int hz) {
    const auto n = static_cast<std::size_t>(std::max(channels, 0));
    work.peaks.assign(n, 0.0f);
    work.armedIdx.assign(n, 0);
    work.soloIdx.assign(n, 0);
    {
        std::lock_guard guard(lock);
        hwRate_ = hz;
        rawPeak.assign(n, 0.0f);
    }
    // Room for several seconds of every input and the mix, and always for
    // a few of the largest blocks.
    const std::size_t perSecond = static_cast<std::size_t>(std::max(hz, 1)) * (n + 1) * 4;
    const std::size_t largest = RecordBlock::bytesFor(static_cast<std::uint32_t>(n), kChunk);
    ioQ.resize(std::max(kRecordBufferSeconds * perSecond, 4 * (largest + 64)));
    hwChannels.store(channels, std::memory_order_relaxed);
}

void RoomEngine::publishChannels(QList<Channel> list) {
    assign(channels_, std::move(list));
    std::vector<std::uint8_t> armedFlags, soloFlags;
    for (const Channel& ch : channels_) {
        armedFlags.push_back(ch.armed);
        soloFlags.push_back(ch.solo);
    }
    work.armed.assign(armedFlags.size(), 0);
    work.solo.assign(soloFlags.size(), 0);
    std::lock_guard guard(lock);
    armed = std::move(armedFlags);
    solo = std::move(soloFlags);
}

void RoomEngine::setCaptureRecording(bool on) {
    std::lock_guard guard(lock);
    isRecording = on;
}
