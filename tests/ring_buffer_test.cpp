#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/RingBuffer.h"

using V = std::vector<float>;

static V popped(RingBuffer& ring, int frames, double ratio = 1.0) {
    V out(static_cast<std::size_t>(frames), -99.0f);
    ring.pop(out.data(), frames, ratio);
    return out;
}

TEST(RingBuffer, PlainCopyWrapsUnderrunsToSilenceAndNeverLagsMoreThanTwoPushes) {
    RingBuffer ring(4);
    EXPECT_EQ(popped(ring, 3), (V{0, 0, 0}));
    ring.push(V{1, 2, 3, 4, 5, 6});
    EXPECT_EQ(ring.stored(), 4);
    EXPECT_EQ(popped(ring, 5), (V{3, 4, 5, 6, 0}));
    EXPECT_EQ(popped(ring, 4), (V{0, 0, 0, 0}));  // an underrun never repeats old samples
    EXPECT_EQ(popped(ring, 0), V{});

    RingBuffer feed(100);
    for (float s = 0; s < 5; ++s) feed.push(V{s * 10, s * 10 + 1});
    EXPECT_EQ(popped(feed, 3), (V{40, 41, 0}));  // five pushes behind: only the latest is kept
    feed.push(V{1, 2});
    feed.push(V{3, 4});
    EXPECT_EQ(popped(feed, 4), (V{1, 2, 3, 4}));  // two pushes behind is still in time
    feed.push(V{5, 6});
    feed.push(V{7, 8});
    feed.catchUp();  // an output that starts takes the newest samples
    EXPECT_EQ(popped(feed, 3), (V{7, 8, 0}));
}

TEST(RingBuffer, ResamplingInterpolatesAndKeepsOneSampleBehind) {
    RingBuffer ring(8);
    ring.push(V{0, 1, 2, 3});
    EXPECT_EQ(popped(ring, 3, 0.5), (V{0, 0.5f, 1.0f}));
    EXPECT_EQ(ring.stored(), 3);
    EXPECT_DOUBLE_EQ(ring.fraction(), 0.5);
    // Faster than the store: two samples per output, never the last one.
    EXPECT_EQ(popped(ring, 3, 2.0), (V{1.5f, 0, 0}));
    EXPECT_EQ(ring.stored(), 1);
    EXPECT_EQ(popped(ring, 2, 1.088), (V{0, 0}));  // one sample: silence, and it stays
    EXPECT_EQ(popped(ring, 1), (V{3}));
}

// Bulk pushes leave exactly what storing sample by sample leaves, for every
// length against every fill level, across the wrap.
TEST(RingBuffer, BulkPushMatchesSampleBySampleStore) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 400; ++trial) {
        const int cap = 1 + static_cast<int>(rng() % 9);
        RingBuffer ring(cap);
        V all;  // every sample pushed
        std::size_t readAt = 0, latest = 0;
        for (int step = 0; step < 6; ++step) {
            const int n = static_cast<int>(rng() % static_cast<unsigned>(2 * cap + 2));
            V chunk;
            for (int i = 0; i < n; ++i) chunk.push_back(static_cast<float>(all.size() + 1 + i));
            ring.push(chunk);
            all.insert(all.end(), chunk.begin(), chunk.end());
            if (n > 0) latest = static_cast<std::size_t>(n);
            if (all.size() - readAt > 2 * latest) readAt = all.size() - latest;
            readAt = std::max(readAt, all.size() - std::min<std::size_t>(all.size(), cap));
            ASSERT_EQ(ring.stored(), static_cast<int>(all.size() - readAt));
            const int take = static_cast<int>(rng() % static_cast<unsigned>(cap + 1));
            const V got = popped(ring, take);
            for (int i = 0; i < take; ++i) {
                const std::size_t at = readAt + static_cast<std::size_t>(i);
                ASSERT_EQ(got[static_cast<std::size_t>(i)], at < all.size() ? all[at] : 0.0f);
            }
            readAt = std::min(all.size(), readAt + static_cast<std::size_t>(take));
        }
    }
}
