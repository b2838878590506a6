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
    // A request repeated while a tone plays starts the count again: the audio
    // thread takes up each new request number once.
    ++controls.toneRequest;
    controls.toneFrames = static_cast<std::int64_t>(hwRate_ * seconds);
    publishControls();
}

void RoomEngine::setCaptureFormat(int channels, int hz) {
    const auto n = static_cast<std::size_t>(std::max(channels, 0));
    work.peaks.assign(n, 0.0f);
    work.armedIdx.assign(n, 0);
    work.soloIdx.assign(n, 0);
    meters.resize(channels);
    hwRate_ = hz;
    hwChannels = channels;
    controls.channels = channels;
    controls.rate = hz;
    publishControls();
    // Room for several seconds of every input and the mix, and always for
    // a few of the largest blocks.
    const std::size_t perSecond = static_cast<std::size_t>(std::max(hz, 1)) * (n + 1) * 4;
    const std::size_t largest = RecordBlock::bytesFor(static_cast<std::uint32_t>(n), kChunk);
    ioQ.resize(std::max(kRecordBufferSeconds * perSecond, 4 * (largest + 64)));
}

void RoomEngine::publishChannels(QList<Channel> list) {
    assign(channels_, std::move(list));
    controls.armed.clear();
    controls.solo.clear();
    for (const Channel& ch : channels_) {
        controls.armed.push_back(ch.armed);
        controls.solo.push_back(ch.solo);
    }
    publishControls();
}

void RoomEngine::setCaptureRecording(bool on) {
    controls.recording = on;
    publishControls();
}

void RoomEngine::publishControls() {
    // A whole copy each time: the audio thread holds the previous set for
    // the rest of its buffer. The copies reuse their slots' storage.
    published.back() = controls;
    published.publish();
}
