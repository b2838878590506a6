#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

// A single-producer, single-consumer ring of variable-sized blocks.
//
// Contract: exactly one producer thread calls tryBeginWrite/endWrite and
// exactly one consumer thread calls tryRead/endRead. Both sides are wait-free
// and never allocate; the store is allocated and touched once, at
// construction, so the producer never takes a page fault on fresh memory.
// A block is contiguous in memory (the producer copies straight into it and
// the consumer reads straight from it): when it does not fit before the end of
// the store, the rest of the store is skipped and the block starts at the top.
class BlockRing {
public:
    // `capacity` bytes of store, rounded up to a whole number of slots.
    explicit BlockRing(std::size_t capacity);
    BlockRing(const BlockRing&) = delete;
    BlockRing& operator=(const BlockRing&) = delete;

    // Producer: room for a block of 1 to maxBlock() bytes (16-byte aligned), or
    // nullptr when the ring is too full. Nothing is visible to the consumer
    // until endWrite.
    std::byte* tryBeginWrite(std::size_t bytes);
    // Producer: publishes the block reserved by the last tryBeginWrite.
    void endWrite();

    // Consumer: the oldest published block, or an empty span when none.
    std::span<const std::byte> tryRead();
    // Consumer: gives the block returned by the last tryRead back to the producer.
    void endRead();

    std::size_t capacity() const { return cap; }
    // Any thread: bytes in use, published blocks and the one being read.
    std::size_t used() const {
        const std::uint64_t r = readPos.load(std::memory_order_acquire);  // first: never past w
        return static_cast<std::size_t>(writePos.load(std::memory_order_acquire) - r);
    }
    // Largest block; an empty ring always has room for it, wherever it wraps.
    std::size_t maxBlock() const { return cap / 2 - kHeader; }

private:
    static constexpr std::size_t kHeader = 16;
    static constexpr std::uint32_t kWrap = 0xFFFFFFFFu;  // "continue at the top"

    std::size_t cap;
    std::unique_ptr<std::byte[]> store;

    // Positions only grow; the offset in the store is the position modulo cap.
    alignas(64) std::atomic<std::uint64_t> writePos{0};
    std::uint64_t pendingWrite = 0;  // producer only: end position of the reserved block
    std::uint32_t pendingSize = 0;
    std::uint64_t pendingStart = 0;

    alignas(64) std::atomic<std::uint64_t> readPos{0};
    std::uint64_t pendingRead = 0;  // consumer only: end position of the block being read
};
