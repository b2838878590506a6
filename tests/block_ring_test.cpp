#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "recording/BlockRing.h"

static bool put(BlockRing& ring, std::uint32_t value, std::size_t bytes) {
    std::byte* at = ring.tryBeginWrite(bytes);
    if (!at) return false;
    for (std::size_t i = 0; i + 4 <= bytes; i += 4) std::memcpy(at + i, &value, 4);
    ring.endWrite();
    return true;
}

// One block: its value (every word the same, else -2) and size; -1 when none.
static std::pair<long, std::size_t> take(BlockRing& ring) {
    auto block = ring.tryRead();
    if (block.empty()) return {-1, 0};
    std::uint32_t first = 0, v = 0;
    std::memcpy(&first, block.data(), 4);
    for (std::size_t i = 0; i + 4 <= block.size(); i += 4) {
        std::memcpy(&v, block.data() + i, 4);
        if (v != first) return {-2, 0};
    }
    ring.endRead();
    return {first, block.size()};
}

TEST(BlockRing, FullAndEmptyBoundariesAndTheWrap) {
    BlockRing ring(256);  // 16 slots of 16 bytes; a 32-byte block takes 3 with its header
    EXPECT_EQ(take(ring).first, -1);
    EXPECT_EQ(ring.tryBeginWrite(ring.maxBlock() + 1), nullptr);
    EXPECT_EQ(ring.tryBeginWrite(0), nullptr);  // an empty block would read as "none"
    int written = 0;
    while (put(ring, static_cast<std::uint32_t>(written), 32)) ++written;
    EXPECT_EQ(written, 5);  // 15 of 16 slots; the last one cannot hold a block
    for (long i = 0; i < 2; ++i) EXPECT_EQ(take(ring).first, i);
    // 7 slots free, 1 at the end: the next block skips it and starts at the top.
    EXPECT_TRUE(put(ring, 100, 32) && put(ring, 101, 16) && !put(ring, 102, 16));
    for (long i : {2, 3, 4, 100, 101, -1}) EXPECT_EQ(take(ring).first, i);
    EXPECT_TRUE(put(ring, 7, ring.maxBlock()));  // the largest fits an empty ring anywhere
    EXPECT_EQ(take(ring).first, 7);
}

// One writer and one reader over a million blocks of varying sizes: every
// block arrives once, whole, in order, or was refused to the writer.
TEST(BlockRing, OneWriterOneReaderKeepOrderOverAMillionBlocks) {
    BlockRing ring(4096);
    constexpr long kBlocks = 1'000'000;
    auto bytes = [](long i) { return 4 + static_cast<std::size_t>(i * 52) % 700; };
    std::thread writer([&] {
        for (long i = 0; i < kBlocks;) {
            put(ring, static_cast<std::uint32_t>(i), bytes(i)) ? ++i
                                                               : (std::this_thread::yield(), i);
        }
    });
    for (long expected = 0; expected < kBlocks;) {
        const auto [got, size] = take(ring);
        if (got == -1) {
            std::this_thread::yield();
            continue;
        }
        ASSERT_EQ(got, expected);
        ASSERT_EQ(size, bytes(expected++));
    }
    writer.join();
    EXPECT_EQ(take(ring).first, -1);
}
