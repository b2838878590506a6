#pragma once

#include <map>

#include "hardware/AudioSystem.h"

// A backend fed with a device list. Its capture delivers nothing by itself and its headphones pull
// nothing: a test drives both through the engine's own callbacks (render, pull).
class FakeAudio final : public AudioSystem {
public:
    QList<AudioDev> list;
    std::map<std::uint32_t, double> rates;  // 48000 when absent
    std::map<std::pair<std::uint32_t, int>, QString> names;
    QString playbackStartError;  // the output refuses to start
    RenderFn render = nullptr;   // the running capture's entry
    void* renderUser = nullptr;
    PullFn pull = nullptr;  // the running headphones' entry
    void* pullUser = nullptr;
    QList<AudioDev> devices() override { return list; }
    const AudioDev* listed(std::uint32_t id) const {
        const auto d = std::find_if(list.begin(), list.end(), [&](auto& e) { return e.id == id; });
        return d == list.end() ? nullptr : &*d;
    }
    double nominalRate(std::uint32_t id) override {
        return !listed(id) ? 0.0 : rates.count(id) ? rates[id] : 48000.0;
    }
    QString inputName(std::uint32_t id, int channel) override { return names[{id, channel}]; }
    std::unique_ptr<CaptureStream> openCapture(const DeviceSnapshot& s, RenderFn r, void* user,
                                               CaptureError& error) override {
        const std::uint32_t id = s.device.id;
        const AudioDev* d = listed(id);
        if (!d || d->inputs < 1) {
            error = d ? CaptureError::noInputs() : CaptureError::deviceNotFound();
            return nullptr;
        }
        render = r;
        renderUser = user;
        return std::make_unique<Stream>(*this, static_cast<int>(d->inputs), nominalRate(id));
    }
    std::pair<int, double> defaultOutput() override { return {2, 44100.0}; }
    PlaybackResult openPlayback(const AudioDev*, int, PullFn p, void* user) override {
        if (!playbackStartError.isEmpty()) return {nullptr, {}, playbackStartError};
        pull = p;
        pullUser = user;
        return {std::make_unique<Output>(*this), {}, {}};
    }
    void change(AudioChange c) { notify(c); }

private:
    struct Stream final : CaptureStream {
        Stream(FakeAudio& a, int n, double r) : audio(a), nch(n), hz(r) {}
        ~Stream() override { audio.render = nullptr; }
        int channels() const override { return nch; }
        double rate() const override { return hz; }
        FakeAudio& audio;
        int nch;
        double hz;
    };
    struct Output final : PlaybackStream {
        explicit Output(FakeAudio& a) : audio(a) {}
        ~Output() override { audio.pull = nullptr; }
        bool running() const override { return true; }
        FakeAudio& audio;
    };
};
