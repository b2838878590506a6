#pragma once

#include <mutex>
#include <span>
#include <vector>

// Carries the mono headphone feed from the audio thread (push) to the output
// thread (pop). The two sides may run on different clocks and rates, so the
// reader can step through the stored samples at a fractional ratio with linear
// interpolation. A writer that runs ahead overwrites the oldest samples; a
// reader that runs dry outputs silence and never repeats old samples.
//
// Thread-safe for one pushing and one popping thread. Both hold a plain mutex
// for the length of one short loop; neither allocates.
class RingBuffer {
public:
    // `frames` is the capacity in samples; it must be at least 1.
    explicit RingBuffer(int frames);

    // Audio thread: appends every sample, overwriting the oldest when full.
    void push(std::span<const float> samples);

    // Output thread: writes exactly `frames` samples to `into`, consuming
    // `ratio` stored samples per output sample (1.0 is a plain copy).
    void pop(float* into, int frames, double ratio = 1.0);

    int capacity() const { return cap; }
    // Snapshots for tests and diagnostics.
    int stored() const;
    int oldestIndex() const;
    double fraction() const;

private:
    mutable std::mutex lock;
    std::vector<float> buf;
    int head = 0;   // index of the oldest stored sample
    int count = 0;  // stored samples, 0 … cap
    int cap;
    double frac = 0.0;  // reader position between head and the next sample
};
