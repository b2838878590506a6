#include "hardware/alsa/AlsaSystem.h"

#include <QDebug>
#include <utility>

#include "hardware/alsa/AlsaCard.h"
#include "hardware/alsa/AlsaStream.h"

namespace {

constexpr AlsaPcm::Caps kGuess{2, AlsaPcm::preferredRate};

// No xrun notices: there is no server to give them, and the card's own
// counter tells every loss.
class AlsaCapture final : public CaptureStream {
public:
    explicit AlsaCapture(std::shared_ptr<AlsaStream> s) : stream(std::move(s)) {}
    ~AlsaCapture() override { stream->detachCapture(); }
    int channels() const override { return stream->setup().channels; }
    double rate() const override { return stream->setup().rate; }
    int bufferFrames() const override { return static_cast<int>(stream->setup().period); }
    bool alive() const override { return stream->alive(); }

private:
    std::shared_ptr<AlsaStream> stream;
};

class AlsaPlayback final : public PlaybackStream {
public:
    explicit AlsaPlayback(std::shared_ptr<AlsaStream> s) : stream(std::move(s)) {}
    ~AlsaPlayback() override { stream->detachHeadphones(); }
    bool running() const override { return stream->headphonesRunning(); }

private:
    std::shared_ptr<AlsaStream> stream;
};

}  // namespace

AlsaSystem::AlsaSystem(QStringList pcms, const QString& systemRoot)
    : named(std::move(pcms)),
      root(systemRoot),
      self(std::make_shared<std::atomic<AlsaSystem*>>(this)),
      watch(systemRoot, [this] {
          // Another card may stand under a name now; the one we use has not changed.
          std::erase_if(known, [this](const auto& entry) {
              const QString pcm = entry.first.mid(1);
              return pcm != runningDevice.capture && pcm != runningDevice.playback;
          });
          notify(AudioChange::configuration);
      }) {}

AlsaSystem::~AlsaSystem() {
    self->store(nullptr);
}

std::uint32_t AlsaSystem::idFor(const QString& uid) {
    return ids.try_emplace(uid, static_cast<std::uint32_t>(ids.size() + 1)).first->second;
}

std::optional<AlsaPcm::Caps> AlsaSystem::caps(const QString& pcm, snd_pcm_stream_t stream,
                                              std::optional<AlsaPcm::Caps> guess) {
    // Our own capture answers for its card, which is busy with us.
    const auto ours = running.lock();
    if (ours && ours->alive() && stream == SND_PCM_STREAM_CAPTURE && pcm == runningDevice.capture)
        return AlsaPcm::Caps{ours->setup().channels, ours->setup().rate};
    // A card is read once, until the cards change; a PCM by name every time,
    // since nothing else says whether it is there.
    const QString key = (stream == SND_PCM_STREAM_CAPTURE ? u'c' : u'p') + pcm;
    const auto kept = known.find(key);
    if (guess && kept != known.end()) return kept->second;
    int error = 0;
    if (const auto found = AlsaPcm::probe(pcm, stream, error)) return known[key] = *found;
    // Busy (perhaps with our own headphones) or forbidden: there all the same.
    const bool there = error == -EBUSY || error == -EACCES || error == -EPERM;
    if (kept != known.end() && there) return kept->second;
    return there ? guess.value_or(kGuess) : guess;
}

QString AlsaSystem::description(const QString& pcm) {
    const auto kept = descriptions.find(pcm);
    if (kept != descriptions.end()) return kept->second;
    QString text;
    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) == 0) {
        for (void** h = hints; *h && text.isEmpty(); ++h) {
            char* name = snd_device_name_get_hint(*h, "NAME");
            if (name && pcm == QString::fromUtf8(name)) {
                char* desc = snd_device_name_get_hint(*h, "DESC");
                text = QString::fromUtf8(desc).simplified();  // its lines, as one
                std::free(desc);
            }
            std::free(name);
        }
        snd_device_name_free_hint(hints);
    }
    return descriptions[pcm] = text.isEmpty() ? pcm : text;
}

std::vector<AlsaSystem::Device> AlsaSystem::scan() {
    std::vector<Device> out;
    std::map<QString, int> seen;  // names given so far
    // A card the system lists is there whatever its PCM says (what it offers
    // is then guessed); a PCM by name only when it opens, or is busy.
    auto add = [&](const QString& uid, QString name, const QString& capture,
                   const QString& playback, std::optional<AlsaPcm::Caps> guess) {
        const auto in = caps(capture, SND_PCM_STREAM_CAPTURE, guess);
        if (!in) return;
        const auto outs = playback.isEmpty() ? std::nullopt
                                             : caps(playback, SND_PCM_STREAM_PLAYBACK,
                                                    guess ? std::optional(kGuess) : std::nullopt);
        // Two cards of one model: the second is "<name> 2".
        if (const int same = ++seen[name]; same > 1) name += u' ' + QString::number(same);
        out.push_back(
            Device{AudioDev{idFor(uid), name, uid, in->channels, outs ? outs->channels : 0},
                   capture, outs ? playback : QString(), static_cast<double>(in->rate)});
    };
    for (const AlsaCard& card : AlsaCard::all(root)) {
        const AlsaPcm::Caps guess{card.captureChannels > 0 ? card.captureChannels : 2,
                                  AlsaPcm::preferredRate};
        add(card.uid(), card.name, card.pcm(card.captures[0]),
            card.playbacks.isEmpty() ? QString() : card.pcm(card.playbacks[0]), guess);
    }
    for (const QString& pcm : named)
        add(QStringLiteral("alsa-pcm:") + pcm, description(pcm), pcm, pcm, std::nullopt);
    return out;
}

QList<AudioDev> AlsaSystem::devices() {
    QList<AudioDev> out;
    for (const Device& d : scan()) out.append(d.dev);
    return out;
}

double AlsaSystem::nominalRate(std::uint32_t id) {
    for (const Device& d : scan())
        if (d.dev.id == id) return d.rate;
    return 0.0;
}

std::optional<DeviceSnapshot> AlsaSystem::snapshot(const QString& uid) {
    for (const Device& d : scan()) {
        if (d.dev.uid != uid) continue;
        DeviceSnapshot s{d.dev, d.rate, {}, {}};
        for (int c = 1; c <= std::max<std::int64_t>(d.dev.inputs, 1); ++c)
            s.inputNames.append(inputLabel({}, c));
        return s;
    }
    return std::nullopt;
}

std::unique_ptr<CaptureStream> AlsaSystem::openCapture(const DeviceSnapshot& device,
                                                       RenderFn render, void* user,
                                                       CaptureError& error) {
    const auto found = [&]() -> std::optional<Device> {
        for (Device& d : scan())
            if (d.dev.uid == device.device.uid) return d;
        return std::nullopt;
    }();
    if (!found) {
        error = CaptureError::deviceNotFound();
        return nullptr;
    }
    int code = 0;
    QString step;
    auto gone = [system = self] {
        if (AlsaSystem* s = system->load()) s->notify(AudioChange::configuration);
    };
    auto stream = AlsaStream::open(found->capture, gone, code, step);
    if (!stream) {
        error = {step, code};
        if (code == -EBUSY) error.said = busy(found->dev.name);
        if (code == -EACCES || code == -EPERM) error.said = forbidden(found->dev.name);
        return nullptr;
    }
    const AlsaPcm::Setup& s = stream->setup();
    qInfo().noquote() << QStringLiteral("alsa: %1, %2 frames a period, %3 in the buffer%4")
                             .arg(found->capture)
                             .arg(s.period)
                             .arg(s.buffer)
                             .arg(s.mmap ? QString() : QStringLiteral(", read/write access"));
    stream->attachCapture(render, user);
    running = stream;
    runningDevice = *found;
    return std::make_unique<AlsaCapture>(std::move(stream));
}

std::pair<int, double> AlsaSystem::defaultOutput() {
    const bool on = !running.expired();
    return {on && runningDevice.dev.outputs > 0 ? static_cast<int>(runningDevice.dev.outputs) : 2,
            on ? runningDevice.rate : static_cast<double>(AlsaPcm::preferredRate)};
}

PlaybackResult AlsaSystem::openPlayback(const AudioDev* device, int channels, PullFn pull,
                                        void* user) {
    PlaybackResult result;
    const std::shared_ptr<AlsaStream> stream = running.lock();
    if (device && (!stream || device->uid != runningDevice.dev.uid))
        result.deviceError =
            QStringLiteral("through ALSA, headphones play on the recording interface only");
    if (!stream || !stream->alive()) {
        result.startError = QStringLiteral("no interface is recording");
    } else if (runningDevice.playback.isEmpty()) {
        result.startError = runningDevice.dev.name + QStringLiteral(" has no outputs");
    } else {
        result.startError = stream->attachHeadphones(runningDevice.playback, channels, pull, user);
        if (result.startError.isEmpty()) result.stream = std::make_unique<AlsaPlayback>(stream);
    }
    return result;
}
