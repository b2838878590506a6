#pragma once

#include <atomic>
#include <memory>
#include <vector>

// Peaks from the audio thread to the main thread's meters: relaxed atomics,
// no lock. The audio thread publishes after every buffer; the tick reads.
class PeakMeters {
public:
    // Main thread, while no buffer is processed: room for `channels` peaks.
    void resize(int channels);

    // Audio thread: the peaks of one buffer (`count` channels).
    void publish(const float* peaks, int count, float mix, float monitor);

    // Main thread: the latest peaks (as many as the last buffer had).
    void read(std::vector<float>& channels, float& mix, float& monitor) const;

private:
    std::unique_ptr<std::atomic<float>[]> peaks;
    int capacity = 0;
    std::atomic<int> count{0};
    std::atomic<float> mixPeak{0.0f};
    std::atomic<float> monitorPeak{0.0f};
};
