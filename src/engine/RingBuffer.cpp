#include "engine/RingBuffer.h"

#include <algorithm>
#include <cstdlib>

RingBuffer::RingBuffer(int frames) : cap(frames) {
    if (frames < 1) std::abort();  // programming error: no usable store
    buf = std::make_unique<float[]>(static_cast<std::size_t>(frames));  // zeroed: touched now
}

bool RingBuffer::overtaken(std::uint64_t from) {
    // A sequence check: the writer announces how far it is about to write
    // before it writes; a slot read from `from` on was reused only when that
    // reaches a whole store past `from`.
    // A read-modify-write, so that the samples are read before it.
    return writing.fetch_add(0, std::memory_order_acq_rel) - from > static_cast<std::uint64_t>(cap);
}

std::int64_t RingBuffer::backlog(std::uint64_t written, std::uint64_t read) const {
    const std::uint64_t latest = lastPush.load(std::memory_order_relaxed);
    std::uint64_t behind = written - read;
    if (behind > 2 * latest) behind = latest;
    return static_cast<std::int64_t>(std::min<std::uint64_t>(behind, cap));
}

void RingBuffer::catchUp() {
    const std::uint64_t w = writePos.load(std::memory_order_acquire);
    const std::uint64_t keep =
        std::min<std::uint64_t>(lastPush.load(std::memory_order_relaxed), cap);
    readPos.store(w - std::min(keep, w), std::memory_order_relaxed);
}

int RingBuffer::stored() const {
    return static_cast<int>(
        backlog(writePos.load(std::memory_order_acquire), readPos.load(std::memory_order_relaxed)));
}

void RingBuffer::push(std::span<const float> samples, std::size_t bufferFrames) {
    // Only the last `cap` samples can survive; the reader learns from the
    // write position which of the older ones were overwritten.
    const std::uint64_t n = samples.size();
    if (n == 0) return;
    const std::uint64_t kept = std::min<std::uint64_t>(n, cap);
    const float* src = samples.data() + (n - kept);
    const std::uint64_t w = writePos.load(std::memory_order_relaxed);
    // A read-modify-write, so that the announcement comes before the samples.
    writing.exchange(w + n, std::memory_order_acq_rel);
    const std::uint64_t at = (w + (n - kept)) % cap;
    const std::uint64_t first = std::min<std::uint64_t>(kept, cap - at);
    std::copy_n(src, first, buf.get() + at);
    std::copy_n(src + first, kept - first, buf.get());
    lastPush.store(std::max<std::uint64_t>(n, bufferFrames), std::memory_order_relaxed);
    writePos.store(w + n, std::memory_order_release);
}

void RingBuffer::pop(float* into, int frames, double ratio) {
    if (frames < 0) std::abort();  // programming error
    const std::uint64_t w = writePos.load(std::memory_order_acquire);
    std::uint64_t r = readPos.load(std::memory_order_relaxed);
    std::int64_t count = backlog(w, r);
    r = w - static_cast<std::uint64_t>(count);  // past what the writer overwrote
    const std::uint64_t from = r;
    auto at = [this](std::uint64_t pos) { return buf[pos % static_cast<std::uint64_t>(cap)]; };
    if (ratio == 1.0) {
        // Plain copy in at most two runs, then silence for what is missing.
        const int have = static_cast<int>(std::min<std::int64_t>(frames, count));
        const std::uint64_t start = r % static_cast<std::uint64_t>(cap);
        const int first = static_cast<int>(std::min<std::uint64_t>(have, cap - start));
        std::copy_n(buf.get() + start, first, into);
        std::copy_n(buf.get(), have - first, into + first);
        std::fill(into + have, into + frames, 0.0f);
        if (overtaken(from)) std::fill(into, into + have, 0.0f);
        readPos.store(r + static_cast<std::uint64_t>(have), std::memory_order_relaxed);
        return;
    }
    for (int i = 0; i < frames; ++i) {
        if (count < 2) {
            into[i] = 0.0f;
            continue;
        }
        const float a = at(r);
        const float b = at(r + 1);
        into[i] = a + (b - a) * static_cast<float>(frac);
        frac += ratio;
        while (frac >= 1.0 && count >= 2) {
            frac -= 1.0;
            ++r;
            --count;
        }
    }
    if (overtaken(from)) std::fill(into, into + frames, 0.0f);
    readPos.store(r, std::memory_order_relaxed);
}
