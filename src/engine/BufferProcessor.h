#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "engine/AudioControls.h"
#include "engine/Dropouts.h"
#include "engine/PeakMeters.h"
#include "engine/RingBuffer.h"
#include "engine/TripleBuffer.h"
#include "recording/RecordBlock.h"

class BlockQueue;

// The engine's per-buffer step, on the audio thread: each input's peak, the
// mix of the armed inputs (1/√A), the headphone feed (the mix, the soloed
// inputs at 1/√S, or the 1000 Hz test tone), the monitor ring, and, while
// recording, the hand-off of the armed inputs and the mix to the file thread.
// Audio lost on the way, never received or dropped while the disk is behind,
// is counted for the take and handed on as silence of the same length.
//
// Threads: process() on the audio thread, one call at a time; it never
// allocates, locks, waits or touches a file. Its controls come from the
// main thread through publish(); its peaks go back through meters(). The
// tone's count and phase are the audio thread's own.
class BufferProcessor {
public:
    explicit BufferProcessor(BlockQueue& recorded);

    // Main thread, while no buffer is processed: sizes everything the audio
    // thread uses for `channels` inputs, so that process() never allocates.
    void prepare(int channels);
    // Main thread: the controls for the next buffers, handed over whole.
    void publish(const AudioControls& controls);

    // Audio thread: one captured buffer, one float array per channel, valid
    // only during the call; `lost` frames of the device's clock went by
    // before it without reaching us.
    void process(const float* const* buffers, std::int64_t channelCount, std::int64_t frames,
                 std::int64_t lost = 0);

    // Main thread: the peaks since the last look.
    PeakMeters& meters() { return peakMeters; }
    // The headphone feed, for the output thread to pop.
    RingBuffer& monitorRing() { return ring; }
    // Any thread: buffers processed so far; a count that stands still means
    // the capture stopped delivering.
    std::uint64_t buffersProcessed() const { return processed.load(std::memory_order_relaxed); }
    // Main thread: the latest losses counted (of the take they name).
    const Dropouts& dropouts() { return losses.read(); }

private:
    // Buffers longer than this are taken in runs of it: the working arrays
    // and the recorded blocks stay small.
    static constexpr int kChunk = static_cast<int>(RecordBlock::maxFrames);
    // At most this much silence stands for a gap: a longer one is a stall,
    // not a glitch, and all of it at once could carry a file past what its
    // header can describe before the next set begins.
    static constexpr std::int64_t kMaxSilenceSeconds = 5;
    void processChunk(const float* const* buffers, int n, std::int64_t offset, int frames);
    // While recording: a new take's counts, and a gap before this buffer.
    void countTake(const AudioControls& now, std::int64_t lost);
    void owe(std::int64_t frames);

    BlockQueue& blocks;
    TripleBuffer<AudioControls> controls;
    PeakMeters peakMeters;
    RingBuffer ring{kNominalRate};            // one second at the nominal rate
    std::atomic<std::uint64_t> processed{0};  // written by the audio thread only
    TripleBuffer<Dropouts> losses;            // audio thread to main thread

    // Audio thread only.
    std::uint64_t toneSeen = 0;  // the last tone request taken up
    std::int64_t toneLeft = 0;
    float tonePhase = 0.0f;
    Dropouts counted;  // the take's losses, published when they change
    bool lossesChanged = false;
    std::int64_t takeFrames = 0;  // frames of the take so far, lost ones included
    std::int64_t owed = 0;        // lost frames not yet handed on as silence
    std::int64_t silenceCap = 0;  // the most owed at once, frames
    bool dropping = false;        // the last chunk found no room
    struct Work {
        const std::uint8_t* armed = nullptr;  // the flags of the controls in use
        const std::uint8_t* solo = nullptr;
        std::size_t armedLen = 0, soloLen = 0;
        std::vector<int> armedIdx, soloIdx;  // channels feeding the mix and the headphones
        int armedCount = 0, soloCount = 0;
        bool anySolo = false, recording = false;
        float toneStep = 0.0f;  // radians per frame of the 1000 Hz tone
        float mixGain = 1.0f, monGain = 1.0f;
        std::vector<float> peaks;
        std::vector<float> mix, monitor;
        float mixPeak = 0.0f, monPeak = 0.0f;
    } work;
};
