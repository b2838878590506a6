#include "room/RoomEngine.h"

#include <QDebug>
#include <QDir>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "base/RemainingTime.h"
#include "base/Settings.h"
#include "hardware/AudioDevices.h"
#include "hardware/AudioSystem.h"
#include "hardware/Permission.h"
#include "recording/FileNames.h"
#include "recording/TakeRepair.h"

namespace {

constexpr int kTickMs = 50;
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
      // From the file thread to the main thread, as events; dropped if the engine is gone.
      recorder(
          c,
          [this](std::function<void()> event) {
              QMetaObject::invokeMethod(this, std::move(event), Qt::QueuedConnection);
          },
          [this](std::vector<FileFailure> failures, bool exhausted, std::uint64_t set) {
              QMetaObject::invokeMethod(
                  this,
                  [this, failures = std::move(failures), exhausted, set] {
                      showTakeStatus(recorder.filesFailed(failures, exhausted, set));
                  },
                  Qt::QueuedConnection);
          }),
      processor(recorder.blocks()),
      disk(std::make_unique<DiskSpace>(c)),
      losses(c) {
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
    life.retryInterval = interval;
}

void RoomEngine::setFreeSpace(DiskSpace::Source source, std::chrono::milliseconds interval) {
    freeSpace = source;
    disk = std::make_unique<DiskSpace>(clock, std::move(source), interval);
}

void RoomEngine::setStatus(const Status& status) {
    ++statusesSet;
    line.base = status;
    line.note = {};
    showStatus();
}

void RoomEngine::addNote(const QString& words) {
    line.note = Status::ok(words);
    showStatus();
}

void RoomEngine::showStatus() {
    line.losses = losses.note();
    assign(status_, line.whole());
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
    // File work under way for 5 s, or a volume that does not say its free
    // space: the disk does not answer. The take goes on counting what it loses.
    const bool filesAnswer = recorder.answering();
    if (diskAnswering_ != (now.answering && filesAnswer))
        assign(diskAnswering_, now.answering && filesAnswer);
    const double perSecond = takeBytesPerSecond();
    const double left =
        now.free && perSecond > 0.0 ? static_cast<double>(*now.free) / perSecond : -1.0;
    if (left != remaining_) assign(remaining_, left);
    if (recording_ && belowReserve(now, perSecond)) {
        // Before the disk is full: every file closed exact, nothing cut off mid-write.
        endTake(Status::failed(QStringLiteral("Recording stopped: the disk is full — saved to ")));
    }
    // Said under 10 minutes, and taken off only above 12, so it does not flap.
    const bool warn =
        recording_ && left >= 0.0 && (left < 600.0 || (!line.disk.empty() && left <= 720.0));
    Status warning = Status::ok(
        warn ? QStringLiteral(" · Disk almost full — ") + remainingText(left) : QString());
    if (!filesAnswer)
        warning = warning + Status::failed(QStringLiteral(" · the disk is not answering"));
    if (warning != line.disk) {
        line.disk = warning;
        showStatus();
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

DeviceSession::Devices RoomEngine::listDevices(const QString& inputUID, const QString& outputUID) {
    const QList<AudioDev> all = AudioDevices::all();
    // Stored choices and labels of a device the backend now knows by another
    // name (jackd2's "system" as its card) follow it before anything is chosen.
    for (const auto& [from, to] : AudioSystem::current().takeRenames()) {
        Settings().moveDevice(from, to);
        if (inputUID_ == from) assign(inputUID_, to);
        if (outputUID_ == from) assign(outputUID_, to);
    }
    const bool ours = inputUID.isNull();
    DeviceSession::Devices d =
        DeviceSession::list(all, ours ? inputUID_ : inputUID, ours ? outputUID_ : outputUID);
    assign(inputs_, d.inputs);
    assign(outputs_, d.outputs);
    assign(headphonesOnInputOnly_, AudioSystem::current().headphonesOnInputOnly());
    return d;
}

void RoomEngine::refreshDevices() {
    cancelResume();  // the user's own refresh: the take that was cut off stays ended
    const DeviceSession::Devices devices = listDevices();
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
        life.failed(clock.ticks());  // looked for until it is there
        return;
    }
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
    Status started = DeviceSession::started(*input);
    if (!headphones.empty()) started = started + Status::ok(QStringLiteral(" · ")) + headphones;
    setStatus(started + Status::ok(std::exchange(recovered, QString())));
    act(life.started(clock.ticks(), processor.buffersProcessed()));
    if (life.state() == Lifecycle::State::steadying)
        addNote(QStringLiteral(" · recording goes on after a second of steady audio"));
}

void RoomEngine::stopEngine() {
    life.stopped();
    stopCapture();
    session.stopListening();
}

void RoomEngine::stopCapture() {
    if (recording_ || recorder.starting()) endTake(Status::ok(QStringLiteral("Saved to ")));
    session.stop();
    feed.reset();
    hwRate_ = kNominalRate;
    controls.rate = kNominalRate;
    publishControls();
    assign(running_, false);
}

namespace {
// A take's day folder as the life of the take keeps it: empty for today's.
std::optional<QString> dayOf(const QString& folder) {
    return folder.isEmpty() ? std::nullopt : std::optional(folder);
}
}  // namespace

void RoomEngine::act(const Lifecycle::Step& step) {
    switch (step.what) {
        case Lifecycle::Do::nothing:
            return;
        case Lifecycle::Do::look:
            lookForInterface();
            return;
        case Lifecycle::Do::judge:
            deviceChanged();
            return;
        case Lifecycle::Do::lose:
            qInfo().noquote()
                << QStringLiteral("interface: %1 lost; waiting for it to come back").arg(inputUID_);
            stopCapture();
            setStatus(DeviceSession::disconnected());
            return;
        case Lifecycle::Do::restart:
            startEngine();
            return;
        case Lifecycle::Do::resume:
            startTake(dayOf(step.folder), [this] {
                qInfo().noquote() << QStringLiteral("interface: back; recording goes on in ") +
                                         recordingFolder_;
                addNote(QStringLiteral(" · recording resumed after the interface came back"));
            });
            return;
        case Lifecycle::Do::carryOn:
            startTake(dayOf(step.folder), [this] {
                addNote(QStringLiteral("  — interface changed; recording continued as a new take"));
            });
            return;
    }
}

void RoomEngine::cancelResume() {
    if (!life.cancelResume() || line.note.empty()) return;
    line.note = {};  // the wait for steady audio is over
    showStatus();
}

void RoomEngine::deviceChanged() {
    using Change = DeviceSession::Change;
    const Change judged =
        life.capturing() ? session.judge(inputUID_, hwRate_, hwChannels) : Change::same;
    act(life.changed(clock.ticks(), judged));
}

void RoomEngine::lookForInterface() {
    // The lists follow the hardware; a chosen interface stays the one waited
    // for. With none chosen yet (no interface at start-up): the usual choice,
    // the stored one first.
    const bool chosen = !inputUID_.isEmpty();
    const Settings stored;
    const DeviceSession::Devices d =
        chosen ? listDevices() : listDevices(stored.inputUID(), stored.outputUID());
    if (!chosen) {
        assign(inputUID_, d.inputUID);
        assign(outputUID_, d.outputUID);
    }
    const bool there = std::ranges::any_of(
        d.all, [&](const AudioDev& in) { return in.uid == inputUID_ && in.inputs >= 1; });
    // A take that was cut off goes on once audio is steady (tick): an
    // interface that is listed but delivers nothing makes no empty takes.
    if (there) startEngine();
}

void RoomEngine::selectInput(const QString& uid) {
    if (recording_) return;
    cancelResume();
    assign(inputUID_, uid);
    Settings().setInputUID(uid);
    startEngine();
}

void RoomEngine::selectOutput(const QString& uid) {
    if (recording_) return;
    cancelResume();
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

void RoomEngine::startTake(const std::optional<QString>& dayFolder,
                           const std::function<void()>& then) {
    if (!running_ || recording_ || recorder.starting()) return;
    cancelResume();  // whoever starts a take, a cut-off one is not taken up after it
    // A take from the moment it is asked for: lost while it opens, it is
    // still one to go on with (in today's folder, until its own is known).
    life.takeStarted(dayFolder.value_or(QString()));
    TakeSets::Request request{rootPath_,
                              dayFolder,
                              armedInputs(),
                              hwRate_,
                              clock.instant(),
                              freeSpace,
                              reserveFor(takeBytesPerSecond())};
    recorder.start(std::move(request), [this, then](const TakeSets::Opened& opened) {
        if (!recorder.recording()) {
            life.takeEnded();
            setStatus(opened.status);
            return;
        }
        assign(recordingFolder_, opened.folder);
        assign(folderName_, QDir(opened.folder).dirName());
        // Not the root's figure: the take may be on another volume.
        disk->watch(recordingFolder_, opened.free);
        controls.recording = true;
        losses.begin(++controls.take, session.xrunNotices());
        publishControls();
        if (life.state() == Lifecycle::State::recording)
            life.takeStarted(QFileInfo(recordingFolder_).path());  // its day folder, now known
        assign(recording_, true);
        assign(elapsed_, 0.0);
        if (!opened.status.empty()) setStatus(opened.status);
        if (then) then();
    });
}

void RoomEngine::stopRecording() {
    if (!recording_ && !recorder.starting()) {
        cancelResume();  // asked to stop: a take cut off by a loss is not taken up again
        return;
    }
    endTake(Status::ok(QStringLiteral("Saved to ")));
}

void RoomEngine::endTake(const Status& saying) {
    // Blocks handed over before this are written before the files close.
    recording_ ? endTakeState() : life.takeEnded();
    // Said once the files are closed, unless the status has moved on since.
    const std::uint64_t said = statusesSet;
    recorder.stop(rootPath_, saying, [this, said](const Status& saved) {
        if (said == statusesSet && !saved.empty()) setStatus(saved);
    });
}

void RoomEngine::endTakeState() {
    line.disk = {};  // said of a take only
    losses.end(processor.dropouts(), recordingFolder_);
    controls.recording = false;
    publishControls();
    life.takeEnded();
    assign(recording_, false);
}

bool RoomEngine::waitForFiles(std::chrono::milliseconds limit) {
    if (recorder.waitForFiles(limit)) return true;
    qWarning().noquote() << QStringLiteral("files: the disk did not answer within %1 s")
                                .arg(std::chrono::duration<double>(limit).count());
    for (const std::string& file : recorder.unsynced()) {
        qWarning().noquote() << QStringLiteral("files: the sync of %1 did not finish")
                                    .arg(QString::fromStdString(file));
    }
    return false;
}

void RoomEngine::rollFiles() {
    recorder.roll(armedInputs(), hwRate_, [this](const Status& status) { showTakeStatus(status); });
}

void RoomEngine::showTakeStatus(const Status& status) {
    if (recording_ && !recorder.recording()) endTakeState();
    if (!status.empty()) setStatus(status);
}

void RoomEngine::setArmed(int index, bool on) {
    if (recording_ || recorder.starting() || !channelList_.setArmed(index, on)) return;
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
    life.takeAlive() ? awake.hold() : awake.release();
    act(life.tick(clock.ticks(), processor.buffersProcessed()));
    if (!recording_) return;
    assign(elapsed_, recorder.elapsed());
    if (losses.update(processor.dropouts(), recorder.blocks().fill(), hwRate_,
                      session.xrunNotices())) {
        showStatus();
    }
    // Not while a loss is being decided: its silence belongs to the set it happened in.
    if (recorder.rollDue(hwRate_) && !recorder.blocks().holding()) rollFiles();
}
