#pragma once

#include <QList>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "base/BufferClock.h"
#include "hardware/AudioDev.h"
#include "hardware/CaptureError.h"

class ChangeDispatcher;

// What changed in the audio hardware, as the engine needs to know it.
enum class AudioChange {
    rate,           // a device's sample rate
    configuration,  // devices, ports or connections came or went
    shutdown,       // the audio server went away
};

// Audio thread: one captured buffer, one float array per channel, valid only
// during the call, and where it stands on the device's clocks (what was lost
// before it is told from them).
using RenderFn = void (*)(void* user, const float* const* buffers, std::int64_t channels,
                          std::int64_t frames, const BufferClock& clock);
// Output thread: fill `frames` samples of each of `channels` output buffers.
using PullFn = void (*)(void* user, float* const* outputs, int channels, std::int64_t frames);

// A running capture. Destroying it stops it: after the destructor returns no
// render call runs and no buffer is touched.
class CaptureStream {
public:
    virtual ~CaptureStream() = default;
    virtual int channels() const = 0;
    virtual double rate() const = 0;
    // The frames of one buffer, as the backend delivers them now.
    virtual int bufferFrames() const { return 1024; }
    // Any thread: how many times the backend said it lost buffers before
    // they reached us (notices: one may stand for several buffers, or for
    // another program's trouble).
    virtual std::uint64_t xrunNotices() const { return 0; }
    // Main thread: false once the server under it went away; it never
    // delivers again.
    virtual bool alive() const { return true; }
};

// A running headphone output; destroying it stops it, as for a capture.
class PlaybackStream {
public:
    virtual ~PlaybackStream() = default;
    // Main thread: false once the backend stopped it behind our back.
    virtual bool running() const = 0;
};

// What every backend says when the chosen headphone device has gone.
inline QString deviceGone() {
    return QStringLiteral("the device is gone");
}

struct PlaybackResult {
    std::unique_ptr<PlaybackStream> stream;  // none when the output could not start
    QString deviceError;  // the chosen device could not be used (the output may still run)
    QString startError;   // why there is no stream
};

// One audio backend (JACK, or the simulated interface), chosen at start-up.
// Everything the engine knows of the hardware goes through here; nothing
// outside src/hardware knows which backend runs.
//
// Main thread only, unless a member says otherwise.
class AudioSystem {
public:
    AudioSystem();
    virtual ~AudioSystem();

    // Every device the backend sees, in its own order; empty when there is no
    // server or no hardware.
    virtual QList<AudioDev> devices() = 0;
    // A device's nominal rate in Hz; 0.0 when unknown.
    virtual double nominalRate(std::uint32_t id) = 0;
    // The device `uid` as it stands now; nothing when it is not there. Built
    // from the calls above unless a backend reads it in one go.
    virtual std::optional<DeviceSnapshot> snapshot(const QString& uid);

    // Starts capturing every input of `device`; `render` is then called on the
    // audio thread for every buffer. Returns nothing and sets `error` on failure.
    virtual std::unique_ptr<CaptureStream> openCapture(const DeviceSnapshot& device,
                                                       RenderFn render, void* user,
                                                       CaptureError& error) = 0;
    // The channel count and rate the output has when no device is chosen.
    virtual std::pair<int, double> defaultOutput() = 0;
    // Starts `channels` output channels on `device` (or the default output),
    // each fed by `pull` on the output thread.
    virtual PlaybackResult openPlayback(const AudioDev* device, int channels, PullFn pull,
                                        void* user) = 0;

    // Whether headphones can play only on the device that records.
    virtual bool headphonesOnInputOnly() const { return false; }

    // Main thread: `handler` hears of every change from now on (none to stop).
    void onChange(std::function<void(AudioChange)> handler);
    // Main thread: devices found since the last call to be known before
    // under another uid (jackd2's "system", now its card), as (old, new).
    // Whoever keeps settings moves them: a device query never writes them.
    std::vector<std::pair<QString, QString>> takeRenames() { return std::exchange(renames, {}); }

    // How input `channel` is shown: its `own` name, else "Input N".
    static QString inputLabel(const QString& own, int channel) {
        return own.isEmpty() ? QStringLiteral("Input %1").arg(channel) : own;
    }

    // The backend the program runs on.
    static AudioSystem& current();
    static void install(std::unique_ptr<AudioSystem> system);

protected:
    // Any thread, even a signal-like backend callback: reaches the handler on
    // the main thread. Only writes to a pipe.
    void notify(AudioChange change);
    // Main thread: a device was known as `from` and is `to` now.
    void renamed(const QString& from, const QString& to) { renames.emplace_back(from, to); }
    // The name the device gives input `channel` (1-based); empty when none.
    virtual QString inputName(std::uint32_t id, int channel);

private:
    std::vector<std::pair<QString, QString>> renames;
    std::unique_ptr<ChangeDispatcher> dispatcher;
};
