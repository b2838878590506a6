#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/BufferClock.h"
#include "engine/AudioControls.h"
#include "engine/Dropouts.h"
#include "engine/LossClock.h"
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
// is counted for the take and handed on as silence of the same length; a
// loss found only after the buffers that followed it (LossClock) holds those
// buffers back from the files until it is decided, then takes its place
// before them.
//
// Threads: process() on the audio thread, one call at a time; it never
// allocates, locks, waits or touches a file. Its controls come from the
// main thread through publish(); its peaks go back through meters(). The
// tone's count and phase are the audio thread's own.
class BufferProcessor {
public:
    explicit BufferProcessor(BlockQueue& recorded);

    // Main thread, while no buffer is processed: sizes everything the audio
    // thread uses for `channels` inputs and buffers of `bufferFrames`, so
    // that process() never allocates, and starts counting losses afresh.
    void prepare(int channels, int bufferFrames = 1024);
    // Main thread: the controls for the next buffers, handed over whole.
    void publish(const AudioControls& controls);

    // Audio thread: one captured buffer, one float array per channel, valid
    // only during the call; `clock` tells where it stands on the device's clocks.
    void process(const float* const* buffers, std::int64_t channelCount, std::int64_t frames,
                 const BufferClock& clock = {});

    // Main thread: the peaks since the last look.
    PeakMeters& meters() { return peakMeters; }
    // The headphone feed, for the output thread to pop.
    RingBuffer& monitorRing() { return *ring; }
    // The most frames of one recorded block: buffers longer than this are
    // taken in runs of it.
    int chunkFrames() const { return chunk; }
    // Any thread: buffers processed so far; a count that stands still means
    // the capture stopped delivering.
    std::uint64_t buffersProcessed() const { return processed.load(std::memory_order_relaxed); }
    // Main thread: the latest losses counted (of the take they name).
    const Dropouts& dropouts() { return losses.read(); }

private:
    // At most this much silence stands for a gap: a longer one is a stall,
    // not a glitch, and all of it at once could carry a file past what its
    // header can describe before the next set begins.
    static constexpr std::int64_t kMaxSilenceSeconds = 5;
    // `frames` of a buffer of `bufferFrames`, from `offset` on.
    void processChunk(const float* const* buffers, int n, std::int64_t offset,
                      std::int64_t bufferFrames, int frames);
    // While recording: a new take's counts, and what the loss clock found.
    // True for the take's first buffer.
    bool countTake(const AudioControls& now, const LossClock::Verdict& verdict);
    void owe(std::int64_t frames);

    BlockQueue& blocks;
    TripleBuffer<AudioControls> controls;
    PeakMeters peakMeters;
    std::unique_ptr<RingBuffer> ring;  // a second at the nominal rate, or four buffers
    int chunk = 1024;
    std::atomic<std::uint64_t> processed{0};  // written by the audio thread only
    TripleBuffer<Dropouts> losses;            // audio thread to main thread

    // Audio thread only.
    std::uint64_t toneSeen = 0;  // the last tone request taken up
    std::int64_t toneLeft = 0;
    float tonePhase = 0.0f;
    Dropouts counted;  // the take's losses, published when they change
    bool lossesChanged = false;
    std::int64_t takeFrames = 0;  // frames of the take so far, lost ones included
    LossClock lossClock;
    std::uint64_t captured = 0;  // frames recorded in every take so far: the blocks' positions
    struct Held {                // where a loss that may have happened began
        std::uint64_t take = 0;  // the take it is in; 0: not in one
        std::uint64_t at = 0;    // its position
        std::int64_t takeFrame = 0;
    } held;
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
