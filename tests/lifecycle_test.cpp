#include <cmath>

#include "hardware/AudioDevices.h"
#include "support/LogCapture.h"
#include "support/RecordingFixture.h"

static AudioDev dev(std::uint32_t id, const QString& name, std::int64_t in, std::int64_t out) {
    return AudioDev{id, name, QStringLiteral("uid-") + QString::number(id), in, out};
}

static QStringList uids(const QList<AudioDev>& list) {
    QStringList out;
    for (const AudioDev& d : list) out << d.uid;
    return out;
}

using Lifecycle = RecordingTest;

TEST_F(Lifecycle, TheCatalogueOffersRealInterfacesAndTheChoicePrefersAScarlett) {
    audio->list = {dev(1, "BlackHole 2ch", 2, 2),       dev(2, "ZOOM Audio", 2, 0),
                   dev(3, "Multi-Output Device", 0, 2), dev(4, "Built-in Input", 2, 0),
                   dev(5, "Headphone Amp", 0, 2),       dev(6, "my SCARLETT 4i4", 4, 4)};
    EXPECT_EQ(uids(AudioDevices::inputs()), (QStringList{"uid-4", "uid-6"}));
    EXPECT_EQ(uids(AudioDevices::outputs()), (QStringList{"uid-5", "uid-6"}));
    EXPECT_EQ(AudioDevices::find("uid-1")->name, "BlackHole 2ch");  // found, though hidden
    audio->names[{6, 2}] = "Vocal Mic";
    EXPECT_EQ(AudioDevices::inputNames(6, 3), (QStringList{"Input 1", "Vocal Mic", "Input 3"}));
    EXPECT_EQ(AudioDevices::inputNames(6, -4), QStringList{"Input 1"});

    Settings().setInputUID("unplugged");
    RoomEngine e(clock);
    e.refreshDevices();
    EXPECT_EQ(e.inputUID() + " " + e.outputUID(), "uid-6 uid-6");  // the same interface first
    audio->list.removeLast();
    e.refreshDevices();
    EXPECT_EQ(e.inputUID() + " " + e.outputUID(), "uid-4 uid-5");
    EXPECT_EQ(Settings().inputUID(), "unplugged");  // automatic choices are not stored
}

TEST_F(Lifecycle, StatusTextsForEveryKindOfStart) {
    LogCapture log;
    engine.startEngine();
    EXPECT_EQ(engine.status(), "No audio interface found — plug in the Scarlett");
    audio->list = {dev(1, "Scarlett 18i20", 18, 20), dev(2, "Dead Box", 0, 2)};
    engine.refreshDevices();
    engine.startEngine();
    EXPECT_EQ(engine.status(), "Scarlett 18i20 — 18 inputs at 48 kHz · headphones: Scarlett 18i20");
    ASSERT_EQ(engine.channels().size(), 18);
    for (const Channel& ch : engine.channels()) EXPECT_EQ(ch.armed, ch.id < 8);
    EXPECT_EQ(log.lines(), (QStringList{"input: Scarlett 18i20 18ch @48000",
                                        "headphones: Scarlett 18i20 20ch @48000.0"}));
    for (auto [hz, text] : {std::pair{44100.0, "44.1"}, {96000.0, "96"}, {88200.0, "88"}}) {
        audio->rates[1] = hz;
        engine.startEngine();
        EXPECT_EQ(engine.status(), "Scarlett 18i20 — 18 inputs at " + QString(text) +
                                       " kHz · headphones: Scarlett 18i20  ⚠︎ set 48 kHz in "
                                       "Focusrite Control to match video");
        EXPECT_EQ(engine.hwRate(), static_cast<int>(hz));
    }
    engine.stopEngine();
    EXPECT_EQ(engine.hwRate(), 48000);
    audio->rates[1] = 48000;
    engine.selectOutput("none");  // no headphone device: the default output's format
    EXPECT_EQ(engine.status(), "Scarlett 18i20 — 18 inputs at 48 kHz");
    EXPECT_TRUE(log.lines().contains("headphones: default 2ch @44100.0"));
    audio->playbackStartError = "no JACK server is running";  // a failure stays visible
    engine.selectOutput("uid-1");
    EXPECT_EQ(engine.status(),
              "Scarlett 18i20 — 18 inputs at 48 kHz · headphones: Scarlett 18i20"
              " · Headphone output failed: no JACK server is running");
    EXPECT_TRUE(engine.running());
    engine.selectInput("uid-2");  // an input that cannot capture
    EXPECT_FALSE(engine.running());
    EXPECT_EQ(engine.status(), "Could not open Dead Box: find input channels failed (0)");
    EXPECT_EQ(Settings().inputUID(), "uid-2");
}

TEST_F(Lifecycle, ChangesFollowTheHardwareAfterTheGuard) {
    open({"In 1", "In 2"}, "uid-1");
    engine.record();
    // Within 1.5 s of the start even a real change is ignored.
    audio->rates[1] = 96000;
    clock.advance(1.4);
    audio->change(AudioChange::rate);
    QCoreApplication::processEvents();
    EXPECT_EQ(engine.hwRate(), 48000);
    // Later it restarts the engine and continues the take as a new one.
    clock.advance(2.0);
    audio->change(AudioChange::rate);
    ASSERT_TRUE(waitFor([&] { return engine.hwRate() == 96000; }));
    EXPECT_EQ(engine.folderName(), "Recording 2 - 2.15 PM");
    EXPECT_TRUE(engine.recording());
    EXPECT_TRUE(
        engine.status().endsWith("  — interface changed; recording continued as a new take"));
    engine.selectInput("uid-9");  // during a take: changes nothing, not even the store
    EXPECT_EQ(engine.inputUID(), "uid-1");
    EXPECT_FALSE(Settings().keys().contains("inputUID"));
    clock.advance(2.0);
    audio->change(AudioChange::configuration);  // nothing changed: nothing happens
    QCoreApplication::processEvents();
    EXPECT_EQ(engine.folderName(), "Recording 2 - 2.15 PM");
    audio->list.clear();  // the interface gone: stopped and said
    audio->change(AudioChange::configuration);
    ASSERT_TRUE(waitFor([&] { return !engine.running(); }));
    EXPECT_FALSE(engine.recording());
    EXPECT_EQ(engine.status(), "Audio interface disconnected");
}

TEST_F(Lifecycle, TheInitialStateAndTheStoredChoices) {
    Settings().clear();
    {
        const RoomEngine fresh(clock);
        EXPECT_TRUE(fresh.inputUID().isEmpty() && fresh.channels().isEmpty() && !fresh.showAll());
        EXPECT_EQ(fresh.monLabel() + " " + fresh.rootPath(),
                  "Mix " + QDir::homePath() + "/Desktop/Tessaly");
        EXPECT_TRUE(Settings().keys().isEmpty());  // read, never written, by a new engine
    }
    Settings stored;
    stored.setInputUID("scarlett-in");
    stored.setRootPath("/srv/takes");
    stored.setShowAll(true);
    RoomEngine restarted(clock);
    EXPECT_EQ(restarted.inputUID() + " " + restarted.rootPath(), "scarlett-in /srv/takes");
    EXPECT_TRUE(restarted.showAll());
    restarted.setShowAll(false);
    EXPECT_FALSE(Settings().showAll());
}

// The tone's length is the rate times the seconds, truncated: at 44.1 kHz
// 0.7 s falls just short of 30870 frames in binary floating point.
TEST_F(Lifecycle, TheToneIsTruncatedAndOnlyAPositiveLengthPlays) {
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
    for (double bad : {-1.0, 0.0, std::nan(""), HUGE_VAL}) {
        engine.testTone(bad);
        EXPECT_EQ(tonedFrames(), 0) << bad;
    }
}
