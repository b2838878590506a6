#include <cmath>

#include "hardware/AudioDevices.h"
#include "hardware/Permission.h"
#include "support/FakeAudio.h"
#include "support/LogCapture.h"
#include "support/RecordingFixture.h"

namespace {

AudioDev dev(std::uint32_t id, const QString& name, std::int64_t in, std::int64_t out) {
    return AudioDev{id, name, QStringLiteral("uid-") + QString::number(id), in, out};
}

class Lifecycle : public RecordingTest {
protected:
    void TearDown() override {
        RecordingTest::TearDown();
        Permission::setGranted(true);
    }
    LogCapture log;
    // Boots and waits for the permission answer.
    void boot() {
        engine.boot();
        waitFor([&] { return !engine.status().isEmpty(); });
    }
};

}  // namespace

TEST_F(Lifecycle, TheCatalogueOffersRealInterfacesOnly) {
    audio->list = {dev(1, "BlackHole 2ch", 2, 2),
                   dev(2, "ZOOM Audio", 2, 0),
                   dev(3, "Indigo DJ", 2, 2),
                   dev(4, "Multi-Output Device", 0, 2),
                   dev(5, "Scarlett 18i20 USB", 18, 20),
                   dev(6, "Speakers", 0, 2),
                   dev(7, "USB Mic", 1, 0)};
    auto uids = [](const QList<AudioDev>& l) {
        QStringList out;
        for (const AudioDev& d : l) out << d.uid;
        return out;
    };
    EXPECT_EQ(uids(AudioDevices::inputs()), (QStringList{"uid-5", "uid-7"}));
    EXPECT_EQ(uids(AudioDevices::outputs()), (QStringList{"uid-5", "uid-6"}));
    EXPECT_EQ(AudioDevices::find("uid-1")->name, "BlackHole 2ch");  // found, though hidden
    EXPECT_FALSE(AudioDevices::find("nope"));
    audio->names[{5, 2}] = "Vocal Mic";
    EXPECT_EQ(AudioDevices::inputNames(5, 3), (QStringList{"Input 1", "Vocal Mic", "Input 3"}));
    EXPECT_EQ(AudioDevices::inputNames(5, 0), QStringList{"Input 1"});
    EXPECT_EQ(AudioDevices::inputNames(5, -4), QStringList{"Input 1"});
    EXPECT_EQ(AudioDevices::sampleRate(99), 0.0);
    EXPECT_TRUE(AudioDevices::setSampleRate(5, 48000.0));
}

TEST_F(Lifecycle, DeviceChoicePrefersAScarlettAndTheSameInterfaceForHeadphones) {
    Settings().setInputUID("unplugged");
    RoomEngine e(clock);
    audio->list = {dev(1, "Built-in Input", 2, 0), dev(2, "Headphone Amp", 0, 2),
                   dev(3, "my SCARLETT 4i4", 4, 4)};
    e.refreshDevices();
    EXPECT_EQ(e.inputUID(), "uid-3");
    EXPECT_EQ(e.outputUID(), "uid-3");  // the same interface before any other
    audio->list = {dev(1, "Built-in Input", 2, 0), dev(2, "Headphone Amp", 0, 2)};
    e.refreshDevices();
    EXPECT_EQ(e.inputUID(), "uid-1");
    EXPECT_EQ(e.outputUID(), "uid-2");
    // Automatic choices are not stored.
    EXPECT_EQ(Settings().inputUID(), "unplugged");
}

TEST_F(Lifecycle, StatusTextsForEveryKindOfStart) {
    boot();
    EXPECT_EQ(engine.status(), "No audio interface found — plug in the Scarlett");
    EXPECT_FALSE(engine.running());

    audio->list = {dev(1, "Scarlett 18i20", 18, 20), dev(2, "Dead Box", 0, 2)};
    engine.refreshDevices();
    engine.startEngine();
    EXPECT_TRUE(engine.running());
    EXPECT_EQ(engine.status(), "Scarlett 18i20 — 18 inputs at 48 kHz · headphones: Scarlett 18i20");
    ASSERT_EQ(engine.channels().size(), 18);
    for (const Channel& ch : engine.channels()) EXPECT_EQ(ch.armed, ch.id < 8);
    EXPECT_TRUE(log.lines().contains("input: Scarlett 18i20 18ch @48000"));
    EXPECT_TRUE(log.lines().contains("headphones: Scarlett 18i20 20ch @48000.0"));

    const QString warning = "  ⚠︎ set 48 kHz in Focusrite Control to match video";
    for (auto [hz, text] : {std::pair{44100.0, "44.1"}, {96000.0, "96"}, {88200.0, "88"}}) {
        audio->rates[1] = hz;
        engine.startEngine();
        EXPECT_EQ(
            engine.status(),
            QString("Scarlett 18i20 — 18 inputs at %1 kHz · headphones: Scarlett 18i20").arg(text) +
                warning);
        EXPECT_EQ(engine.hwRate(), static_cast<int>(hz));
    }
    engine.stopEngine();
    EXPECT_EQ(engine.hwRate(), 48000);
    audio->rates[1] = 48000;

    // Without a headphone device: no headphones part, the default output's format.
    engine.selectOutput("none");
    EXPECT_EQ(engine.status(), "Scarlett 18i20 — 18 inputs at 48 kHz");
    EXPECT_TRUE(log.lines().contains("headphones: default 2ch @44100.0"));
    // A headphone output that will not start stays visible.
    audio->playbackStartError = "no JACK server is running";
    engine.selectOutput("uid-1");
    EXPECT_EQ(engine.status(),
              "Scarlett 18i20 — 18 inputs at 48 kHz · headphones: Scarlett 18i20"
              " · Headphone output failed: no JACK server is running");
    EXPECT_TRUE(engine.running());
    // An input that cannot capture.
    engine.selectInput("uid-2");
    EXPECT_FALSE(engine.running());
    EXPECT_EQ(engine.status(), "Could not open Dead Box: find input channels failed (0)");
    EXPECT_EQ(Settings().inputUID(), "uid-2");
}

TEST_F(Lifecycle, ChangesFollowTheHardwareAfterTheGuard) {
    audio->list = {dev(1, "Scarlett 2i2", 2, 2)};
    boot();
    ASSERT_TRUE(engine.running());
    engine.record();
    ASSERT_TRUE(engine.recording());
    // Within 1.5 s of the start even a real change is ignored.
    audio->rates[1] = 96000;
    clock.advance(1.4);
    audio->change(AudioChange::rate);
    QCoreApplication::processEvents();
    EXPECT_EQ(engine.hwRate(), 48000);
    EXPECT_EQ(engine.folderName(), "Recording 1 - 2.15 PM");
    // Later it restarts the engine and continues the take as a new one.
    clock.advance(2.0);
    audio->change(AudioChange::rate);
    ASSERT_TRUE(waitFor([&] { return engine.hwRate() == 96000; }));
    EXPECT_TRUE(engine.recording());
    EXPECT_EQ(engine.folderName(), "Recording 2 - 2.15 PM");
    EXPECT_TRUE(
        engine.status().endsWith("  — interface changed; recording continued as a new take"));
    // Selecting during a take changes nothing, not even the store.
    engine.selectInput("uid-9");
    EXPECT_EQ(engine.inputUID(), "uid-1");
    EXPECT_FALSE(Settings().keys().contains("inputUID"));
    // Nothing changed: nothing happens. The interface gone: stopped and said.
    clock.advance(2.0);
    audio->change(AudioChange::configuration);
    QCoreApplication::processEvents();
    EXPECT_EQ(engine.folderName(), "Recording 2 - 2.15 PM");
    audio->list.clear();
    audio->change(AudioChange::configuration);
    ASSERT_TRUE(waitFor([&] { return !engine.running(); }));
    EXPECT_FALSE(engine.recording());
    EXPECT_EQ(engine.status(), "Audio interface disconnected");
}

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
