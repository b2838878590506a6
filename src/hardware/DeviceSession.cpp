#include "hardware/DeviceSession.h"

#include <QDebug>
#include <QLocale>
#include <cmath>

#include "base/NominalRate.h"
#include "hardware/AudioDevices.h"

namespace {

const QString kPreferred = QStringLiteral("scarlett");

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

// 48000 → "48000.0", 44100.5 → "44100.5": shortest form, always with a fraction.
QString rateWithFraction(double hz) {
    QString text = QString::number(hz, 'g', QLocale::FloatingPointShortest);
    if (!text.contains(u'.') && !text.contains(u'e')) text += QStringLiteral(".0");
    return text;
}

}  // namespace

DeviceSession::~DeviceSession() {
    stop();
    stopListening();
}

DeviceSession::Devices DeviceSession::list(const QList<AudioDev>& all, const QString& inputUID,
                                           const QString& outputUID) {
    Devices d{all, AudioDevices::inputs(all), AudioDevices::outputs(all), inputUID, outputUID};
    if (!withUID(d.inputs, d.inputUID)) {
        const AudioDev* pick = firstNamed(d.inputs, kPreferred);
        if (!pick && !d.inputs.isEmpty()) pick = &d.inputs.front();
        d.inputUID = pick ? pick->uid : QString();
    }
    // Headphones the backend cannot play elsewhere are not offered elsewhere.
    if (AudioSystem::current().headphonesOnInputOnly())
        d.outputs.removeIf([&](const AudioDev& o) { return o.uid != d.inputUID; });
    if (!withUID(d.outputs, d.outputUID)) {
        const AudioDev* pick = withUID(d.outputs, d.inputUID);
        if (!pick) pick = firstNamed(d.outputs, kPreferred);
        if (!pick && !d.outputs.isEmpty()) pick = &d.outputs.front();
        d.outputUID = pick ? pick->uid : QString();
    }
    return d;
}

std::optional<DeviceSession::Input> DeviceSession::open(const QString& inputUID,
                                                        const QString& outputUID, Status& failure) {
    stop();
    const std::optional<DeviceSnapshot> device = AudioSystem::current().snapshot(inputUID);
    if (!device) {
        failure = noInterface();
        return std::nullopt;
    }
    Input in;
    in.device = device->device;
    in.headphones =
        outputUID == inputUID ? std::optional(device->device) : AudioDevices::find(outputUID);
    if (const auto error = capture.start(*device)) {
        failure = Status::failed(!error->said.isEmpty()
                                     ? error->said
                                     : QStringLiteral("Could not open ") + in.device.name +
                                           QStringLiteral(": ") + error->description());
        return std::nullopt;
    }
    in.channels = static_cast<int>(capture.channels());
    in.rate = roundedRate(capture.rate());
    in.bufferFrames = capture.bufferFrames();
    in.names = device->inputNames.mid(0, std::max(in.channels, 1));
    for (int c = static_cast<int>(in.names.size()) + 1; c <= in.channels; ++c)
        in.names.append(AudioSystem::inputLabel({}, c));
    return in;
}

void DeviceSession::listen(std::function<void()> changed) {
    AudioSystem::current().onChange([changed = std::move(changed)](AudioChange) { changed(); });
    listening = true;
}

void DeviceSession::stopListening() {
    if (listening) AudioSystem::current().onChange({});
    listening = false;
}

void DeviceSession::run(const Input& in, InputCapture::BufferFn buffers) {
    capture.setOnBuffer(std::move(buffers));
    // Built in one step: a name holding "%1" must not take the next argument.
    qInfo().noquote() << QStringLiteral("input: %1 %2ch @%3")
                             .arg(in.device.name, QString::number(in.channels),
                                  QString::number(in.rate));
}

DeviceSession::Format DeviceSession::headphoneFormat(const std::optional<AudioDev>& device,
                                                     int captureRate) {
    int raw = 0;
    double hz = 0.0;
    if (device) {
        raw = static_cast<int>(device->outputs);
        hz = AudioDevices::sampleRate(device->id);
    } else {
        std::tie(raw, hz) = AudioSystem::current().defaultOutput();
    }
    if (hz <= 0.0) hz = captureRate;
    return {raw >= 3 ? raw : 2, hz};
}

Status DeviceSession::startHeadphones(const std::optional<AudioDev>& device, const Format& format,
                                      PullFn pull, void* user) {
    qInfo().noquote() << QStringLiteral("headphones: %1 %2ch @%3")
                             .arg(device ? device->name : QStringLiteral("default"),
                                  QString::number(format.channels), rateWithFraction(format.rate));
    PlaybackResult opened = AudioSystem::current().openPlayback(device ? &*device : nullptr,
                                                                format.channels, pull, user);
    headphones = std::move(opened.stream);
    Status failures;
    if (!opened.deviceError.isEmpty()) {
        failures = Status::failed(QStringLiteral("Could not open headphones ") + device->name +
                                  QStringLiteral(": ") + opened.deviceError);
    }
    if (!headphones) {
        const Status failed =
            Status::failed(QStringLiteral("Headphone output failed: ") + opened.startError);
        failures =
            failures.empty() ? failed : failures + Status::ok(QStringLiteral(" · ")) + failed;
    }
    return failures;
}

void DeviceSession::stop() {
    capture.setOnBuffer({});
    capture.stop();
    headphones.reset();  // no headphone callback runs after this
}

DeviceSession::Change DeviceSession::judge(const QString& inputUID, int rate, int channels) const {
    // A loss is never ignored: nothing would tell us of it again.
    // An interface whose inputs went (PipeWire keeps a card's outputs when
    // its source node goes) is gone as an input.
    const std::optional<DeviceSnapshot> input = AudioSystem::current().snapshot(inputUID);
    if (!input || input->device.inputs < 1 || !capture.alive()) return Change::gone;
    const bool headphonesDown = headphones && !headphones->running();
    const bool same = roundedRate(input->rate) == rate && input->device.inputs == channels;
    return same && !headphonesDown ? Change::same : Change::differs;
}

Status DeviceSession::started(const Input& in) {
    QString text = in.device.name + QStringLiteral(" — %1 inputs at %2 kHz")
                                        .arg(QString::number(in.channels), rateText(in.rate));
    if (in.headphones) text += QStringLiteral(" · headphones: ") + in.headphones->name;
    if (in.rate != kNominalRate)
        text += QStringLiteral("  ⚠︎ set 48 kHz in Focusrite Control to match video");
    return Status::ok(text);
}

Status DeviceSession::noInterface() {
    return Status::failed(QStringLiteral("No audio interface found — plug in the Scarlett"));
}

Status DeviceSession::denied() {
    return Status::failed(QStringLiteral(
        "Microphone access denied — System Settings → Privacy → Microphone → Tessaly"));
}

Status DeviceSession::disconnected() {
    return Status::failed(QStringLiteral("Audio interface disconnected"));
}
