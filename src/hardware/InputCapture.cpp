#include "hardware/InputCapture.h"

InputCapture::InputCapture() = default;

InputCapture::~InputCapture() {
    stop();
    delete onBuffer.exchange(nullptr);
}

std::optional<CaptureError> InputCapture::start(const DeviceSnapshot& device) {
    stop();
    CaptureError error;
    stream = AudioSystem::current().openCapture(device, &InputCapture::render, this, error);
    if (!stream) return error;
    nch = stream->channels();
    hz = stream->rate();
    return std::nullopt;
}

void InputCapture::stop() {
    stream.reset();
    nch = 0;
    hz = 0.0;
}

std::uint64_t InputCapture::xrunNotices() const {
    return stream ? stream->xrunNotices() : 0;
}

void InputCapture::setOnBuffer(BufferFn fn) {
    // The old callback is freed only once no render can still be running it.
    delete onBuffer.exchange(fn ? new BufferFn(std::move(fn)) : nullptr);
}

void InputCapture::render(void* self, const float* const* buffers, std::int64_t channels,
                          std::int64_t frames, const BufferClock& clock) {
    static_cast<InputCapture*>(self)->onBuffer.use(
        [&](const BufferFn& fn) { fn(buffers, channels, frames, clock); });
}
