// Bringing the engine up and down: permission, device choice, start, stop,
// and following the hardware when it changes.

#include <QDebug>
#include <QSettings>
#include <QTimer>

#include "engine/RoomEngine.h"
#include "hardware/AudioDevices.h"
#include "hardware/Permission.h"

namespace {

constexpr int kTickMs = 50;
constexpr double kChangeGuard = 1.5;  // seconds after a start in which changes are ignored
const QString kPreferred = QStringLiteral("scarlett");

QSettings store() {
    return QSettings(QStringLiteral("Tessaly"), QStringLiteral("Tessaly"));
}

int roundedRate(double hz) {
    return static_cast<int>(std::lround(hz));
}

const AudioDev* firstNamed(const QList<AudioDev>& list, const QString& word) {
    for (const AudioDev& d : list) {
        if (d.name.toLower().contains(word)) return &d;
    }
    return nullptr;
}

const AudioDev* withUID(const QList<AudioDev>& list, const QString& uid) {
    for (const AudioDev& d : list) {
        if (d.uid == uid) return &d;
    }
    return nullptr;
}

QString rateText(int hz) {
    return hz == 44100 ? QStringLiteral("44.1") : QString::number(hz / 1000);
}

}  // namespace

void RoomEngine::boot() {
    Permission::requestMicrophone(this, [this](bool granted) {
        if (!granted) {
            assign(
                status_,
                QStringLiteral(
                    "Microphone access denied — System Settings → Privacy → Microphone → Tessaly"));
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

void RoomEngine::refreshDevices() {
    assign(inputs_, AudioDevices::inputs());
    assign(outputs_, AudioDevices::outputs());
    if (!withUID(inputs_, inputUID_)) {
        const AudioDev* pick = firstNamed(inputs_, kPreferred);
        if (!pick && !inputs_.isEmpty()) pick = &inputs_.front();
        assign(inputUID_, pick ? pick->uid : QString());
    }
    if (!withUID(outputs_, outputUID_)) {
        const AudioDev* pick = withUID(outputs_, inputUID_);
        if (!pick) pick = firstNamed(outputs_, kPreferred);
        if (!pick && !outputs_.isEmpty()) pick = &outputs_.front();
        assign(outputUID_, pick ? pick->uid : QString());
    }
}

void RoomEngine::startEngine() {
    stopEngine();
    const std::optional<AudioDev> input = AudioDevices::find(inputUID_);
    if (!input) {
        assign(status_, QStringLiteral("No audio interface found — plug in the Scarlett"));
        return;
    }
    const std::optional<AudioDev> output = AudioDevices::find(outputUID_);
    if (const auto error = capture.start(input->id)) {
        assign(status_, QStringLiteral("Could not open ") + input->name + QStringLiteral(": ") +
                            error->description());
        return;
    }
    const int channels = static_cast<int>(capture.channels());
    setCaptureFormat(channels, roundedRate(capture.rate()));
    publishChannels(loadChannels(input->uid, AudioDevices::inputNames(input->id, channels)));
    capture.setOnBuffer([this](const float* const* buffers, std::int64_t n, std::int64_t frames) {
        process(buffers, n, frames);
    });
    AudioSystem::current().onChange([this](AudioChange) { deviceChanged(); });
    qInfo().noquote()
        << QStringLiteral("input: %1 %2ch @%3").arg(input->name).arg(channels).arg(hwRate());

    const QString headphoneFailure = startHeadphones(output);
    assign(running_, true);
    startedAt = clock.ticks();
    QString text = startedText(*input, output);
    if (!headphoneFailure.isEmpty()) text += QStringLiteral(" · ") + headphoneFailure;
    assign(status_, text);
}

QString RoomEngine::startedText(const AudioDev& input,
                                const std::optional<AudioDev>& output) const {
    QString text = input.name +
                   QStringLiteral(" — %1 inputs at %2 kHz").arg(hwChannels).arg(rateText(hwRate()));
    if (output) text += QStringLiteral(" · headphones: ") + output->name;
    if (hwRate() != rate)
        text += QStringLiteral("  ⚠︎ set 48 kHz in Focusrite Control to match video");
    return text;
}

void RoomEngine::stopEngine() {
    if (recording_) stopRecording();
    capture.setOnBuffer({});
    capture.stop();
    AudioSystem::current().onChange({});
    source.reset();  // no headphone callback runs after this
    feed.reset();
    hwRate_ = rate;
    controls.rate = rate;
    publishControls();
    assign(running_, false);
}

void RoomEngine::deviceChanged() {
    if (secondsBetween(startedAt, clock.ticks()) <= kChangeGuard) return;
    const std::optional<AudioDev> input = AudioDevices::find(inputUID_);
    if (!input) {
        stopEngine();
        assign(status_, QStringLiteral("Audio interface disconnected"));
        return;
    }
    const bool headphonesDown = source && !source->running();
    if (roundedRate(AudioDevices::sampleRate(input->id)) == hwRate() &&
        input->inputs == hwChannels && !headphonesDown) {
        return;
    }
    const bool wasRecording = recording_;
    stopEngine();
    startEngine();
    if (wasRecording) {
        if (running_) record();
        assign(status_, status_ + QStringLiteral(
                                      "  — interface changed; recording continued as a new take"));
    }
}

void RoomEngine::selectInput(const QString& uid) {
    if (recording_) return;
    assign(inputUID_, uid);
    store().setValue(QStringLiteral("inputUID"), uid);
    startEngine();
}

void RoomEngine::selectOutput(const QString& uid) {
    if (recording_) return;
    assign(outputUID_, uid);
    store().setValue(QStringLiteral("outputUID"), uid);
    startEngine();
}
