#pragma once

#include <atomic>
#include <memory>
#include <vector>

// Peaks from the audio thread to the main thread's meters: relaxed atomics,
// no lock. Each value is the largest since the tick last took it, so a peak
// between two ticks is never lost; a tick that finds no buffer processed
// since the last one keeps the last values (meters hold while capture stops).
class PeakMeters {
public:
    // Main thread, while no buffer is processed: room for `channels` peaks.
    void resize(int channels);

    // Audio thread: the peaks of one buffer (`count` channels).
    void publish(const float* peaks, int count, float mix, float monitor);

    // Main thread: the largest peaks since the last take (as many channels
    // as the last buffer had), and starts a new interval.
    void take(std::vector<float>& channels, float& mix, float& monitor);

private:
    static constexpr float kNone = -1.0f;  // no buffer since the last take

    static void raise(std::atomic<float>& peak, float value, float seen);
    static float take(std::atomic<float>& peak, float& held);

    std::unique_ptr<std::atomic<float>[]> peaks;
    int capacity = 0;
    std::atomic<int> count{0};
    std::atomic<float> mixPeak{kNone};
    std::atomic<float> monitorPeak{kNone};
    // Main thread: what the last take found, shown again while nothing is new.
    std::vector<float> held;
    float heldMix = 0.0f;
    float heldMonitor = 0.0f;
};
