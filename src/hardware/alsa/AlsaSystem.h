#pragma once

#include <alsa/asoundlib.h>

#include <QStringList>
#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "hardware/AudioSystem.h"
#include "hardware/alsa/AlsaPcm.h"
#include "hardware/alsa/CardWatch.h"

class AlsaStream;

// Audio hardware straight through ALSA, with no sound server: every card
// that captures (from /proc/asound, so a card another program holds is
// listed too), opened as its first capture device "hw:CARD=<id>,DEV=<n>",
// named by the card (duplicates numbered), under the uid the JACK backend
// gives the same card; and each PCM the user names (a virtual interface from
// ~/.asoundrc), named by its description. What a PCM offers is read by
// opening it without blocking, and kept until the cards change: a card that
// is busy, even with our own capture, keeps what it said before.
//
// The headphones play on the recording card, from the capture's own thread
// (AlsaStream); another card's outputs are not offered. Cards that come or
// go are heard from /dev/snd.
class AlsaSystem final : public AudioSystem {
public:
    // `named`: PCMs given by name; `root` is put before /proc, /sys and /dev (tests).
    explicit AlsaSystem(QStringList named = {}, const QString& root = {});
    ~AlsaSystem() override;

    QList<AudioDev> devices() override;
    double nominalRate(std::uint32_t id) override;
    std::optional<DeviceSnapshot> snapshot(const QString& uid) override;
    std::unique_ptr<CaptureStream> openCapture(const DeviceSnapshot& device, RenderFn render,
                                               void* user, CaptureError& error) override;
    std::pair<int, double> defaultOutput() override;
    PlaybackResult openPlayback(const AudioDev* device, int channels, PullFn pull,
                                void* user) override;
    bool headphonesOnInputOnly() const override { return true; }

    // The status texts of a card that will not open.
    static QString busy(const QString& card) {
        return card + QStringLiteral(" is in use by another program");
    }
    static QString forbidden(const QString& card) {
        return card +
               QStringLiteral(": no permission to open it (is the user in the audio group?)");
    }

private:
    struct Device {
        AudioDev dev;
        QString capture;   // PCM names
        QString playback;  // empty: none
        double rate = 0.0;
    };
    std::vector<Device> scan();
    // What `pcm` offers, read or kept from before; nothing when it is not
    // there. Busy or forbidden, it is there: it offers what it said last, or
    // `guess` (2 channels when none). Any other failure is `guess`.
    std::optional<AlsaPcm::Caps> caps(const QString& pcm, snd_pcm_stream_t stream,
                                      std::optional<AlsaPcm::Caps> guess);
    QString description(const QString& pcm);
    std::uint32_t idFor(const QString& uid);

    const QStringList named;
    const QString root;
    std::map<QString, AlsaPcm::Caps> known;  // by direction and PCM name
    std::map<QString, QString> descriptions;
    std::map<QString, std::uint32_t> ids;
    // Who hears of a card gone from a stream's thread: nobody once this is destroyed.
    const std::shared_ptr<std::atomic<AlsaSystem*>> self;
    std::weak_ptr<AlsaStream> running;  // the headphones join it while it lives
    Device runningDevice;
    CardWatch watch;
};
