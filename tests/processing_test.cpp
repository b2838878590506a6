// The per-buffer processor alone: no QObject, no settings, no file thread.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/BufferProcessor.h"
#include "recording/BlockQueue.h"

using V = std::vector<float>;
const float kTwoAtHalf = 2 * 0.5f / std::sqrt(2.0f);

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
    V drain() {
        V out(static_cast<std::size_t>(processor.monitorRing().stored()));
        processor.monitorRing().pop(out.data(), static_cast<int>(out.size()));
        return out;
    }
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
    EXPECT_EQ(std::pair(block.tracks(), block.frames()), std::pair(2u, RecordBlock::maxFrames));
}
