// The headphone output: at every start, an output on the chosen device (or
// the default one) fed from the monitor ring at the ratio of the capture rate
// to the output rate; and the test tone.

#include <QDebug>
#include <QLocale>

#include "engine/RoomEngine.h"
#include "hardware/AudioDevices.h"

namespace {

// 48000 → "48000.0", 44100.5 → "44100.5": shortest form, always with a fraction.
QString rateWithFraction(double hz) {
    QString text = QString::number(hz, 'g', QLocale::FloatingPointShortest);
    if (!text.contains(u'.') && !text.contains(u'e')) text += QStringLiteral(".0");
    return text;
}

}  // namespace

QString RoomEngine::startHeadphones(const std::optional<AudioDev>& device) {
    AudioSystem& system = AudioSystem::current();
    int raw = 0;
    double hz = 0.0;
    if (device) {
        raw = static_cast<int>(device->outputs);
        hz = AudioDevices::sampleRate(device->id);
    } else {
        std::tie(raw, hz) = system.defaultOutput();
    }
    if (hz <= 0.0) hz = hwRate();
    const int channels = raw >= 3 ? raw : 2;
    qInfo().noquote() << QStringLiteral("headphones: %1 %2ch @%3")
                             .arg(device ? device->name : QStringLiteral("default"))
                             .arg(channels)
                             .arg(rateWithFraction(hz));

    feed = std::make_unique<HeadphoneFeed>(ring, hwRate() / hz);
    PlaybackResult opened = system.openPlayback(device ? &*device : nullptr, channels,
                                                &HeadphoneFeed::pull, feed.get());
    source = std::move(opened.stream);
    QStringList failures;
    if (!opened.deviceError.isEmpty()) {
        failures << QStringLiteral("Could not open headphones ") + device->name +
                        QStringLiteral(": ") + opened.deviceError;
    }
    if (!source) failures << QStringLiteral("Headphone output failed: ") + opened.startError;
    return failures.join(QStringLiteral(" · "));
}
