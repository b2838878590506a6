#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>

// Carries the mono headphone feed from the audio thread (push) to the output
// thread (pop). The two sides may run on different clocks and rates, so the
// reader can step through the stored samples at a fractional ratio with linear
// interpolation. A writer that runs ahead overwrites the oldest samples; a
// reader that runs dry outputs silence and never repeats old samples.
//
// The reader never lags more than two buffers behind the writer: when it does
// (it started late, or runs slower), it skips ahead to the latest buffer. A
// headphone delay of a whole ring would be of no use to a performer.
//
// Contract: one pushing thread and one popping thread, no lock, no
// allocation. Positions only grow: the writer never moves the reader; the
// reader finds the oldest sample it may still use from the writer's position
// and skips ahead to it. Samples are copied in blocks, and the reader checks
// afterwards that the writer did not come round to what it read (a reader
// stalled for most of a second): if it did, it outputs silence instead. The
// store is allocated and zeroed at construction.
class RingBuffer {
public:
    // `frames` is the capacity in samples; it must be at least 1.
    explicit RingBuffer(int frames);

    // Audio thread: appends every sample, overwriting the oldest when full;
    // they are the last of a buffer of `bufferFrames` (a long buffer may come
    // in several pushes), so the reader may lag two of those.
    void push(std::span<const float> samples, std::size_t bufferFrames = 0);

    // Output thread: writes exactly `frames` samples to `into`, consuming
    // `ratio` stored samples per output sample (1.0 is a plain copy).
    void pop(float* into, int frames, double ratio = 1.0);

    // Output thread: drops everything but the latest buffer, so that the next
    // pop starts with the newest samples (when the output starts).
    void catchUp();

    int capacity() const { return cap; }
    // Samples the reader has still to take (exact while neither side runs).
    int stored() const;
    // The reader's position between the oldest sample and the next.
    double fraction() const { return frac; }

private:
    // What the reader may still take, from the two positions.
    std::int64_t backlog(std::uint64_t written, std::uint64_t read) const;

    const int cap;
    // Whether samples read from `from` on may have been overwritten meanwhile.
    bool overtaken(std::uint64_t from);

    std::unique_ptr<float[]> buf;
    alignas(64) std::atomic<std::uint64_t> writePos{0};  // samples ever pushed
    std::atomic<std::uint64_t> writing{0};               // pushed, once the push under way is done
    std::atomic<std::uint64_t> lastPush{0};              // samples in the latest buffer
    alignas(64) std::atomic<std::uint64_t> readPos{0};   // samples ever consumed or skipped
    double frac = 0.0;  // reader only: position between the oldest sample and the next
};
