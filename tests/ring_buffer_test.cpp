#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "engine/HeadphoneFeed.h"
#include "engine/RingBuffer.h"

using V = std::vector<float>;

static V popped(RingBuffer& ring, int frames, double ratio = 1.0) {
    V out(static_cast<std::size_t>(frames), -99.0f);
    ring.pop(out.data(), frames, ratio);
    return out;
}

TEST(RingBuffer, NeverLagsTheHeadphonesStartWithTheNewestResamplingAndEveryWrap) {
    RingBuffer feed(100);
    for (float s = 0; s < 5; ++s) feed.push(V{s * 10, s * 10 + 1});
    EXPECT_EQ(popped(feed, 3), (V{40, 41, 0}));  // five pushes behind: only the latest is kept
    feed.push(V{1, 2});
    feed.push(V{3, 4});
    EXPECT_EQ(popped(feed, 4), (V{1, 2, 3, 4}));  // two pushes behind is still in time
    feed.push(V{5, 6});
    feed.push(V{7, 8});
    // Headphones that start take the newest samples, on every channel.
    HeadphoneFeed headphones(feed, 1.0);
    V left(3), right(3);
    float* outs[] = {left.data(), right.data()};
    HeadphoneFeed::pull(&headphones, outs, 2, 3);
    EXPECT_EQ(left, (V{7, 8, 0}));
    EXPECT_EQ(right, left);
    // Resampling interpolates and keeps one sample behind.
    RingBuffer slow(8);
    slow.push(V{0, 1, 2, 3});
    EXPECT_EQ(popped(slow, 3, 0.5), (V{0, 0.5f, 1.0f}));
    EXPECT_EQ(slow.stored(), 3);
    EXPECT_DOUBLE_EQ(slow.fraction(), 0.5);
    // Faster than the store: two samples per output, never the last one.
    EXPECT_EQ(popped(slow, 3, 2.0), (V{1.5f, 0, 0}));
    EXPECT_EQ(slow.stored(), 1);
    EXPECT_EQ(popped(slow, 2, 1.088), (V{0, 0}));  // one sample: silence, and it stays
    EXPECT_EQ(popped(slow, 1), (V{3}));
    // Block copies wrap right from every position: a ring of each size, moved
    // on by `offset`, then given `n` samples, gives back the newest it can hold.
    for (int cap = 1; cap <= 9; ++cap)
        for (int offset = 0; offset <= cap; ++offset)
            for (int n = 0; n <= 2 * cap + 1; ++n) {
                RingBuffer ring(cap);
                ring.push(V(static_cast<std::size_t>(offset), 9.0f));
                popped(ring, offset);
                V chunk(static_cast<std::size_t>(n));
                std::iota(chunk.begin(), chunk.end(), 1.0f);
                ring.push(chunk);
                V want(chunk.end() - std::min(n, cap), chunk.end());
                want.resize(static_cast<std::size_t>(cap) + 1, 0.0f);
                ASSERT_EQ(popped(ring, cap + 1), want) << cap << " " << offset << " " << n;
            }
}
