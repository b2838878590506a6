#include "hardware/demo/DemoSystem.h"

#include <chrono>
#include <cmath>
#include <numbers>

#include "hardware/RealtimeScope.h"

namespace {

constexpr int kLoopbackFirst = 18;  // inputs 19 and 20 (0-based 18 and 19)
constexpr int kSines = 12;
constexpr int kNoises = 4;
constexpr int kSilent = 2;

enum class Signal { sine, noise, silence, loopback };

Signal signalOf(int input, int inputs) {
    if (inputs >= kLoopbackFirst + 2 && (input == kLoopbackFirst || input == kLoopbackFirst + 1)) {
        return Signal::loopback;
    }
    const int slot = input % (kSines + kNoises + kSilent + 2);
    if (slot < kSines) return Signal::sine;
    if (slot < kSines + kNoises) return Signal::noise;
    if (slot < kSines + kNoises + kSilent) return Signal::silence;
    return Signal::sine;
}

double sineHz(int input) {
    return 110.0 * std::pow(2.0, (input % 24) / 4.0);
}
float sineLevel(int input) {
    return 0.5f * std::pow(0.5f, static_cast<float>(input % 4));
}
float noiseLevel(int input) {
    return 0.05f * static_cast<float>(1 << (input % kNoises));
}

}  // namespace

class DemoCapture final : public CaptureStream {
public:
    DemoCapture(DemoSystem& s, RenderFn r, void* u)
        : system(s), render(r), user(u), hz(s.rate.load()) {
        system.capture.exchange(this);
    }
    // Waits out a buffer in progress: after this no render call runs.
    ~DemoCapture() override { system.capture.exchange(nullptr); }
    int channels() const override { return system.options.inputs; }
    double rate() const override { return hz; }
    int bufferFrames() const override { return DemoSystem::bufferFrames; }

    DemoSystem& system;
    RenderFn render;
    void* user;
    double hz = 0;
};

class DemoPlayback final : public PlaybackStream {
public:
    DemoPlayback(DemoSystem& s, int n, PullFn p, void* u)
        : system(s), channels(n), pull(p), user(u) {
        buffers.assign(static_cast<std::size_t>(channels),
                       std::vector<float>(DemoSystem::bufferFrames));
        for (auto& b : buffers) pointers.push_back(b.data());
        system.playback.exchange(this);
    }
    ~DemoPlayback() override { system.playback.exchange(nullptr); }
    bool running() const override { return true; }

    DemoSystem& system;
    int channels;
    PullFn pull;
    void* user;
    std::vector<std::vector<float>> buffers;
    std::vector<float*> pointers;
};

DemoSystem::DemoSystem(Options o)
    : options(o),
      rate(o.rate),
      in(static_cast<std::size_t>(o.inputs), std::vector<float>(bufferFrames)),
      out(2, std::vector<float>(bufferFrames)) {
    for (auto& b : in) inPtrs.push_back(b.data());
    if (o.realTime) clock = std::thread([this] { run(); });
}

DemoSystem::~DemoSystem() {
    stopping.store(true);
    if (clock.joinable()) clock.join();
}

void DemoSystem::step(int buffers) {
    for (int b = 0; b < buffers; ++b) tick();
}

void DemoSystem::run() {
    // Sleeps between buffers only; a stop is seen within one buffer.
    auto next = std::chrono::steady_clock::now();
    while (!stopping.load()) {
        tick();
        next += std::chrono::nanoseconds(1'000'000'000LL * bufferFrames / rate.load());
        std::this_thread::sleep_until(next);
    }
}

void DemoSystem::tick() {
    if (!present.load(std::memory_order_relaxed)) return;
    RealtimeScope realtime;
    // Stepped by a test, it has no time of its own: its frames tell all.
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    const BufferClock at{static_cast<std::uint32_t>(frame),
                         options.realTime ? static_cast<std::uint64_t>(micros.count()) : 0};
    if (options.loseEvery > 0 && ++cycles % options.loseEvery == 0) {
        // A dropout: the clock moves on, nothing is captured or played.
        frame += bufferFrames;
        return;
    }
    // The headphones first, so inputs 19 and 20 carry this very buffer back.
    for (auto& b : out) std::fill(b.begin(), b.end(), 0.0f);
    playback.use([this](DemoPlayback& p) {
        p.pull(p.user, p.pointers.data(), p.channels, bufferFrames);
        for (std::size_t c = 0; c < out.size() && c < p.buffers.size(); ++c) {
            std::copy(p.buffers[c].begin(), p.buffers[c].end(), out[c].begin());
        }
    });
    for (int i = 0; i < options.inputs; ++i) {
        float* b = in[static_cast<std::size_t>(i)].data();
        for (int f = 0; f < bufferFrames; ++f) b[f] = sample(i, frame + f);
    }
    capture.use([this, &at](DemoCapture& c) {
        c.render(c.user, inPtrs.data(), options.inputs, bufferFrames, at);
    });
    frame += bufferFrames;
}

float DemoSystem::sample(int input, std::int64_t at) {
    // Half a step up, so that the writer's truncation keeps the count.
    if (options.counting) return (static_cast<float>((at + input) % 32768) + 0.5f) / 32768.0f;
    switch (signalOf(input, options.inputs)) {
        case Signal::sine: {
            const double phase = std::fmod(
                static_cast<double>(at) * sineHz(input) / rate.load(std::memory_order_relaxed),
                1.0);
            return sineLevel(input) * static_cast<float>(std::sin(2.0 * std::numbers::pi * phase));
        }
        case Signal::noise:
            noise ^= noise << 13;
            noise ^= noise >> 17;
            noise ^= noise << 5;
            return noiseLevel(input) * (static_cast<float>(noise) / 2147483648.0f - 1.0f);
        case Signal::silence:
            return 0.0f;
        case Signal::loopback:
            return out[static_cast<std::size_t>(input - kLoopbackFirst)]
                      [static_cast<std::size_t>(at % bufferFrames)];
    }
    return 0.0f;
}

QList<AudioDev> DemoSystem::devices() {
    if (!present.load()) return {};
    return {AudioDev{deviceId, options.name, uid(), options.inputs, options.outputs}};
}

double DemoSystem::nominalRate(std::uint32_t id) {
    return id == deviceId && present.load() ? static_cast<double>(rate.load()) : 0.0;
}

QString DemoSystem::inputName(std::uint32_t id, int channel) {
    if (id != deviceId || channel < 1 || channel > options.inputs) return {};
    const int i = channel - 1;
    switch (signalOf(i, options.inputs)) {
        case Signal::sine:
            return QStringLiteral("Sine %1 Hz").arg(qRound(sineHz(i)));
        case Signal::noise:
            return QStringLiteral("Noise %1").arg(channel);
        case Signal::silence:
            return QStringLiteral("Silence %1").arg(channel);
        case Signal::loopback:
            return QStringLiteral("Loopback %1").arg(i - kLoopbackFirst + 1);
    }
    return {};
}

std::unique_ptr<CaptureStream> DemoSystem::openCapture(const DeviceSnapshot& device,
                                                       RenderFn render, void* user,
                                                       CaptureError& error) {
    if (nominalRate(device.device.id) == 0.0) {
        error = CaptureError::deviceNotFound();
        return nullptr;
    }
    if (options.inputs < 1) {
        error = CaptureError::noInputs();
        return nullptr;
    }
    return std::make_unique<DemoCapture>(*this, render, user);
}

std::pair<int, double> DemoSystem::defaultOutput() {
    return {2, static_cast<double>(rate.load())};
}

PlaybackResult DemoSystem::openPlayback(const AudioDev* device, int channels, PullFn pull,
                                        void* user) {
    PlaybackResult result;
    if (device && nominalRate(device->id) == 0.0) result.deviceError = deviceGone();
    result.stream = std::make_unique<DemoPlayback>(*this, channels, pull, user);
    return result;
}

void DemoSystem::unplug() {
    present.store(false);
    notify(AudioChange::configuration);
}

void DemoSystem::plugIn() {
    present.store(true);
    notify(AudioChange::configuration);
}

void DemoSystem::changeRate(int hz) {
    rate.store(hz);
    notify(AudioChange::rate);
}
