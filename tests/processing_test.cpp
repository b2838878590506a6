#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/RoomEngine.h"
#include "support/EngineProbe.h"

namespace {

// Non-interleaved test input: one vector per channel.
struct Input {
    std::vector<std::vector<float>> data;
    std::vector<const float*> ptrs;

    Input(int channels, int frames) : data(static_cast<std::size_t>(channels)) {
        for (auto& ch : data) ch.assign(static_cast<std::size_t>(frames), 0.0f);
        for (auto& ch : data) ptrs.push_back(ch.data());
    }
    void fill(int c, float v) { std::fill(data[c].begin(), data[c].end(), v); }
    int frames() const { return static_cast<int>(data[0].size()); }
    void into(RoomEngine& e) {
        e.process(ptrs.data(), static_cast<std::int64_t>(ptrs.size()), frames());
    }
};

std::vector<float> drain(RoomEngine& e) {
    RingBuffer& ring = RoomEngineProbe::ring(e);
    std::vector<float> out(static_cast<std::size_t>(ring.stored()));
    ring.pop(out.data(), static_cast<int>(out.size()));
    return out;
}

}  // namespace

TEST(Processing, PeaksMixGainAndClipping) {
    RoomEngine engine;
    RoomEngineProbe::start(engine, 3, 48000, {true, true, false});
    Input in(3, 64);
    in.fill(0, 0.5f);
    in.fill(1, 0.5f);
    in.fill(2, -0.9f);
    in.data[2][10] = -0.95f;
    in.into(engine);
    EXPECT_EQ(RoomEngineProbe::rawPeaks(engine), (std::vector<float>{0.5f, 0.5f, 0.95f}));
    const float twoAtHalf = 2 * 0.5f / std::sqrt(2.0f);
    EXPECT_NEAR(RoomEngineProbe::rawMixPeak(engine), twoAtHalf, 1e-6);
    // Nothing soloed: the headphones carry the mix, the unarmed input is not in it.
    const auto feed = drain(engine);
    ASSERT_EQ(feed.size(), 64u);
    for (float s : feed) ASSERT_NEAR(s, twoAtHalf, 1e-6);
    EXPECT_NEAR(RoomEngineProbe::rawMonPeak(engine), twoAtHalf, 1e-6);

    // One armed input at full scale: gain 1, peak 1. Above full scale: clipped.
    RoomEngineProbe::start(engine, 2, 48000, {true, false});
    Input loud(2, 32);
    loud.fill(0, 1.0f);
    loud.into(engine);
    EXPECT_FLOAT_EQ(RoomEngineProbe::rawMixPeak(engine), 1.0f);
    loud.fill(0, -1.5f);
    loud.into(engine);
    EXPECT_FLOAT_EQ(RoomEngineProbe::rawMixPeak(engine), 1.0f);
    EXPECT_FLOAT_EQ(RoomEngineProbe::rawPeaks(engine)[0], 1.5f);  // the input peak is not clipped
    EXPECT_FLOAT_EQ(drain(engine).back(), -1.0f);

    // The meters see the largest peak since they last looked, not only the
    // last buffer's: a short over between two ticks is never missed.
    loud.fill(0, 0.9f);
    loud.into(engine);
    loud.fill(0, 0.1f);
    loud.into(engine);
    EXPECT_FLOAT_EQ(RoomEngineProbe::rawMixPeak(engine), 0.9f);
    loud.into(engine);
    EXPECT_FLOAT_EQ(RoomEngineProbe::rawPeaks(engine)[0], 0.1f);
    EXPECT_FLOAT_EQ(RoomEngineProbe::rawMonPeak(engine), 0.1f);
    drain(engine);

    // No input armed: silent mix and silent headphones.
    RoomEngineProbe::start(engine, 2, 48000);
    loud.into(engine);
    EXPECT_EQ(RoomEngineProbe::rawMixPeak(engine), 0.0f);
    for (float s : drain(engine)) ASSERT_EQ(s, 0.0f);
}

TEST(Processing, SoloRoutesToTheHeadphonesOnly) {
    RoomEngine engine;
    // Input 2 is soloed but not armed.
    RoomEngineProbe::start(engine, 3, 48000, {true, false, false}, {false, false, true});
    Input in(3, 16);
    in.fill(0, 0.25f);
    in.fill(2, 0.6f);
    in.into(engine);
    EXPECT_FLOAT_EQ(RoomEngineProbe::rawMixPeak(engine), 0.25f);
    for (float s : drain(engine)) ASSERT_FLOAT_EQ(s, 0.6f);

    // Two solos: their sum scaled by 1/√2 and clipped.
    RoomEngineProbe::start(engine, 3, 48000, {true, false, false}, {false, true, true});
    in.fill(1, 0.9f);
    in.into(engine);
    const float sum = std::min((0.9f + 0.6f) / std::sqrt(2.0f), 1.0f);
    for (float s : drain(engine)) ASSERT_NEAR(s, sum, 1e-6);
    EXPECT_NEAR(RoomEngineProbe::rawMonPeak(engine), sum, 1e-6);

    // A solo only on an input the device did not deliver: silence, not the mix.
    RoomEngineProbe::start(engine, 3, 48000, {true, false, false}, {false, false, true});
    engine.process(in.ptrs.data(), 2, in.frames());
    for (float s : drain(engine)) ASSERT_EQ(s, 0.0f);
    EXPECT_EQ(RoomEngineProbe::rawPeaks(engine).size(), 2u);
}

TEST(Processing, ToneLastsExactlyItsLengthAcrossBuffers) {
    RoomEngine engine;
    RoomEngineProbe::start(engine, 1, 48000, {true});
    engine.testTone(0.7);
    Input in(1, 256);
    in.fill(0, 0.1f);
    std::vector<float> feed;
    for (int i = 0; i < 160; ++i) {  // 40960 frames, longer than the tone
        in.into(engine);
        const auto got = drain(engine);
        feed.insert(feed.end(), got.begin(), got.end());
    }
    const std::size_t toneFrames = 33600;  // 0.7 s at 48 kHz
    ASSERT_EQ(feed.size(), 160u * 256u);
    for (std::size_t f = toneFrames; f < feed.size(); ++f) ASSERT_EQ(feed[f], 0.1f) << f;
    int crossings = 0;
    for (std::size_t f = 0; f < toneFrames; ++f) {
        ASSERT_LE(std::fabs(feed[f]), 0.25f);
        ASSERT_NE(feed[f], 0.1f) << f;  // the tone replaces the feed
        if (f > 0 && (feed[f - 1] < 0) != (feed[f] < 0)) ++crossings;
    }
    EXPECT_NEAR(crossings, 2 * 700, 2);                          // 1000 Hz for 0.7 s
    EXPECT_FLOAT_EQ(RoomEngineProbe::rawMixPeak(engine), 0.1f);  // never in the mix
}

TEST(Processing, EmptyBuffersAndChannelCountMismatch) {
    RoomEngine engine;
    RoomEngineProbe::start(engine, 4, 48000, {true, true, true, true});
    Input in(4, 8);
    in.fill(3, 0.5f);
    in.into(engine);
    drain(engine);
    engine.process(in.ptrs.data(), 4, 0);
    engine.process(in.ptrs.data(), 4, -5);
    EXPECT_EQ(RoomEngineProbe::rawPeaks(engine), (std::vector<float>{0, 0, 0, 0.5f}));
    EXPECT_EQ(RoomEngineProbe::ring(engine).stored(), 0);

    // Fewer channels delivered than the device has: only those are processed.
    in.fill(0, 0.3f);
    engine.process(in.ptrs.data(), 2, 8);
    EXPECT_EQ(RoomEngineProbe::rawPeaks(engine), (std::vector<float>{0.3f, 0}));
    // More delivered than the device has: the extra ones are ignored.
    RoomEngineProbe::start(engine, 2, 48000, {true, true});
    in.into(engine);
    EXPECT_EQ(RoomEngineProbe::rawPeaks(engine), (std::vector<float>{0.3f, 0}));
    EXPECT_NEAR(RoomEngineProbe::rawMixPeak(engine), 0.3f / std::sqrt(2.0f), 1e-6);
}
