// The per-buffer processor alone: no QObject, no settings, no file thread.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/BufferProcessor.h"
#include "recording/BlockQueue.h"
#include "recording/RecordBlock.h"

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
};

// A processor prepared as a capture start would prepare it.
class Processor : public testing::Test {
protected:
    void start(int channels, std::vector<std::uint8_t> armed = {},
               std::vector<std::uint8_t> solo = {}, int hz = 48000) {
        processor.prepare(channels);
        controls.channels = channels;
        controls.rate = hz;
        armed.resize(static_cast<std::size_t>(channels));
        solo.resize(static_cast<std::size_t>(channels));
        controls.armed = armed;
        controls.solo = solo;
        processor.publish(controls);
    }
    void process(const Input& in, int channels = -1) {
        processor.process(in.ptrs.data(), channels < 0 ? std::ssize(in.ptrs) : channels,
                          in.frames());
    }
    // The peaks since the last look: channels, then mix and monitor.
    std::vector<float> peaks() {
        std::vector<float> p;
        float mix, mon;
        processor.meters().take(p, mix, mon);
        p.push_back(mix);
        p.push_back(mon);
        return p;
    }
    std::vector<float> drain() {
        RingBuffer& ring = processor.monitorRing();
        std::vector<float> out(static_cast<std::size_t>(ring.stored()));
        ring.pop(out.data(), static_cast<int>(out.size()));
        return out;
    }

    BlockQueue blocks;
    BufferProcessor processor{blocks};
    AudioControls controls;
};

using V = std::vector<float>;
const float kTwoAtHalf = 2 * 0.5f / std::sqrt(2.0f);

}  // namespace

TEST_F(Processor, PeaksMixGainClippingAndEveryPeakBetweenTicks) {
    start(3, {1, 1, 0});
    Input in(3, 64);
    in.fill(0, 0.5f);
    in.fill(1, 0.5f);
    in.fill(2, -0.9f);
    in.data[2][10] = -0.95f;
    process(in);
    const V p = peaks();
    EXPECT_EQ(V(p.begin(), p.begin() + 3), (V{0.5f, 0.5f, 0.95f}));
    EXPECT_NEAR(p[3], kTwoAtHalf, 1e-6);  // the mix of two inputs at 1/√2
    // Nothing soloed: the headphones carry the mix, the unarmed input is not in it.
    const V feed = drain();
    ASSERT_EQ(feed.size(), 64u);
    for (float s : feed) ASSERT_NEAR(s, kTwoAtHalf, 1e-6);
    EXPECT_NEAR(p[4], kTwoAtHalf, 1e-6);

    // One armed input: gain 1. Above full scale: the mix clips, the input peak does not.
    start(2, {1, 0});
    Input loud(2, 32);
    loud.fill(0, -1.5f);
    process(loud);
    EXPECT_EQ(peaks(), (V{1.5f, 0, 1.0f, 1.0f}));
    EXPECT_FLOAT_EQ(drain().back(), -1.0f);
    // The meters see the largest peak since they last looked, not only the
    // last buffer's: a short over between two ticks is never missed; with
    // nothing new they show the last values again.
    loud.fill(0, 0.9f);
    process(loud);
    loud.fill(0, 0.1f);
    process(loud);
    EXPECT_FLOAT_EQ(peaks()[2], 0.9f);
    EXPECT_FLOAT_EQ(peaks()[2], 0.9f);
    process(loud);
    EXPECT_FLOAT_EQ(peaks()[2], 0.1f);
    drain();

    // No input armed: silent mix and silent headphones.
    start(2);
    process(loud);
    EXPECT_EQ(peaks()[2], 0.0f);
    for (float s : drain()) ASSERT_EQ(s, 0.0f);
}

TEST_F(Processor, SoloRoutesToTheHeadphonesOnly) {
    // Input 2 is soloed but not armed.
    start(3, {1, 0, 0}, {0, 0, 1});
    Input in(3, 16);
    in.fill(0, 0.25f);
    in.fill(2, 0.6f);
    process(in);
    EXPECT_FLOAT_EQ(peaks()[3], 0.25f);
    for (float s : drain()) ASSERT_FLOAT_EQ(s, 0.6f);

    // Two solos: their sum scaled by 1/√2 and clipped.
    start(3, {1, 0, 0}, {0, 1, 1});
    in.fill(1, 0.9f);
    process(in);
    const float sum = std::min((0.9f + 0.6f) / std::sqrt(2.0f), 1.0f);
    for (float s : drain()) ASSERT_NEAR(s, sum, 1e-6);
    EXPECT_NEAR(peaks()[4], sum, 1e-6);

    // A solo only on an input the device did not deliver: silence, not the mix.
    start(3, {1, 0, 0}, {0, 0, 1});
    process(in, 2);
    for (float s : drain()) ASSERT_EQ(s, 0.0f);
    EXPECT_EQ(peaks().size(), 2u + 2);
}

TEST_F(Processor, ToneLastsExactlyItsLengthAndARepeatedRequestStartsAgain) {
    start(1, {1});
    controls.toneRequest = 1;
    controls.toneFrames = 33600;  // 0.7 s at 48 kHz
    processor.publish(controls);
    Input in(1, 256);
    in.fill(0, 0.1f);
    V feed;
    auto play = [&](int buffers) {
        for (int i = 0; i < buffers; ++i) {
            process(in);
            const V got = drain();
            feed.insert(feed.end(), got.begin(), got.end());
        }
    };
    play(160);  // 40960 frames, longer than the tone
    ASSERT_EQ(feed.size(), 160u * 256u);
    for (std::size_t f = 33600; f < feed.size(); ++f) ASSERT_EQ(feed[f], 0.1f) << f;
    int crossings = 0;
    for (std::size_t f = 0; f < 33600; ++f) {
        ASSERT_LE(std::fabs(feed[f]), 0.25f);
        ASSERT_NE(feed[f], 0.1f) << f;  // the tone replaces the feed
        if (f > 0 && (feed[f - 1] < 0) != (feed[f] < 0)) ++crossings;
    }
    EXPECT_NEAR(crossings, 2 * 700, 2);  // 1000 Hz for 0.7 s
    EXPECT_FLOAT_EQ(peaks()[1], 0.1f);   // never in the mix

    // The same length asked again while it plays: the count starts over.
    feed.clear();
    controls.toneFrames = 1000;
    ++controls.toneRequest;
    processor.publish(controls);
    play(2);
    ++controls.toneRequest;
    processor.publish(controls);
    play(8);
    const auto toned = std::count_if(feed.begin(), feed.end(), [](float s) { return s != 0.1f; });
    EXPECT_EQ(toned, 512 + 1000);
}

TEST_F(Processor, EmptyBuffersChannelMismatchAndRecordedBlocks) {
    start(4, {1, 1, 1, 1});
    Input in(4, 8);
    in.fill(3, 0.5f);
    process(in);
    drain();
    processor.process(in.ptrs.data(), 4, 0);
    processor.process(in.ptrs.data(), 4, -5);
    EXPECT_EQ(peaks(), (V{0, 0, 0, 0.5f, 0.25f, 0.25f}));
    EXPECT_EQ(processor.monitorRing().stored(), 0);

    // Fewer channels delivered than the device has: only those are processed.
    in.fill(0, 0.3f);
    process(in, 2);
    const V two = peaks();
    EXPECT_EQ(V(two.begin(), two.begin() + 2), (V{0.3f, 0}));
    // More delivered than the device has: the extra ones are ignored.
    start(2, {1, 1});
    controls.recording = true;
    processor.publish(controls);
    process(in);
    EXPECT_NEAR(peaks()[2], 0.3f / std::sqrt(2.0f), 1e-6);

    // While recording, each armed input and the mix reach the file thread.
    const auto bytes = blocks.tryRead();
    ASSERT_FALSE(bytes.empty());
    const RecordBlock block(bytes);
    ASSERT_EQ(block.tracks(), 2u);
    ASSERT_EQ(block.frames(), 8u);
    EXPECT_EQ(block.id(1), 1);
    EXPECT_EQ(block.track(0)[0], 0.3f);
    EXPECT_NEAR(block.mix()[7], 0.3f / std::sqrt(2.0f), 1e-6);
    blocks.endRead();
    EXPECT_TRUE(blocks.tryRead().empty());
}
