#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/RingBuffer.h"

namespace {

std::vector<float> popped(RingBuffer& ring, int frames, double ratio = 1.0) {
    std::vector<float> out(static_cast<std::size_t>(frames), -99.0f);
    ring.pop(out.data(), frames, ratio);
    return out;
}

using V = std::vector<float>;

}  // namespace

TEST(RingBuffer, PlainCopyWrapsAndUnderrunsToSilence) {
    RingBuffer ring(4);
    EXPECT_EQ(popped(ring, 3), (V{0, 0, 0}));

    const V six{1, 2, 3, 4, 5, 6};
    ring.push(six);
    EXPECT_EQ(ring.stored(), 4);
    EXPECT_EQ(popped(ring, 5), (V{3, 4, 5, 6, 0}));
    // An underrun never repeats old samples.
    EXPECT_EQ(popped(ring, 4), (V{0, 0, 0, 0}));

    ring.push(V{7, 8});
    EXPECT_EQ(popped(ring, 0), V{});
    EXPECT_EQ(popped(ring, 3), (V{7, 8, 0}));
}

TEST(RingBuffer, TheReaderNeverLagsMoreThanTwoPushes) {
    RingBuffer ring(100);
    for (float s = 0; s < 5; ++s) ring.push(V{s * 10, s * 10 + 1});
    EXPECT_EQ(popped(ring, 3), (V{40, 41, 0}));  // five pushes behind: only the latest is kept
    ring.push(V{1, 2});
    ring.push(V{3, 4});
    EXPECT_EQ(popped(ring, 4), (V{1, 2, 3, 4}));  // two pushes behind is still in time
    ring.push(V{5, 6});
    ring.push(V{7, 8});
    ring.catchUp();  // an output that starts takes the newest samples
    EXPECT_EQ(popped(ring, 3), (V{7, 8, 0}));
}

TEST(RingBuffer, ResamplingInterpolatesAndKeepsOneSampleBehind) {
    RingBuffer ring(8);
    ring.push(V{0, 1, 2, 3});
    EXPECT_EQ(popped(ring, 3, 0.5), (V{0, 0.5f, 1.0f}));
    EXPECT_EQ(ring.stored(), 3);
    EXPECT_DOUBLE_EQ(ring.fraction(), 0.5);

    // Faster than the store: consumes two samples per output, never the last one.
    EXPECT_EQ(popped(ring, 3, 2.0), (V{1.5f, 0, 0}));
    EXPECT_EQ(ring.stored(), 1);

    RingBuffer single(4);
    single.push(V{0.75f});
    EXPECT_EQ(popped(single, 2, 1.088), (V{0, 0}));
    EXPECT_EQ(single.stored(), 1);
    EXPECT_EQ(popped(single, 1), (V{0.75f}));  // the kept sample is still there
}

// Bulk pushes must leave exactly what storing sample by sample leaves, for
// every length against every fill level, across the wrap; and a reader more
// than two pushes behind starts again from the latest push.
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
            // The model: more than two pushes behind keeps the latest; the
            // store keeps at most `cap`.
            if (all.size() - readAt > 2 * latest) readAt = all.size() - latest;
            readAt = std::max(readAt, all.size() - std::min<std::size_t>(all.size(), cap));
            ASSERT_EQ(ring.stored(), static_cast<int>(all.size() - readAt));
            const int take = static_cast<int>(rng() % static_cast<unsigned>(cap + 1));
            const V got = popped(ring, take);
            for (int i = 0; i < take; ++i) {
                const std::size_t at = readAt + static_cast<std::size_t>(i);
                ASSERT_EQ(got[static_cast<std::size_t>(i)], at < all.size() ? all[at] : 0.0f)
                    << "trial " << trial;
            }
            readAt = std::min(all.size(), readAt + static_cast<std::size_t>(take));
        }
    }
}
