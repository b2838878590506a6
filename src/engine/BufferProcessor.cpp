#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

#include "engine/BufferProcessor.h"
#include "engine/SampleOps.h"
#include "recording/BlockQueue.h"
#include "recording/RecordBlock.h"

namespace {

using sampleops::addInto;
using sampleops::peakAddCopy;
using sampleops::peakOf;
using sampleops::scaleClip;

constexpr float kTwoPi = 6.2831853f;

float gainFor(int count) {
    return count >= 2 ? 1.0f / std::sqrt(static_cast<float>(count)) : 1.0f;
}

}  // namespace

BufferProcessor::BufferProcessor(BlockQueue& recorded) : blocks(recorded) {
    prepare(0);
}

void BufferProcessor::prepare(int channels, int bufferFrames) {
    // Long periods are taken whole: the headphones then get each buffer in
    // one push, and the reader may lag by two of them.
    chunk = std::max(bufferFrames, 1024);
    work.mix.assign(static_cast<std::size_t>(chunk), 0.0f);
    work.monitor.assign(static_cast<std::size_t>(chunk), 0.0f);
    const int ringFrames = std::max(kNominalRate, 4 * chunk);
    if (!ring || ring->capacity() < ringFrames) ring = std::make_unique<RingBuffer>(ringFrames);
    lossClock = LossClock{};
    held = Held{};
    blocks.release();
    const auto n = static_cast<std::size_t>(std::max(channels, 0));
    work.peaks.assign(n, 0.0f);
    work.armedIdx.assign(n, 0);
    work.soloIdx.assign(n, 0);
    peakMeters.resize(channels);
}

void BufferProcessor::publish(const AudioControls& next) {
    // A whole copy each time: the audio thread holds the previous set for
    // the rest of its buffer. The copies reuse their slots' storage.
    controls.back() = next;
    controls.publish();
}

void BufferProcessor::process(const float* const* buffers, std::int64_t channelCount,
                              std::int64_t frames, const BufferClock& clock) {
    if (frames < 1) return;
    processed.store(processed.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    // One consistent set of controls for the whole buffer.
    const AudioControls& now = controls.read();
    const int n = static_cast<int>(
        std::clamp<std::int64_t>(std::min<std::int64_t>(now.channels, channelCount), 0,
                                 static_cast<std::int64_t>(work.peaks.size())));
    work.armed = now.armed.data();
    work.armedLen = now.armed.size();
    work.solo = now.solo.data();
    work.soloLen = now.solo.size();
    work.recording = now.recording;
    const LossClock::Verdict verdict = lossClock.next(clock, frames, now.rate);
    const bool takeBegins = work.recording && countTake(now, verdict);
    if (verdict.began) {
        // The buffers from this one on wait for the verdict before they reach
        // the files. A loss before a take's first buffer is not the take's.
        held = {work.recording && !takeBegins ? counted.take : 0, captured, takeFrames};
        if (held.take) blocks.holdFrom(captured);
    }
    if (!verdict.holding) blocks.release();
    if (now.toneRequest != toneSeen) {
        toneSeen = now.toneRequest;
        toneLeft = now.toneFrames;
    }
    work.toneStep = 6283.185f / static_cast<float>(now.rate);
    // Every solo flag counts, also those past the channels processed here.
    work.anySolo =
        std::any_of(work.solo, work.solo + work.soloLen, [](std::uint8_t s) { return s != 0; });
    work.armedCount = work.soloCount = 0;
    for (int c = 0; c < n; ++c) {
        const auto i = static_cast<std::size_t>(c);
        if (i < work.armedLen && work.armed[i]) work.armedIdx[work.armedCount++] = c;
        if (work.anySolo && i < work.soloLen && work.solo[i]) work.soloIdx[work.soloCount++] = c;
    }
    work.mixGain = gainFor(work.armedCount);
    work.monGain = gainFor(work.soloCount);
    std::fill_n(work.peaks.begin(), n, 0.0f);
    work.mixPeak = work.monPeak = 0.0f;

    // Long buffers are taken in runs that fit the working arrays; every result
    // is the same as for one pass.
    for (std::int64_t offset = 0; offset < frames; offset += chunk) {
        processChunk(buffers, n, offset, frames,
                     static_cast<int>(std::min<std::int64_t>(chunk, frames - offset)));
    }

    peakMeters.publish(work.peaks.data(), n, work.mixPeak, work.monPeak);
    if (std::exchange(lossesChanged, false)) {
        losses.back() = counted;
        losses.publish();
    }
}

bool BufferProcessor::countTake(const AudioControls& now, const LossClock::Verdict& verdict) {
    const bool begins = now.take != counted.take;
    if (begins) {
        counted = Dropouts{};
        counted.take = now.take;
        takeFrames = owed = 0;
        dropping = false;
        lossesChanged = true;
    }
    silenceCap = kMaxSilenceSeconds * now.rate;
    if (verdict.missed >= 1 && !begins) {  // a gap before its first buffer is not the take's
        counted.missed.add(takeFrames, verdict.missed, true);
        takeFrames += verdict.missed;
        owe(verdict.missed);
    }
    if (verdict.found < 1 || held.take != counted.take) return begins;
    // Found after the buffers that followed it: its silence goes before the
    // first of them, which the file thread has held back meanwhile.
    counted.missed.add(held.takeFrame, verdict.found, true);
    takeFrames += verdict.found;
    lossesChanged = true;
    const std::int64_t silence = std::min(verdict.found, silenceCap);
    if (!blocks.tryAddGap(held.at, static_cast<std::uint32_t>(silence))) owe(silence);
    return begins;
}

void BufferProcessor::owe(std::int64_t frames) {
    owed = std::min(owed + frames, silenceCap);
    lossesChanged = true;
}

void BufferProcessor::processChunk(const float* const* buffers, int n, std::int64_t offset,
                                   std::int64_t bufferFrames, int frames) {
    float* mix = work.mix.data();
    float* monitor = work.monitor.data();
    std::fill_n(mix, frames, 0.0f);
    std::fill_n(monitor, frames, 0.0f);

    // While recording, the block is reserved first so that each armed input
    // is read once for its peak, the mix and its copy. The copies are taken
    // now: the capture buffers are not valid after the call.
    std::byte* at = nullptr;
    const auto tracks = static_cast<std::uint32_t>(work.armedCount);
    const auto length = static_cast<std::uint32_t>(frames);
    if (work.recording) {
        at = blocks.tryBegin(RecordBlock::bytesFor(tracks, length));
        if (!at) {
            // The disk is behind: lose this block, never wait; silence of its
            // length goes before the next block that finds room.
            blocks.countDrop();
            counted.disk.add(takeFrames, frames, !dropping);
            owe(frames);
        }
        dropping = !at;
        takeFrames += frames;
    }
    std::optional<RecordBlock> block;
    if (at) {
        block.emplace(at, tracks, length, static_cast<std::uint32_t>(std::exchange(owed, 0)),
                      captured);
    }
    if (work.recording) captured += static_cast<std::uint64_t>(frames);

    for (int c = 0; c < n; ++c) {
        const auto i = static_cast<std::size_t>(c);
        if (i >= work.armedLen || !work.armed[i]) {
            work.peaks[c] = peakOf(buffers[c] + offset, frames, work.peaks[c]);
        }
    }
    for (std::uint32_t t = 0; t < tracks; ++t) {
        const int c = work.armedIdx[t];
        float* copy = nullptr;
        if (block) {
            block->id(t) = c;
            copy = block->track(t);
        }
        work.peaks[c] = peakAddCopy(buffers[c] + offset, mix, copy, frames, work.peaks[c]);
    }
    for (int k = 0; k < work.soloCount; ++k) {
        addInto(monitor, buffers[work.soloIdx[k]] + offset, frames);
    }

    work.mixPeak = scaleClip(mix, frames, work.mixGain, work.mixPeak);
    if (work.anySolo) {
        scaleClip(monitor, frames, work.monGain, 0.0f);
    } else {
        std::copy_n(mix, frames, monitor);
    }

    if (toneLeft >= 1) {
        for (int f = 0; f < frames && toneLeft >= 1; ++f) {
            monitor[f] = std::sin(tonePhase) * 0.25f;
            // Kept within one turn: an ever-growing float phase would lose the
            // precision to step by `toneStep` after a few hundred tones.
            tonePhase += work.toneStep;
            if (tonePhase >= kTwoPi) tonePhase -= kTwoPi;
            --toneLeft;
        }
    }
    work.monPeak = peakOf(monitor, frames, work.monPeak);
    ring->push({monitor, static_cast<std::size_t>(frames)}, static_cast<std::size_t>(bufferFrames));

    if (block) {
        std::copy_n(mix, frames, block->mix());
        blocks.end();
    }
}
