#pragma once

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "hardware/AudioSystem.h"
#include "hardware/CallbackSlot.h"

class DemoCapture;
class DemoPlayback;

// A simulated interface for trying Tessaly without audio hardware, and for
// tests that need a real clock-driven audio thread: one device with a
// distinct signal on each input (tones at several levels and pitches, noise,
// silence) and inputs 19 and 20 carrying back what is played on outputs 1
// and 2. Its own clock thread delivers 256-frame buffers at real-time pace,
// pulling the headphones and then rendering the capture, as duplex hardware
// would. The clock thread takes no lock: its streams are handed to it
// through callback slots and its device state through atomics.
class DemoSystem final : public AudioSystem {
public:
    struct Options {
        int inputs = 20;
        int outputs = 20;
        int rate = 48000;
        // False: no clock thread; buffers come only from step(), on the
        // caller's thread (deterministic runs in tests).
        bool realTime = true;
        // The device's name; it says that it is simulated.
        QString name = QStringLiteral("Tessaly Demo Interface (simulated)");
        // Every input carries its frame number plus its index, modulo 32768,
        // as the top 15 bits of its 24-bit samples: a file then tells which
        // frames it holds.
        bool counting = false;
        // Every this many buffers one is lost before it reaches the capture,
        // as a dropout would lose it (0: none).
        int loseEvery = 0;
    };
    static constexpr std::uint32_t deviceId = 1;
    static constexpr int bufferFrames = 256;
    static QString uid() { return QStringLiteral("tessaly-demo"); }

    explicit DemoSystem(Options options);
    DemoSystem() : DemoSystem(Options{}) {}
    ~DemoSystem() override;

    QList<AudioDev> devices() override;
    double nominalRate(std::uint32_t id) override;
    QString inputName(std::uint32_t id, int channel) override;
    std::unique_ptr<CaptureStream> openCapture(const DeviceSnapshot& device, RenderFn render,
                                               void* user, CaptureError& error) override;
    std::pair<int, double> defaultOutput() override;
    PlaybackResult openPlayback(const AudioDev* device, int channels, PullFn pull,
                                void* user) override;

    // Test hooks, main thread: the cable is pulled (the device disappears and
    // falls silent) or put back; the interface switches to another rate.
    void unplug();
    void plugIn();
    void changeRate(int rate);
    // Test hook: delivers `buffers` buffers now, on the calling thread.
    void step(int buffers);

private:
    friend class DemoCapture;
    friend class DemoPlayback;

    void run();
    void tick();  // one buffer, on the clock thread (or the stepping one)
    float sample(int input, std::int64_t frame);

    const Options options;
    std::atomic<bool> present{true};
    std::atomic<int> rate;
    CallbackSlot<DemoCapture> capture;
    CallbackSlot<DemoPlayback> playback;
    std::atomic<bool> stopping{false};

    // The clock thread's own.
    std::int64_t frame = 0;
    std::int64_t cycles = 0;  // buffers the clock went through
    std::uint32_t noise = 0x9E3779B9u;
    std::vector<std::vector<float>> in, out;  // one buffer per input and per output
    std::vector<const float*> inPtrs;
    std::thread clock;
};
