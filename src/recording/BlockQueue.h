#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "recording/BlockRing.h"

// The recorded blocks on their way from the audio thread to the file thread:
// a preallocated block ring, the count of blocks that found no room, and the
// losses found late (LossClock): a position from which blocks wait, and the
// gaps of silence that go before a block, by its position.
//
// Contract: the audio thread is the one producer (tryBegin, end, countDrop,
// holdFrom, release, tryAddGap), the file thread the one consumer (tryRead,
// endRead, heldFrom, takeGapsUpTo). Neither side waits or allocates. resize()
// only while neither side runs.
class BlockQueue {
public:
    explicit BlockQueue(std::size_t bytes = 1 << 20) : ring(std::make_unique<BlockRing>(bytes)) {}

    // Audio thread: room for a block of `bytes`, or nullptr when the ring is
    // full (the disk is behind): then the block is lost, never waited for.
    std::byte* tryBegin(std::size_t bytes) { return ring->tryBeginWrite(bytes); }
    void end() {
        ring->endWrite();
        ends.fetch_add(1, std::memory_order_release);
    }
    void countDrop() { dropped.fetch_add(1, std::memory_order_relaxed); }

    // Audio thread: the blocks from `position` on wait until release(): a
    // loss before them may be found yet.
    void holdFrom(std::uint64_t position) { held.store(position, std::memory_order_release); }
    void release() { held.store(kNone, std::memory_order_release); }
    // Audio thread: `frames` of silence go before the block at `position`
    // (or the first after it); false when there is no room for the note.
    bool tryAddGap(std::uint64_t position, std::uint32_t frames) {
        const std::uint64_t w = gapsWritten.load(std::memory_order_relaxed);
        if (w - gapsRead.load(std::memory_order_acquire) == kGaps) return false;
        gaps[w % kGaps] = {position, frames};
        gapsWritten.store(w + 1, std::memory_order_release);
        return true;
    }

    // File thread.
    std::span<const std::byte> tryRead() { return ring->tryRead(); }
    void endRead() {
        ring->endRead();
        ++reads;
    }
    // Blocks read so far.
    std::uint64_t read() const { return reads; }
    // Where the blocks that must wait begin.
    std::uint64_t heldFrom() const { return held.load(std::memory_order_acquire); }
    // Any thread: whether blocks wait for a loss to be decided.
    bool holding() const { return heldFrom() != kNone; }
    // The silence of every gap noted before or at `position`.
    std::uint64_t takeGapsUpTo(std::uint64_t position) {
        std::uint64_t frames = 0;
        const std::uint64_t w = gapsWritten.load(std::memory_order_acquire);
        std::uint64_t r = gapsRead.load(std::memory_order_relaxed);
        for (; r != w && gaps[r % kGaps].position <= position; ++r)
            frames += gaps[r % kGaps].frames;
        gapsRead.store(r, std::memory_order_release);
        return frames;
    }

    // Any thread: blocks published so far.
    std::uint64_t published() const { return ends.load(std::memory_order_acquire); }
    // Main thread: how full the ring is, 0 to 1.
    double fill() const {
        return static_cast<double>(ring->used()) / static_cast<double>(ring->capacity());
    }
    // Any thread: blocks lost since the queue was made.
    std::uint64_t droppedBlocks() const { return dropped.load(std::memory_order_relaxed); }

    // With no block in flight: a new ring of `bytes`.
    void resize(std::size_t bytes) { ring = std::make_unique<BlockRing>(bytes); }

private:
    static constexpr std::uint64_t kNone = ~std::uint64_t{0};
    static constexpr std::uint64_t kGaps = 16;
    struct Gap {
        std::uint64_t position;
        std::uint32_t frames;
    };

    std::unique_ptr<BlockRing> ring;
    alignas(64) std::atomic<std::uint64_t> dropped{0};
    std::atomic<std::uint64_t> ends{0};
    std::uint64_t reads = 0;
    std::atomic<std::uint64_t> held{kNone};
    std::array<Gap, kGaps> gaps{};
    alignas(64) std::atomic<std::uint64_t> gapsWritten{0};
    alignas(64) std::atomic<std::uint64_t> gapsRead{0};
};
