#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "recording/BlockRing.h"

// The recorded blocks on their way from the audio thread to the file thread:
// a preallocated block ring, and the count of blocks that found no room.
//
// Contract: the audio thread is the one producer (tryBegin, end, countDrop),
// the file thread the one consumer (tryRead, endRead). Neither side waits or
// allocates. resize() only while neither side runs.
class BlockQueue {
public:
    explicit BlockQueue(std::size_t bytes = 1 << 20) : ring(std::make_unique<BlockRing>(bytes)) {}

    // Audio thread: room for a block of `bytes`, or nullptr when the ring is
    // full (the disk is behind): then the block is lost, never waited for.
    std::byte* tryBegin(std::size_t bytes) { return ring->tryBeginWrite(bytes); }
    void end() { ring->endWrite(); }
    void countDrop() { dropped.fetch_add(1, std::memory_order_relaxed); }

    // File thread.
    std::span<const std::byte> tryRead() { return ring->tryRead(); }
    void endRead() { ring->endRead(); }

    // Main thread: how full the ring is, 0 to 1.
    double fill() const {
        return static_cast<double>(ring->used()) / static_cast<double>(ring->capacity());
    }
    // Any thread: blocks lost since the queue was made.
    std::uint64_t droppedBlocks() const { return dropped.load(std::memory_order_relaxed); }

    // With no block in flight: a new ring of `bytes`.
    void resize(std::size_t bytes) { ring = std::make_unique<BlockRing>(bytes); }

private:
    std::unique_ptr<BlockRing> ring;
    alignas(64) std::atomic<std::uint64_t> dropped{0};
};
