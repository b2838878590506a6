#include "room/RoomEngine.h"

#include <QDebug>
#include <QDir>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "base/RemainingTime.h"
#include "base/Settings.h"
#include "hardware/AudioDevices.h"
#include "hardware/Permission.h"
#include "recording/FileNames.h"
#include "recording/TakeRepair.h"

namespace {

constexpr int kTickMs = 50;
constexpr int kRetryMs = 2000;
constexpr int kRecheckMs = 1600;  // past the change guard that follows a start
constexpr int kSettleMs = 1000;   // a device's ports appear one by one
// A take that gets no buffer for this long has lost its interface, told or not.
constexpr double kSilentCapture = 2.0;
constexpr float kDecay = 0.85f;  // per 0.05 s tick: about 28 dB per second

float decayed(float raw, float shown) {
    return std::max(raw, shown * kDecay);
}

}  // namespace

RoomEngine& RoomEngine::shared() {
    static RoomEngine* engine = new RoomEngine();  // lives until the process ends
    return *engine;
}

RoomEngine::RoomEngine(const Clock& c, QObject* parent)
    : RoomState(parent),
      clock(c),
      recorder(c,
               [this](std::vector<FileFailure> failures, bool exhausted, std::uint64_t set) {
                   // From the file thread to the main thread; dropped if the engine is gone.
                   QMetaObject::invokeMethod(
                       this,
                       [this, failures = std::move(failures), exhausted, set] {
                           showTakeStatus(recorder.filesFailed(failures, exhausted, set));
                       },
                       Qt::QueuedConnection);
               }),
      processor(recorder.blocks()),
      session(c),
      retry(new QTimer(this)),
      recheck(new QTimer(this)),
      settle(new QTimer(this)),
      disk(std::make_unique<DiskSpace>(c)),
      losses(c) {
    retry->setInterval(kRetryMs);
    connect(retry, &QTimer::timeout, this, &RoomEngine::lookForInterface);
    settle->setSingleShot(true);
    settle->setInterval(kSettleMs);
    connect(settle, &QTimer::timeout, this, &RoomEngine::lookForInterface);
    recheck->setSingleShot(true);
    recheck->setInterval(kRecheckMs);
    connect(recheck, &QTimer::timeout, this, &RoomEngine::deviceChanged);
    const Settings settings;
    inputUID_ = settings.inputUID();
    outputUID_ = settings.outputUID();
    rootPath_ = settings.rootPath();
    showAll_ = settings.showAll();
}

RoomEngine::~RoomEngine() {
    session.stop();  // nothing may call back into a half-destroyed engine
}

void RoomEngine::setRetryInterval(std::chrono::milliseconds interval) {
    retry->setInterval(interval);
}

void RoomEngine::setFreeSpace(DiskSpace::Source source, std::chrono::milliseconds interval) {
    freeSpace = source;
    disk = std::make_unique<DiskSpace>(clock, std::move(source), interval);
}

void RoomEngine::setStatus(const Status& status) {
    statusBase = status;
    assign(status_, status.then(QString(), losses.note()).then(QString(), Status::ok(diskWarning)));
}

void RoomEngine::addToStatus(const QString& words) {
    setStatus(statusBase.then(QString(), Status::ok(words)));
}

double RoomEngine::takeBytesPerSecond() const {
    const auto armed = std::count_if(channels().begin(), channels().end(),
                                     [](const Channel& c) { return c.armed; });
    // Each armed input mono, and the stereo mix, at 3 bytes a sample.
    return static_cast<double>(armed + 2) * WAVWriter::bytesPerSample * hwRate_;
}

double RoomEngine::reserveFor(double perSecond) {
    return std::max(64.0 * 1024 * 1024, 10.0 * perSecond);
}

bool RoomEngine::belowReserve(const DiskSpace::Reading& reading, double perSecond) const {
    return reading.free && static_cast<double>(*reading.free) < reserveFor(perSecond);
}

void RoomEngine::watchDisk() {
    disk->watch(recording_ ? recordingFolder_ : rootPath_);
    const DiskSpace::Reading now = disk->latest();
    if (diskAnswering_ != now.answering) assign(diskAnswering_, now.answering);
    const double perSecond = takeBytesPerSecond();
    const double left =
        now.free && perSecond > 0.0 ? static_cast<double>(*now.free) / perSecond : -1.0;
    if (left != remaining_) assign(remaining_, left);
    if (recording_ && belowReserve(now, perSecond)) {
        // Before the disk is full: every file closed exact, nothing cut off mid-write.
        endTakeState();
        setStatus(recorder.stop(
            rootPath_,
            Status::failed(QStringLiteral("Recording stopped: the disk is full — saved to "))));
    }
    // Said under 10 minutes, and taken off only above 12, so it does not flap.
    const bool warn =
        recording_ && left >= 0.0 && (left < 600.0 || (!diskWarning.isEmpty() && left <= 720.0));
    const QString warning =
        warn ? QStringLiteral(" · Disk almost full — ") + remainingText(left) : QString();
    if (warning != diskWarning) {
        diskWarning = warning;
        setStatus(statusBase);
    }
}

void RoomEngine::boot() {
    // Before anything records: a take cut off by a crash gets exact files.
    for (const TakeRepair::Take& take : TakeRepair::recoverOpenTakes(OpenTakeMark::folder())) {
        if (take.repaired > 0) {
            recovered += QStringLiteral(" · recovered %1 files of %2")
                             .arg(QString::number(take.repaired), QDir(take.folder).dirName());
        }
    }
    Permission::requestMicrophone(this, [this](bool granted) {
        if (!granted) {
            setStatus(DeviceSession::denied());
            return;
        }
        // The backend's first look may carry stored choices over to new
        // names (jackd2's "system" to its card): the choice is read after it.
        DeviceSession::list(inputUID_, outputUID_);
        const Settings stored;
        assign(inputUID_, stored.inputUID());
        assign(outputUID_, stored.outputUID());
        refreshDevices();
        startEngine();
    });
    if (!timer) {
        auto* t = new QTimer(this);
        connect(t, &QTimer::timeout, this, &RoomEngine::tick);
        t->start(kTickMs);
        timer = t;
    }
}

void RoomEngine::refreshDevices() {
    resumeIn.reset();  // the user's own refresh: the take that was cut off stays ended
    const DeviceSession::Devices devices = DeviceSession::list(inputUID_, outputUID_);
    assign(inputs_, devices.inputs);
    assign(outputs_, devices.outputs);
    assign(inputUID_, devices.inputUID);
    assign(outputUID_, devices.outputUID);
}

void RoomEngine::startEngine() {
    stopCapture();
    session.listen([this] { deviceChanged(); });
    Status failure;
    const auto input = session.open(inputUID_, outputUID_, failure);
    if (!input) {
        setStatus(failure);
        retry->start();  // until it is there
        return;
    }
    retry->stop();
    // Everything the audio thread uses is sized before it gets a buffer.
    hwChannels = input->channels;
    hwRate_ = input->rate;
    processor.prepare(hwChannels, input->bufferFrames);
    recorder.prepare(hwChannels, hwRate_, processor.chunkFrames());
    controls.channels = hwChannels;
    controls.rate = hwRate_;
    channelList_.load(input->device.uid, input->names);
    Q_EMIT changed();
    publishControls();
    session.run(*input,
                [this](const float* const* buffers, std::int64_t n, std::int64_t frames,
                       const BufferClock& at) { processor.process(buffers, n, frames, at); });

    const DeviceSession::Format format = session.headphoneFormat(input->headphones, hwRate_);
    feed = std::make_unique<HeadphoneFeed>(processor.monitorRing(), hwRate_ / format.rate);
    const Status headphones =
        session.startHeadphones(input->headphones, format, &HeadphoneFeed::pull, feed.get());
    assign(running_, true);
    buffersSeen = processor.buffersProcessed();  // audio is awaited from now on
    lastBuffer = clock.ticks();
    Status started = DeviceSession::started(*input);
    if (!headphones.empty()) started = started.then(QStringLiteral(" · "), headphones);
    setStatus(started.then(QString(), Status::ok(std::exchange(recovered, QString()))));
}

void RoomEngine::stopEngine() {
    retry->stop();
    resumeIn.reset();
    stopCapture();
    session.stopListening();
}

void RoomEngine::stopCapture() {
    if (recording_) stopRecording();
    session.stop();
    feed.reset();
    hwRate_ = kNominalRate;
    controls.rate = kNominalRate;
    publishControls();
    assign(running_, false);
}

void RoomEngine::deviceChanged() {
    if (!running_) {
        // Perhaps it is ours, back: looked for once its ports stopped coming.
        if (retry->isActive()) settle->start();
        return;
    }
    switch (session.judge(inputUID_, hwRate_, hwChannels)) {
        case DeviceSession::Change::none:
            return;
        case DeviceSession::Change::gone:
            interfaceLost();
            return;
        case DeviceSession::Change::later:
            recheck->start();
            return;
        case DeviceSession::Change::restart:
            break;
    }
    const bool wasRecording = recording_;
    // The take goes on in its own day folder, one the Control Room chose included.
    const QString day = QFileInfo(recordingFolder_).path();
    startEngine();
    if (!wasRecording) return;
    if (!running_) {
        resumeIn = day;  // it went away meanwhile: on when it is back
        return;
    }
    startTake(day);
    if (!recording_) return;  // refused: its status says why
    addToStatus(QStringLiteral("  — interface changed; recording continued as a new take"));
}

void RoomEngine::interfaceLost() {
    if (recording_) resumeIn = QFileInfo(recordingFolder_).path();
    qInfo().noquote()
        << QStringLiteral("interface: %1 lost; waiting for it to come back").arg(inputUID_);
    stopCapture();
    setStatus(DeviceSession::disconnected());
    retry->start();
}

void RoomEngine::lookForInterface() {
    if (running_) return;
    // The lists follow the hardware; a chosen interface stays the one waited
    // for. With none chosen yet (no interface at start-up): the usual choice,
    // the stored one first.
    const bool chosen = !inputUID_.isEmpty();
    const Settings stored;
    const DeviceSession::Devices d =
        chosen ? DeviceSession::list(inputUID_, outputUID_)
               : DeviceSession::list(stored.inputUID(), stored.outputUID());
    if (!chosen) {
        assign(inputUID_, d.inputUID);
        assign(outputUID_, d.outputUID);
    }
    assign(inputs_, d.inputs);
    assign(outputs_, d.outputs);
    const auto input = AudioDevices::find(inputUID_);
    if (!input || input->inputs < 1) return;
    // A take that was cut off goes on once audio arrives (tick): an interface
    // that is listed but delivers nothing makes no empty takes.
    startEngine();
}

void RoomEngine::resumeTake() {
    startTake(*std::exchange(resumeIn, std::nullopt));
    if (!recording_) return;
    qInfo().noquote() << QStringLiteral("interface: back; recording goes on in ") +
                             recordingFolder_;
    addToStatus(QStringLiteral(" · recording resumed after the interface came back"));
}

void RoomEngine::selectInput(const QString& uid) {
    if (recording_) return;
    resumeIn.reset();
    assign(inputUID_, uid);
    Settings().setInputUID(uid);
    startEngine();
}

void RoomEngine::selectOutput(const QString& uid) {
    if (recording_) return;
    resumeIn.reset();
    assign(outputUID_, uid);
    Settings().setOutputUID(uid);
    startEngine();
}

void RoomEngine::setRoot(const QString& path) {
    assign(rootPath_, path);
    Settings().setRootPath(path);
}

void RoomEngine::setShowAll(bool on) {
    assign(showAll_, on);
    Settings().setShowAll(on);
}

void RoomEngine::setLinkConnected(bool connected) {
    assign(linkConnected_, connected);
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

void RoomEngine::record(const std::optional<QString>& dayFolder) {
    // A day folder named by the Control Room is one name under the root.
    const QString name = dayFolder ? safeName(*dayFolder) : QString();
    startTake(name.isEmpty() ? std::nullopt : std::optional(rootPath_ + u'/' + name));
}

void RoomEngine::startTake(const std::optional<QString>& dayFolder) {
    if (!running_ || recording_) return;
    resumeIn.reset();  // whoever starts a take, a cut-off one is not taken up after it
    const double reserve = reserveFor(takeBytesPerSecond());
    std::optional<std::uint64_t> free;  // of the volume the take goes to
    const Status status =
        recorder.start(rootPath_, dayFolder, armedInputs(), hwRate_, [&](const QString& folder) {
            free = freeSpace(folder.toStdString());
            return !free || static_cast<double>(*free) >= reserve;
        });
    assign(recordingFolder_, recorder.folder());
    assign(folderName_, QDir(recorder.folder()).dirName());
    if (!recorder.recording()) {
        setStatus(status);
        return;
    }
    disk->watch(recordingFolder_, free);  // not the root's figure: it may be another volume
    controls.recording = true;
    losses.begin(++controls.take, session.xruns());
    publishControls();
    buffersSeen = processor.buffersProcessed();
    lastBuffer = clock.ticks();
    assign(recording_, true);
    assign(elapsed_, 0.0);
    if (!status.empty()) setStatus(status);
}

void RoomEngine::stopRecording() {
    if (!recording_) {
        resumeIn.reset();  // asked to stop: a take cut off by a loss is not taken up again
        return;
    }
    // Blocks handed over before this are written before the files close.
    endTakeState();
    setStatus(recorder.stop(rootPath_));
}

void RoomEngine::endTakeState() {
    diskWarning.clear();  // said of a take only
    losses.end(processor.dropouts(), recordingFolder_);
    controls.recording = false;
    publishControls();
    assign(recording_, false);
}

void RoomEngine::rollFiles() {
    showTakeStatus(recorder.roll(armedInputs(), hwRate_));
}

void RoomEngine::showTakeStatus(const Status& status) {
    if (recording_ && !recorder.recording()) endTakeState();
    if (!status.empty()) setStatus(status);
}

void RoomEngine::setArmed(int index, bool on) {
    if (recording_ || !channelList_.setArmed(index, on)) return;
    Q_EMIT changed();
    publishControls();
    channelList_.save(inputUID_);
}

void RoomEngine::setName(int index, const QString& name) {
    if (!channelList_.setName(index, name)) return;
    Q_EMIT changed();
    channelList_.save(inputUID_);
}

void RoomEngine::setSolo(int index, bool on) {
    if (!channelList_.setSolo(index, on)) return;
    Q_EMIT changed();
    publishControls();
}

void RoomEngine::clearSolo() {
    channelList_.clearSolo();
    Q_EMIT changed();
    publishControls();
}

void RoomEngine::publishControls() {
    channelList_.flags(controls.armed, controls.solo);
    processor.publish(controls);
}

std::vector<TakeInput> RoomEngine::armedInputs() const {
    std::vector<TakeInput> inputs;
    for (const Channel& ch : channels()) {
        if (ch.armed) inputs.push_back({ch.id, ch.displayName()});
    }
    return inputs;
}

void RoomEngine::tick() {
    float mix = 0.0f, mon = 0.0f;
    processor.meters().take(peaks, mix, mon);
    assign(monPeak_, decayed(mon, monPeak_));
    assign(monLabel_, channelList_.monitorLabel());
    const int shown = std::min(channelList_.size(), static_cast<int>(peaks.size()));
    for (int i = 0; i < shown; ++i) {
        channelList_.setPeak(i, decayed(peaks[static_cast<std::size_t>(i)], channels()[i].peak));
    }
    Q_EMIT changed();
    assign(mixPeak_, decayed(mix, mixPeak_));
    watchDisk();

    // The machine stays awake while a take runs or waits to go on. Asked for
    // here, once capture feeds the files (the bus may be slow to answer),
    // and kept across a restart within the take.
    recording_ || resumeIn ? awake.hold() : awake.release();
    // A take, or a take waiting to go on, needs audio to keep coming.
    if (!running_ || (!recording_ && !resumeIn)) return;
    const Clock::SteadyTime now = clock.ticks();
    if (const std::uint64_t seen = processor.buffersProcessed(); seen != buffersSeen) {
        buffersSeen = seen;
        lastBuffer = now;
        if (!recording_) resumeTake();
    } else if (secondsBetween(lastBuffer, now) >= kSilentCapture) {
        interfaceLost();
        return;
    }
    if (!recording_) return;
    assign(elapsed_, recorder.elapsed());
    if (losses.update(processor.dropouts(), recorder.blocks().fill(), hwRate_, session.xruns())) {
        setStatus(statusBase);
    }
    // Not while a loss is being decided: its silence belongs to the set it happened in.
    if (recorder.rollDue(hwRate_) && !recorder.blocks().holding()) rollFiles();
}
