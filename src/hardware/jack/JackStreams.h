#pragma once

#include <QStringList>
#include <memory>

#include "hardware/AudioSystem.h"

class JackClient;
class JackSystem;

// The capture: the "tessaly" client's input ports ("in_1" …), one per
// capture port of the device and connected one to one. Destroying it
// detaches them; the client lives on while the headphones use it.
class JackCapture final : public CaptureStream {
public:
    static std::unique_ptr<JackCapture> open(const QStringList& sources, RenderFn render,
                                             void* user, JackSystem& system, CaptureError& error);
    ~JackCapture() override;

    std::shared_ptr<JackClient> client() const { return owner; }
    int channels() const override;
    double rate() const override;
    int bufferFrames() const override;
    std::uint64_t xrunNotices() const override;
    bool alive() const override;

private:
    explicit JackCapture(std::shared_ptr<JackClient> c) : owner(std::move(c)) {}
    std::shared_ptr<JackClient> owner;
};

// The headphones: output ports ("out_1" …) connected one to one to the
// device's playback ports. They join the capture's client when there is one,
// so the feed leaves in the cycle it was captured in; on their own, they
// get a client of their own, "tessaly-headphones".
class JackPlayback final : public PlaybackStream {
public:
    static std::unique_ptr<JackPlayback> open(std::shared_ptr<JackClient> capture,
                                              const QStringList& targets, int channels, PullFn pull,
                                              void* user, JackSystem& system, QString& error);
    ~JackPlayback() override;

    bool running() const override;

private:
    explicit JackPlayback(std::shared_ptr<JackClient> c) : owner(std::move(c)) {}
    std::shared_ptr<JackClient> owner;
};
