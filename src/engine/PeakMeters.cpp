#include "engine/PeakMeters.h"

#include <algorithm>

void PeakMeters::resize(int channels) {
    capacity = std::max(channels, 0);
    peaks = std::make_unique<std::atomic<float>[]>(static_cast<std::size_t>(capacity));
    for (int c = 0; c < capacity; ++c) peaks[c].store(kNone, std::memory_order_relaxed);
    held.assign(static_cast<std::size_t>(capacity), 0.0f);
    count.store(capacity, std::memory_order_relaxed);
}

void PeakMeters::raise(std::atomic<float>& peak, float value, float seen) {
    // Peaks are never negative, so the first value after a take always wins.
    while (value > seen && !peak.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {
    }
}

void PeakMeters::publish(const float* values, int n, float mix, float monitor) {
    n = std::min(n, capacity);
    for (int c = 0; c < n; ++c) {
        // Mostly the value is not the largest: one load and a comparison.
        const float seen = peaks[c].load(std::memory_order_relaxed);
        if (values[c] > seen) raise(peaks[c], values[c], seen);
    }
    count.store(n, std::memory_order_relaxed);
    raise(mixPeak, mix, mixPeak.load(std::memory_order_relaxed));
    raise(monitorPeak, monitor, monitorPeak.load(std::memory_order_relaxed));
}

float PeakMeters::take(std::atomic<float>& peak, float& last) {
    const float value = peak.exchange(kNone, std::memory_order_relaxed);
    if (value != kNone) last = value;
    return last;
}

void PeakMeters::take(std::vector<float>& channels, float& mix, float& monitor) {
    const int n = std::min(count.load(std::memory_order_relaxed), capacity);
    channels.resize(static_cast<std::size_t>(n));
    for (int c = 0; c < n; ++c) channels[c] = take(peaks[c], held[c]);
    mix = take(mixPeak, heldMix);
    monitor = take(monitorPeak, heldMonitor);
}
