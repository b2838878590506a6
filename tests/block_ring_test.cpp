#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "recording/BlockRing.h"

namespace {

bool put(BlockRing& ring, std::uint32_t value, std::size_t bytes) {
    std::byte* at = ring.tryBeginWrite(bytes);
    if (!at) return false;
    for (std::size_t i = 0; i + 4 <= bytes; i += 4) std::memcpy(at + i, &value, 4);
    ring.endWrite();
    return true;
}

// Reads one block, checks that every word holds the same value, returns it (or -1).
long take(BlockRing& ring, std::size_t* size = nullptr) {
    auto block = ring.tryRead();
    if (block.empty()) return -1;
    std::uint32_t first = 0;
    std::memcpy(&first, block.data(), 4);
    for (std::size_t i = 0; i + 4 <= block.size(); i += 4) {
        std::uint32_t v;
        std::memcpy(&v, block.data() + i, 4);
        if (v != first) return -2;
    }
    if (size) *size = block.size();
    ring.endRead();
    return first;
}

}  // namespace

TEST(BlockRing, FullAndEmptyBoundariesAndTheWrap) {
    BlockRing ring(256);  // 16 slots of 16 bytes; a 32-byte block takes 3 slots with its header
    EXPECT_EQ(take(ring), -1);
    EXPECT_EQ(ring.tryBeginWrite(ring.maxBlock() + 1), nullptr);

    int written = 0;
    while (put(ring, static_cast<std::uint32_t>(written), 32)) ++written;
    EXPECT_EQ(written, 5);  // 15 of 16 slots; the last one cannot hold a block
    for (int i = 0; i < 2; ++i) EXPECT_EQ(take(ring), i);
    // 7 slots free, 1 at the end: the next block skips it and starts at the top.
    EXPECT_TRUE(put(ring, 100, 32));
    EXPECT_TRUE(put(ring, 101, 16));
    EXPECT_FALSE(put(ring, 102, 16));  // one slot left
    for (int i = 2; i < 5; ++i) EXPECT_EQ(take(ring), i);
    std::size_t size = 0;
    EXPECT_EQ(take(ring, &size), 100);
    EXPECT_EQ(size, 32u);
    EXPECT_EQ(take(ring), 101);
    EXPECT_EQ(take(ring), -1);

    // A block of the largest size fits an empty ring at any offset.
    EXPECT_TRUE(put(ring, 7, ring.maxBlock()));
    EXPECT_EQ(take(ring), 7);
    EXPECT_EQ(ring.tryBeginWrite(0), nullptr);  // an empty block would read as "none"
}

// One writer and one reader over a million blocks of varying sizes: every
// block arrives once, whole, in order, or was refused to the writer.
TEST(BlockRing, OneWriterOneReaderKeepOrderOverAMillionBlocks) {
    BlockRing ring(4096);
    constexpr std::uint32_t kBlocks = 1'000'000;
    std::thread writer([&] {
        for (std::uint32_t i = 0; i < kBlocks;) {
            const std::size_t bytes = 4 + (i * 52u) % 700;
            if (put(ring, i, bytes)) {
                ++i;
            } else {
                std::this_thread::yield();
            }
        }
    });
    long expected = 0;
    while (expected < kBlocks) {
        std::size_t size = 0;
        const long got = take(ring, &size);
        if (got == -1) {
            std::this_thread::yield();
            continue;
        }
        ASSERT_EQ(got, expected);
        ASSERT_EQ(size, 4 + (static_cast<std::size_t>(expected) * 52u) % 700);
        ++expected;
    }
    writer.join();
    EXPECT_EQ(take(ring), -1);
}
