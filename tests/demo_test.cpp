// The simulated interface drives the real engine from its own clock thread.
#include "channels/Labels.h"
#include "hardware/InputCapture.h"
#include "hardware/demo/DemoSystem.h"
#include "support/LogCapture.h"
#include "support/RecordingFixture.h"

namespace {

class Demo : public RecordingTest {
protected:
    void start(DemoSystem::Options options = {}) {
        auto owned = std::make_unique<DemoSystem>(options);
        demo = owned.get();
        AudioSystem::install(std::move(owned));
        engine.boot();
        ASSERT_TRUE(waitFor([&] { return engine.running(); }));
    }

    DemoSystem* demo = nullptr;
};

}  // namespace

// The callback can be swapped while the audio thread runs: an old one never
// runs after the swap returns, and is never freed while running (ASan).
TEST(DemoCapture, SwappingTheCallbackWhileAudioRuns) {
    AudioSystem::install(std::make_unique<DemoSystem>());
    InputCapture capture;
    ASSERT_FALSE(capture.start(DemoSystem::deviceId));
    EXPECT_EQ(capture.channels(), 20);
    EXPECT_EQ(capture.rate(), 48000.0);
    std::atomic<int> calls[2] = {0, 0};
    for (int round = 0; round < 40; ++round) {
        const int mine = round % 2;
        capture.setOnBuffer([&calls, mine, guard = std::make_shared<int>(7)](
                                const float* const*, std::int64_t n, std::int64_t frames) {
            EXPECT_EQ(*guard, 7);
            EXPECT_EQ(n, 20);
            EXPECT_EQ(frames, DemoSystem::bufferFrames);
            calls[mine]++;
        });
        const int other = calls[1 - mine].load();
        std::this_thread::sleep_for(std::chrono::milliseconds(8));
        EXPECT_EQ(calls[1 - mine].load(), other);  // the replaced one is silent
    }
    EXPECT_GT(calls[0] + calls[1], 40);
    capture.setOnBuffer({});
    capture.stop();
    EXPECT_EQ(capture.channels(), 0);
    capture.stop();  // twice is harmless

    // Destroying a stream is its stop: the memory its callback writes to is
    // freed at once after, which the address sanitizer would catch.
    AudioSystem& demo = AudioSystem::current();
    for (int round = 0; round < 30; ++round) {
        auto* seen = new std::atomic<int>(0);
        CaptureError error;
        auto in = demo.openCapture(
            DemoSystem::deviceId,
            [](void* user, const float* const*, std::int64_t, std::int64_t) {
                ++*static_cast<std::atomic<int>*>(user);
            },
            seen, error);
        auto out = demo.openPlayback(
            nullptr, 2,
            [](void* user, float* const*, int, std::int64_t) {
                ++*static_cast<std::atomic<int>*>(user);
            },
            seen);
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 4));
        if (round % 2) in.reset();
        out.stream.reset();
        in.reset();
        delete seen;
    }
    AudioSystem::install(nullptr);
}

TEST_F(Demo, EighteenInputsAndANameLikeATemplate) {
    LogCapture log;
    // A name that looks like a text template stays what it is.
    start({18, 20, 48000, true, "%1 %2 Box (simulated)"});
    ASSERT_EQ(engine.channels().size(), 18);
    for (const Channel& ch : engine.channels()) EXPECT_EQ(ch.armed, ch.id < 8);
    EXPECT_EQ(engine.status(),
              "%1 %2 Box (simulated) — 18 inputs at 48 kHz · headphones: %1 %2 Box (simulated)");
    EXPECT_EQ(log.lines(), (QStringList{"input: %1 %2 Box (simulated) 18ch @48000",
                                        "headphones: %1 %2 Box (simulated) 20ch @48000.0"}));
}

TEST_F(Demo, TheToneComesBackOnInputs19And20AndMetersHoldAfterStop) {
    Labels unarmed;  // a silent mix from the start
    for (int i = 0; i < 8; ++i) unarmed[i] = {QString(), false};
    Settings().setLabels(DemoSystem::uid(), encodeLabels(unarmed));
    start();
    runFor(0.2);
    engine.tick();
    EXPECT_EQ(engine.channels()[18].peak, 0.0f);
    engine.testTone(0.5);
    runFor(0.25);
    engine.tick();
    EXPECT_NEAR(engine.channels()[18].peak, 0.25f, 0.01f);
    EXPECT_NEAR(engine.channels()[19].peak, 0.25f, 0.01f);
    EXPECT_GT(engine.channels()[0].peak, 0.4f);  // the first input's tone, armed or not

    engine.stopEngine();
    engine.tick();
    std::vector<float> last;
    for (const Channel& ch : engine.channels()) last.push_back(ch.peak);
    for (int t = 0; t < 20; ++t) engine.tick();
    for (std::size_t i = 0; i < last.size(); ++i) {
        EXPECT_EQ(engine.channels()[static_cast<qsizetype>(i)].peak, last[i]) << i;
    }
}
