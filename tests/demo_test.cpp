#include "hardware/InputCapture.h"
#include "hardware/demo/DemoSystem.h"
#include "support/RecordingFixture.h"

// The callback can be swapped while the audio thread runs: an old one never
// runs after the swap returns, and is never freed while running (ASan).
// Destroying a stream is its stop: the memory its callback writes to is freed
// at once after, which the address sanitizer would catch.
TEST(DemoCapture, SwappingTheCallbackAndStoppingWhileAudioRuns) {
    AudioSystem::install(std::make_unique<DemoSystem>());
    InputCapture capture;
    ASSERT_FALSE(capture.start(DemoSystem::deviceId));
    std::atomic<int> calls[2] = {0, 0};
    for (int round = 0; round < 40; ++round) {
        const int mine = round % 2;
        capture.setOnBuffer(
            [&calls, mine, guard = std::make_shared<int>(7)](
                const float* const*, std::int64_t n, std::int64_t frames, const BufferClock&) {
                EXPECT_TRUE(*guard == 7 && n == 20 && frames == DemoSystem::bufferFrames);
                calls[mine]++;
            });
        const int other = calls[1 - mine].load();
        std::this_thread::sleep_for(std::chrono::milliseconds(8));
        EXPECT_EQ(calls[1 - mine].load(), other);  // the replaced one is silent
    }
    EXPECT_GT(calls[0] + calls[1], 40);
    capture.stop();
    AudioSystem& demo = AudioSystem::current();
    auto count = [](void* user, auto...) { ++*static_cast<std::atomic<int>*>(user); };
    for (int round = 0; round < 30; ++round) {
        auto* seen = new std::atomic<int>(0);
        CaptureError error;
        auto in = demo.openCapture(DemoSystem::deviceId, count, seen, error);
        auto out = demo.openPlayback(nullptr, 2, count, seen);
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 4));
        if (round % 2) in.reset();
        out.stream.reset();
        in.reset();
        delete seen;
    }
    AudioSystem::install(nullptr);
}
