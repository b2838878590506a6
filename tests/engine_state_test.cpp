#include <cmath>

#include "support/RecordingFixture.h"

using EngineState = RecordingTest;

TEST_F(EngineState, TheInitialStateAndTheStoredChoices) {
    Settings().clear();
    {
        RoomEngine fresh(clock);
        EXPECT_TRUE(fresh.inputs().isEmpty());
        EXPECT_EQ(fresh.inputUID(), "");
        EXPECT_EQ(fresh.outputUID(), "");
        EXPECT_TRUE(fresh.channels().isEmpty());
        EXPECT_EQ(fresh.monLabel(), "Mix");
        EXPECT_FALSE(fresh.running());
        EXPECT_FALSE(fresh.recording());
        EXPECT_EQ(fresh.status(), "");
        EXPECT_EQ(fresh.rootPath(), QDir::homePath() + "/Desktop/Tessaly");
        EXPECT_FALSE(fresh.showAll());
        EXPECT_EQ(fresh.hwRate(), 48000);
        // The store is read, never written, by a new engine.
        EXPECT_TRUE(Settings().keys().isEmpty());
    }
    Settings stored;
    stored.setInputUID("scarlett-in");
    stored.setOutputUID("scarlett-out");
    stored.setRootPath("/srv/takes");
    stored.setShowAll(true);
    RoomEngine restarted(clock);
    EXPECT_EQ(restarted.inputUID(), "scarlett-in");
    EXPECT_EQ(restarted.outputUID(), "scarlett-out");
    EXPECT_EQ(restarted.rootPath(), "/srv/takes");
    EXPECT_TRUE(restarted.showAll());
    restarted.setRoot("/home/sam/Sessions");
    restarted.setShowAll(false);
    EXPECT_EQ(Settings().rootPath(), "/home/sam/Sessions");
    EXPECT_FALSE(Settings().showAll());
}

// The tone's length is the rate times the seconds, truncated: at 44.1 kHz
// 0.7 s falls just short of 30870 frames in binary floating point.
TEST_F(EngineState, TheToneIsTruncatedAndOnlyAPositiveLengthPlays) {
    open({"In 1"}, "dev", 44100);
    // The input is a steady 0.1: the headphones carry it but where the tone replaces it.
    std::vector<float> level(441, 0.1f);
    const float* buffers[] = {level.data()};
    auto tonedFrames = [&] {
        int toned = 0;
        for (int b = 0; b < 100; ++b) {
            audio->render(audio->renderUser, buffers, 1, 441);
            for (float s : headphones(441)) toned += s != 0.1f;
        }
        return toned;
    };
    engine.testTone();
    EXPECT_EQ(tonedFrames(), 30869);
    engine.testTone(0.001);
    EXPECT_EQ(tonedFrames(), 44);
    for (double bad : {-1.0, 0.0, std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        engine.testTone(bad);
        EXPECT_EQ(tonedFrames(), 0) << bad;
    }
}
