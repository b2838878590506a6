#include "hardware/InputCapture.h"

#include <thread>

InputCapture::InputCapture() = default;

InputCapture::~InputCapture() {
    stop();
    delete onBuffer.exchange(nullptr);
}

std::optional<CaptureError> InputCapture::start(std::uint32_t device) {
    stop();
    CaptureError error;
    stream = AudioSystem::current().openCapture(device, &InputCapture::render, this, error);
    if (!stream) return error;
    nch = stream->channels();
    hz = stream->rate();
    dev = device;
    return std::nullopt;
}

void InputCapture::stop() {
    stream.reset();
    nch = 0;
    hz = 0.0;
    dev = 0;
}

std::uint64_t InputCapture::xruns() const {
    return stream ? stream->xruns() : 0;
}

void InputCapture::setOnBuffer(BufferFn fn) {
    BufferFn* fresh = fn ? new BufferFn(std::move(fn)) : nullptr;
    BufferFn* old = onBuffer.exchange(fresh, std::memory_order_seq_cst);
    // Grace period: a render that might still hold the old callback is
    // finished before it is freed. It lasts one buffer at most.
    while (inCall.load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
    delete old;
}

void InputCapture::render(void* self, const float* const* buffers, std::int64_t channels,
                          std::int64_t frames) {
    auto* capture = static_cast<InputCapture*>(self);
    capture->inCall.store(1, std::memory_order_seq_cst);
    if (BufferFn* fn = capture->onBuffer.load(std::memory_order_seq_cst))
        (*fn)(buffers, channels, frames);
    capture->inCall.store(0, std::memory_order_release);
}
