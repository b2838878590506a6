#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "hardware/AudioSystem.h"
#include "hardware/CallbackSlot.h"
#include "hardware/CaptureError.h"

// Opens every input of one device at once and hands each captured buffer to
// its owner as one float array per channel, at the device's own rate.
class InputCapture {
public:
    // Audio thread: (pointers, channel count, frame count, where the buffer
    // stands on the device's clocks); the pointers are valid only during the call.
    using BufferFn =
        std::function<void(const float* const*, std::int64_t, std::int64_t, const BufferClock&)>;

    InputCapture();
    ~InputCapture();  // stops
    InputCapture(const InputCapture&) = delete;
    InputCapture& operator=(const InputCapture&) = delete;

    // Main thread: stops any capture, then captures `device`.
    std::optional<CaptureError> start(const DeviceSnapshot& device);
    // Main thread: after it returns no callback runs. Safe when idle.
    void stop();

    // Main thread, also while the audio thread runs: the audio thread sees the
    // old or the new callback, never a torn one, and the old one is not freed
    // until no call is using it.
    void setOnBuffer(BufferFn fn);

    std::int64_t channels() const { return nch; }
    double rate() const { return hz; }
    int bufferFrames() const { return stream ? stream->bufferFrames() : 0; }
    // Any thread: how many times the backend said it lost buffers while
    // capturing (0 when idle). Notices, not buffers: one may cover several.
    std::uint64_t xrunNotices() const;
    // Main thread: false when the capture's server went away under it.
    bool alive() const { return !stream || stream->alive(); }

private:
    static void render(void* self, const float* const* buffers, std::int64_t channels,
                       std::int64_t frames, const BufferClock& clock);

    std::unique_ptr<CaptureStream> stream;
    std::int64_t nch = 0;
    double hz = 0.0;
    CallbackSlot<BufferFn> onBuffer;  // owns what it holds
};
