#include "engine/PeakMeters.h"

#include <algorithm>

void PeakMeters::resize(int channels) {
    capacity = std::max(channels, 0);
    peaks = std::make_unique<std::atomic<float>[]>(static_cast<std::size_t>(capacity));
    for (int c = 0; c < capacity; ++c) peaks[c].store(0.0f, std::memory_order_relaxed);
    count.store(capacity, std::memory_order_relaxed);
}

void PeakMeters::publish(const float* values, int n, float mix, float monitor) {
    n = std::min(n, capacity);
    for (int c = 0; c < n; ++c) peaks[c].store(values[c], std::memory_order_relaxed);
    count.store(n, std::memory_order_relaxed);
    mixPeak.store(mix, std::memory_order_relaxed);
    monitorPeak.store(monitor, std::memory_order_relaxed);
}

void PeakMeters::read(std::vector<float>& channels, float& mix, float& monitor) const {
    const int n = std::min(count.load(std::memory_order_relaxed), capacity);
    channels.resize(static_cast<std::size_t>(n));
    for (int c = 0; c < n; ++c) channels[c] = peaks[c].load(std::memory_order_relaxed);
    mix = mixPeak.load(std::memory_order_relaxed);
    monitor = monitorPeak.load(std::memory_order_relaxed);
}
