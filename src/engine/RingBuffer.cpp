#include "engine/RingBuffer.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

RingBuffer::RingBuffer(int frames) : cap(frames) {
    if (frames < 1) std::abort();  // programming error: no usable store
    buf.assign(static_cast<std::size_t>(frames), 0.0f);
}

void RingBuffer::push(std::span<const float> samples) {
    // Same result as storing sample by sample, in at most two copies: only the
    // last `cap` samples can survive, and the head moves past what they overwrite.
    const std::int64_t n = static_cast<std::int64_t>(samples.size());
    const std::int64_t kept = std::min<std::int64_t>(n, cap);
    const float* src = samples.data() + (n - kept);
    std::lock_guard guard(lock);
    const std::int64_t start = (head + count + (n - kept)) % cap;
    const std::int64_t first = std::min<std::int64_t>(kept, cap - start);
    std::copy_n(src, first, buf.begin() + start);
    std::copy_n(src + first, kept - first, buf.begin());
    const std::int64_t total = count + n;
    if (total > cap) {
        head = static_cast<int>((head + (total - cap)) % cap);
        count = cap;
    } else {
        count = static_cast<int>(total);
    }
}

void RingBuffer::pop(float* into, int frames, double ratio) {
    if (frames < 0) std::abort();  // programming error
    std::lock_guard guard(lock);
    auto next = [this](int i) { return i + 1 == cap ? 0 : i + 1; };
    if (ratio == 1.0) {
        // Plain copy, in at most two runs, then silence for what is missing.
        const int have = std::min(frames, count);
        const int first = std::min(have, cap - head);
        std::copy_n(buf.begin() + head, first, into);
        std::copy_n(buf.begin(), have - first, into + first);
        std::fill(into + have, into + frames, 0.0f);
        head = (head + have) % cap;
        count -= have;
        return;
    }
    for (int i = 0; i < frames; ++i) {
        if (count < 2) {
            into[i] = 0.0f;
            continue;
        }
        float a = buf[static_cast<std::size_t>(head)];
        float b = buf[static_cast<std::size_t>(next(head))];
        into[i] = a + (b - a) * static_cast<float>(frac);
        frac += ratio;
        while (frac >= 1.0 && count >= 2) {
            frac -= 1.0;
            head = next(head);
            --count;
        }
    }
}

int RingBuffer::stored() const {
    std::lock_guard guard(lock);
    return count;
}

int RingBuffer::oldestIndex() const {
    std::lock_guard guard(lock);
    return head;
}

double RingBuffer::fraction() const {
    std::lock_guard guard(lock);
    return frac;
}
