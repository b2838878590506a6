#pragma once

#include <jack/jack.h>

#include <QStringList>
#include <atomic>
#include <memory>
#include <vector>

#include "hardware/AudioSystem.h"

class JackSystem;

// Our capture client: one input port per capture port of the device
// ("in_1" …), connected one to one; its process callback hands the port
// buffers to `render` with the callback's frame count.
class JackCapture final : public CaptureStream {
public:
    static std::unique_ptr<JackCapture> open(const QStringList& sources, RenderFn render,
                                             void* user, JackSystem& system, CaptureError& error);
    ~JackCapture() override;

    int channels() const override { return static_cast<int>(ports.size()); }
    double rate() const override { return hz; }
    std::uint64_t xruns() const override { return xrunCount.load(std::memory_order_relaxed); }

private:
    JackCapture() = default;
    static int process(jack_nframes_t frames, void* self);
    static int xrun(void* self);

    jack_client_t* client = nullptr;
    std::vector<jack_port_t*> ports;
    std::vector<const float*> buffers;  // filled each cycle; sized once
    RenderFn render = nullptr;
    void* user = nullptr;
    double hz = 0.0;
    std::atomic<std::uint64_t> xrunCount{0};
    JackSystem* system = nullptr;
    std::uint64_t epoch = 0;  // the system's shutdown count when opened
};

// Our headphone client: `channels` output ports ("out_1" …) connected one to
// one to the device's playback ports, each filled by `pull`.
class JackPlayback final : public PlaybackStream {
public:
    static std::unique_ptr<JackPlayback> open(const QStringList& targets, int channels, PullFn pull,
                                              void* user, JackSystem& system, QString& error);
    ~JackPlayback() override;

    bool running() const override { return alive.load(); }

private:
    JackPlayback() = default;
    static int process(jack_nframes_t frames, void* self);

    jack_client_t* client = nullptr;
    std::vector<jack_port_t*> ports;
    std::vector<float*> buffers;
    PullFn pull = nullptr;
    void* user = nullptr;
    JackSystem* system = nullptr;
    std::uint64_t epoch = 0;
    std::atomic<bool> alive{false};
};
