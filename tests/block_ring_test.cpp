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

// One block: its value (its first, middle and last words the same, else -2)
// and size; -1 when none.
static std::pair<long, std::size_t> take(BlockRing& ring) {
    auto block = ring.tryRead();
    if (block.empty()) return {-1, 0};
    std::uint32_t first = 0, middle = 0, last = 0;
    std::memcpy(&first, block.data(), 4);
    std::memcpy(&middle, block.data() + block.size() / 8 * 4, 4);
    std::memcpy(&last, block.data() + (block.size() - 4) / 4 * 4, 4);
    ring.endRead();
    return {first == middle && first == last ? long{first} : -2, block.size()};
}

// One writer and one reader over a million blocks of varying sizes: every
// block arrives once, whole, in order, or was refused to the writer, which
// is never given room for an empty block (it would read as "none") or one
// too large.
TEST(BlockRing, OneWriterOneReaderKeepOrderOverAMillionBlocks) {
    BlockRing ring(4096);
    EXPECT_EQ(ring.tryBeginWrite(0), nullptr);
    EXPECT_EQ(ring.tryBeginWrite(ring.maxBlock() + 1), nullptr);
    constexpr long kBlocks = 1'000'000;
    auto bytes = [](long i) { return 4 + static_cast<std::size_t>(i * 52) % 700; };
    std::thread writer([&] {
        for (long i = 0; i < kBlocks;)
            put(ring, std::uint32_t(i), bytes(i)) ? ++i : (std::this_thread::yield(), i);
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
