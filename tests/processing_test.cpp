// The per-buffer processor alone (no QObject, no settings, no file thread), and its rings.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <vector>

#include "engine/BufferProcessor.h"
#include "engine/HeadphoneFeed.h"
#include "engine/LossClock.h"
#include "recording/BlockQueue.h"

using V = std::vector<float>;
const float kTwoAtHalf = 2 * 0.5f / std::sqrt(2.0f);

static V popped(RingBuffer& ring, int frames, double ratio = 1.0) {
    V out(static_cast<std::size_t>(frames), -99.0f);
    ring.pop(out.data(), frames, ratio);
    return out;
}

// A processor prepared as a capture start prepares it, fed steady levels.
class Processor : public testing::Test {
protected:
    void start(std::vector<std::uint8_t> armed, std::vector<std::uint8_t> solo = {}) {
        processor.prepare(static_cast<int>(armed.size()));
        solo.resize(armed.size());
        controls = {static_cast<int>(armed.size()), 48000, armed, solo};
        processor.publish(controls);
    }
    // One buffer, channel c at levels[c] but for `odd` at frame 10.
    void process(V levels, int frames = 64, int delivered = -1, float odd = 0.0f) {
        std::vector<V> data;
        std::vector<const float*> ptrs;
        for (float l : levels) data.emplace_back(static_cast<std::size_t>(std::max(frames, 11)), l);
        if (odd != 0.0f) data.back()[10] = odd;
        for (const V& d : data) ptrs.push_back(d.data());
        processor.process(ptrs.data(), delivered < 0 ? std::ssize(ptrs) : delivered, frames);
    }
    // The peaks since the last look: channels, then mix and monitor.
    V peaks() {
        V p;
        float mix, mon;
        processor.meters().take(p, mix, mon);
        p.insert(p.end(), {mix, mon});
        return p;
    }
    void expectPeaks(V want) {
        const V got = peaks();
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], 1e-6) << i;
    }
    V drain() { return popped(processor.monitorRing(), processor.monitorRing().stored()); }
    BlockQueue blocks;
    BufferProcessor processor{blocks};
    AudioControls controls;
};

TEST_F(Processor, PeaksMixGainClippingSoloEmptyBuffersChannelMismatchAndRecordedBlocks) {
    start({1, 1, 0});
    process({0.5f, 0.5f, -0.9f}, 64, -1, -0.95f);
    // Two armed inputs at 1/√2; nothing soloed: the headphones carry the mix.
    expectPeaks({0.5f, 0.5f, 0.95f, kTwoAtHalf, kTwoAtHalf});
    for (float s : drain()) ASSERT_NEAR(s, kTwoAtHalf, 1e-6);
    // One armed input: gain 1. Above full scale: the mix clips, the input peak does not.
    start({1, 0});
    process({-1.5f, 0});
    EXPECT_EQ(peaks(), (V{1.5f, 0, 1.0f, 1.0f}));
    EXPECT_FLOAT_EQ(drain().back(), -1.0f);
    // The meters see the largest peak since they last looked, not only the
    // last buffer's; with nothing new they show the last values again.
    process({0.9f, 0});
    process({0.1f, 0});
    EXPECT_EQ(peaks(), (V{0.9f, 0, 0.9f, 0.9f}));
    EXPECT_EQ(peaks(), (V{0.9f, 0, 0.9f, 0.9f}));
    process({0.1f, 0});
    EXPECT_EQ(peaks(), (V{0.1f, 0, 0.1f, 0.1f}));
    drain();
    start({0, 0});  // nothing armed: a silent mix and silent headphones
    process({0.9f, 0.9f});
    EXPECT_EQ(peaks()[2], 0.0f);
    for (float s : drain()) ASSERT_EQ(s, 0.0f);
    // A solo goes to the headphones only.
    start({1, 0, 0}, {0, 0, 1});  // soloed but not armed
    process({0.25f, 0, 0.6f});
    EXPECT_FLOAT_EQ(peaks()[3], 0.25f);
    for (float s : drain()) ASSERT_FLOAT_EQ(s, 0.6f);
    start({1, 0, 0}, {0, 1, 1});  // two solos: their sum at 1/√2, clipped
    process({0.25f, 0.9f, 0.6f});
    const float sum = std::min((0.9f + 0.6f) / std::sqrt(2.0f), 1.0f);
    for (float s : drain()) ASSERT_NEAR(s, sum, 1e-6);
    EXPECT_NEAR(peaks()[4], sum, 1e-6);
    // A solo only on an input the device did not deliver: silence, not the mix.
    start({1, 0, 0}, {0, 0, 1});
    process({0.25f, 0.9f, 0.6f}, 64, 2);
    for (float s : drain()) ASSERT_EQ(s, 0.0f);
    EXPECT_EQ(peaks().back(), 0.0f);
    start({1, 1, 1, 1});
    process({0, 0, 0, 0.5f}, 8);
    drain();
    for (int empty : {0, -5}) process({0.7f, 0.7f, 0.7f, 0.7f}, empty);
    EXPECT_EQ(peaks(), (V{0, 0, 0, 0.5f, 0.25f, 0.25f}));
    EXPECT_EQ(processor.monitorRing().stored(), 0);
    const float mix = 0.3f / std::sqrt(2.0f);
    process({0.3f, 0, 0, 0.5f}, 8, 2);  // fewer delivered than the device has
    expectPeaks({0.3f, 0, mix, mix});
    start({1, 1});  // more delivered than the device has: the extra ignored
    controls.recording = true;
    processor.publish(controls);
    process({0.3f, 0, 0.8f}, 2000);
    expectPeaks({0.3f, 0, mix, mix});
    // Recorded: the device's armed inputs only, in blocks of at most 1024 frames.
    const RecordBlock block(blocks.tryRead());
    EXPECT_EQ(std::pair(block.tracks(), block.frames()), std::pair(2u, 1024u));
}

// The loss clock, cycle by cycle at 256 frames and 48 kHz (5333 µs a cycle):
// {frames the counter moves, µs that pass, buffer frames} → what it says.
TEST(LossClockTable, JitterDriftStallsSkippedCyclesAndClockChanges) {
    struct Row {
        std::int64_t frames, micros, size = 256, found = 0;
        bool holding = false;
        std::int64_t missed = 0;
    };
    const std::vector<Row> rows{
        {0, 0},  // the first buffer: nothing to compare
        {256, 5333},
        {256, 16000, 256, 0, true},  // two cycles late: held
        {256, 0},                    // catching up: paid back, jitter
        {256, 0},
        {512, 10667, 256, 0, false, 256},  // a cycle skipped, its time behind it: lost at once
        {256, 5333},
        {256, 305333, 256, 0, true},  // a stall of 0.3 s: held
        {512, 100, 256, 0, true},     // a jump as it resumes, owed time behind it, held,
        {0, 70, 256, 0, true},        // and taken back: the same frame time twice
        {256, 5333, 256, 0, true},
        {256, 5333, 256, 0, true},
        {256, 5333, 256, 14400 - 512 + 8},  // four steady cycles: certain
        {48000, 5333},                      // a jump with no time behind it: another clock
        {-256, 5333},                       // back: another clock
        {1024, 50000, 1024},                // a new buffer size starts afresh
        {1024, 21333 + 40000, 1024, 0, true}};
    LossClock clock;
    BufferClock at{4'294'967'000u, 1'000'000};  // the frame counter wraps on the way
    for (std::size_t i = 0; i < rows.size(); ++i) {
        at.frame += static_cast<std::uint32_t>(rows[i].frames);
        at.micros += static_cast<std::uint64_t>(rows[i].micros);
        const LossClock::Verdict v = clock.next(at, rows[i].size, 48000);
        EXPECT_EQ(std::pair(v.holding, v.missed), std::pair(rows[i].holding, rows[i].missed))
            << "row " << i;
        EXPECT_NEAR(v.found, rows[i].found, 8) << "row " << i;  // what is left of the jitter
    }
    // Cycles that come early then late by half a buffer and more never
    // steady: half a second on, the debt is decided all the same.
    int cycles = 0;  // the last row left it held
    for (bool holding = true; holding; ++cycles) {
        at.frame += 1024;
        at.micros += cycles % 2 ? 10000 : 32667;
        holding = clock.next(at, 1024, 48000).holding;
    }
    EXPECT_EQ(cycles, 24);  // half a second of 1024-frame buffers
    // The two clocks drifting 100 ppm apart for an hour say nothing.
    for (int cycle = 0; cycle < 675'000; ++cycle) {
        at.frame += 256;
        at.micros += 5334;
        const LossClock::Verdict v = clock.next(at, 256, 48000);
        ASSERT_FALSE(v.holding || v.found || v.missed) << cycle;
    }
}

TEST(RingBuffer, NeverLagsTheHeadphonesStartWithTheNewestResamplingAndEveryWrap) {
    RingBuffer feed(100);
    for (float s = 0; s < 5; ++s) feed.push(V{s * 10, s * 10 + 1});
    EXPECT_EQ(popped(feed, 3), (V{40, 41, 0}));  // five pushes behind: only the latest is kept
    feed.push(V{1, 2});
    feed.push(V{3, 4});
    EXPECT_EQ(popped(feed, 4), (V{1, 2, 3, 4}));  // two pushes behind is still in time
    for (float s = 1; s < 7; s += 2) feed.push(V{s, s + 1}, 6);  // pieces of one buffer
    EXPECT_EQ(popped(feed, 6), (V{1, 2, 3, 4, 5, 6}));           // all of it, not the last piece
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
