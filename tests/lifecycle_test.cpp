#include <cmath>
#include <numeric>
#include <ranges>

#include "hardware/AudioDevices.h"
#include "hardware/demo/DemoSystem.h"
#include "room/Lifecycle.h"
#include "support/RecordingFixture.h"

static QString uids(const QList<AudioDev>& list) {
    return std::accumulate(list.begin(), list.end(), QString(),
                           [](const QString& all, const AudioDev& d) { return all + d.uid + " "; });
}

using Interfaces = RecordingTest;

TEST_F(Interfaces, TheStoredChoicesTheCatalogueAndAPreferenceForAScarlett) {
    audio->list = {
        {1, "BlackHole 2ch", "uid-1", 2, 2},       {2, "ZOOM Audio", "uid-2", 2, 0},
        {3, "Multi-Output Device", "uid-3", 0, 2}, {4, "Built-in Input", "uid-4", 2, 0},
        {5, "Headphone Amp", "uid-5", 0, 2},       {6, "my SCARLETT 4i4", "uid-6", 4, 4}};
    EXPECT_EQ(uids(AudioDevices::inputs()), "uid-4 uid-6 ");
    EXPECT_EQ(uids(AudioDevices::outputs()), "uid-5 uid-6 ");
    audio->names[{6, 2}] = "Vocal Mic";
    EXPECT_EQ(AudioSystem::current().snapshot("uid-6")->inputNames,
              (QStringList{"Input 1", "Vocal Mic", "Input 3", "Input 4"}));
    Settings().clear();
    {
        const RoomEngine fresh(clock);  // the defaults, read and never written
        EXPECT_EQ(fresh.monLabel() + " " + fresh.rootPath(),
                  "Mix " + QDir::homePath() + "/Desktop/Tessaly");
        EXPECT_TRUE(fresh.inputUID().isEmpty() && fresh.channels().isEmpty() && !fresh.showAll());
        EXPECT_TRUE(Settings().keys().isEmpty());
    }
    Settings().setInputUID("unplugged");
    Settings().setRootPath("/srv/takes");
    Settings().setShowAll(true);
    RoomEngine e(clock);
    EXPECT_TRUE(e.rootPath() == "/srv/takes" && e.showAll());
    e.setShowAll(false);
    EXPECT_FALSE(Settings().showAll());
    e.refreshDevices();
    e.startEngine();
    EXPECT_EQ(e.inputUID() + " " + e.outputUID(), "uid-6 uid-6");  // the same interface first
    audio->list.removeLast();  // gone: waited for, another one is not taken instead
    audio->change(AudioChange::configuration);
    ASSERT_TRUE(waitFor([&] { return !e.running(); }));
    audio->change(AudioChange::configuration);
    QCoreApplication::processEvents();
    EXPECT_TRUE(!e.running() && e.inputUID() == "uid-6");
    e.refreshDevices();  // but the user's own refresh picks another
    EXPECT_EQ(e.inputUID() + " " + e.outputUID(), "uid-4 uid-5");
    EXPECT_EQ(Settings().inputUID(), "unplugged");  // automatic choices are not stored
}

// Every kind of start says what it is; a change of the running interface's input count restarts it.
TEST_F(Interfaces, StatusTextsForEveryKindOfStart) {
    static QStringList log;  // the program's log lines (qInfo and friends)
    qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& line) { log << line; });
    engine.startEngine();
    EXPECT_EQ(engine.status(), "No audio interface found — plug in the Scarlett");
    audio->list = {{1, "Scarlett 18i20", "uid-1", 18, 20}, {2, "Dead Box", "uid-2", 0, 2}};
    clock.advance(2.0);
    engine.tick();  // looked for again, and there
    EXPECT_TRUE(engine.running());
    clock.advance(2.0);
    audio->list[0].inputs = 10;
    audio->change(AudioChange::configuration);
    EXPECT_TRUE(waitFor([&] { return engine.channels().size() == 10; }));
    audio->list[0].inputs = 18;
    log.clear();
    plug(audio->list);
    EXPECT_EQ(engine.status(), "Scarlett 18i20 — 18 inputs at 48 kHz · headphones: Scarlett 18i20");
    ASSERT_EQ(engine.channels().size(), 18);
    for (const Channel& ch : engine.channels()) EXPECT_EQ(ch.armed, ch.id < 8);
    EXPECT_EQ(log, (QStringList{"input: Scarlett 18i20 18ch @48000",
                                "headphones: Scarlett 18i20 20ch @48000.0"}));
    for (auto [hz, text] : {std::pair{44100.0, "44.1"}, {96000.0, "96"}, {88200.0, "88"}}) {
        audio->rates[1] = hz;
        engine.startEngine();
        EXPECT_EQ(engine.status(), "Scarlett 18i20 — 18 inputs at " + QString(text) +
                                       " kHz · headphones: Scarlett 18i20  ⚠︎ set 48 kHz in "
                                       "Focusrite Control to match video");
        EXPECT_EQ(engine.hwRate(), static_cast<int>(hz));
    }
    audio->rates[1] = 48000;
    engine.selectOutput("none");  // no headphone device: the default output's format
    EXPECT_EQ(engine.status(), "Scarlett 18i20 — 18 inputs at 48 kHz");
    EXPECT_TRUE(log.contains("headphones: default 2ch @44100.0"));
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
    qInstallMessageHandler(nullptr);
}

// The life of capture and take, event by event on one clock: "time event
// state [step]", where tick is a tick without a new buffer and audio one with.
TEST(Lifecycle, EveryTransition) {
    const QString script =
        "0 fail waiting; 1.9 tick waiting; 2 tick waiting look; "      // looked for every 2 s
        "2.5 same waiting; 3.4 tick waiting; 3.5 tick waiting look; "  // changes over for 1 s
        "3.5 start running; 5 differs running; 6.5 audio running; "    // guarded after a start
        "6.6 tick running judge; 6.6 same running; 9 tick running; "   // no take: silence is fine
        "9 take recording; 10 differs restarting restart; 10 start running carryOn; "
        "10 take recording; 10.1 gone lost lose; 10.1 end lost; 11 same lost; "  // never put off
        "12 tick lost look; 12 start steadying; 12.2 audio steadying; 12.8 tick steadying; "
        "12.9 audio steadying; 13.3 audio steadying; 13.7 audio steadying; "  // a gap, then steady
        "13.9 audio running resume; 13.9 take recording; 15.8 tick recording; "
        "15.9 tick lost lose; 16 cancel waiting; 17.9 tick waiting look; "  // silent 2 s; a stop
        "17.9 start running; 17.9 take recording; 18 gone lost lose; 18 fail lost; "
        "20 tick lost look; 20 start steadying; 21 take recording; 21 end running; "  // user's take
        "22 audio running; 23 audio running; 23 take recording; 23 gone lost lose; "
        "25 tick lost look; 25 start steadying; 27 differs lost restart; 27 start steadying; "
        "27 cancel running; 27 stop stopped; 40 tick stopped; 40 same stopped";
    const QStringList states{"stopped", "waiting",   "running",   "recording",
                             "lost",    "steadying", "restarting"},
        steps{"", "look", "judge", "lose", "restart", "resume", "carryOn"};
    Lifecycle life;
    std::uint64_t buffers = 0;
    using Step = Lifecycle::Step;
    using Change = DeviceSession::Change;
    const std::map<QString, std::function<Step(Clock::SteadyTime)>> events{
        {"start", [&](auto at) { return life.started(at, buffers); }},
        {"fail", [&](auto at) { return life.failed(at), Step{}; }},
        {"stop", [&](auto) { return life.stopped(), Step{}; }},
        {"take", [&](auto) { return life.takeStarted("Day"), Step{}; }},
        {"end", [&](auto) { return life.takeEnded(), Step{}; }},
        {"cancel", [&](auto) { return life.cancelResume(), Step{}; }},
        {"same", [&](auto at) { return life.changed(at, Change::same); }},
        {"gone", [&](auto at) { return life.changed(at, Change::gone); }},
        {"differs", [&](auto at) { return life.changed(at, Change::differs); }},
        {"tick", [&](auto at) { return life.tick(at, buffers); }},
        {"audio", [&](auto at) { return life.tick(at, ++buffers); }}};
    for (const QString& row : script.split("; ")) {
        const QStringList f = row.split(' ');
        const Step step = events.at(f[1])(
            Clock::SteadyTime(std::chrono::milliseconds(std::lround(f[0].toDouble() * 1000))));
        EXPECT_EQ(states[static_cast<int>(life.state())] + " " + steps[static_cast<int>(step.what)],
                  f[2] + " " + f.value(3))
            << row.toStdString();
        const bool goesOn =
            step.what == Lifecycle::Do::resume || step.what == Lifecycle::Do::carryOn;
        EXPECT_EQ(step.folder, goesOn ? "Day" : "") << row.toStdString();
    }
}

// Plugged back, a take cut off goes on as the next one in its day folder once audio is steady, and
// not while the interface flaps. A change after the guard goes on as a new take; the user's refresh
// or stop ends a wait.
TEST_F(Interfaces, AnInterfaceThatComesBackTakesTheTakeUpAgain) {
    auto* demo = new DemoSystem({4, 2, 96000, false, "Box"});
    AudioSystem::install(std::unique_ptr<DemoSystem>(demo));
    auto play = [&](double seconds, bool sound = true) {  // ticks, with audio or none
        for (double t = 0; t < seconds; t += 0.05, clock.advance(0.05), engine.tick()) {
            if (sound) demo->step(1);
        }
    };
    engine.refreshDevices();
    engine.startEngine();
    const QString chosen = root.path() + "/Chosen";
    record("Chosen");  // a day folder under the root, by name
    play(2.0);
    demo->changeRate(48000);
    ASSERT_TRUE(waitFor([&] { return engine.hwRate() == 48000; }));
    answered();
    EXPECT_EQ(engine.recordingFolder(), chosen + "/Recording 2 - 2.15 PM");
    EXPECT_TRUE(
        engine.status().endsWith("  — interface changed; recording continued as a new take"));
    play(1.0);
    demo->unplug();
    ASSERT_TRUE(waitFor([&] { return !engine.running(); }));
    demo->plugIn();
    play(2.0, false);
    ASSERT_TRUE(engine.running());
    EXPECT_EQ(engine.status(),
              "Box — 4 inputs at 48 kHz · headphones: Box · recording goes on after a "
              "second of steady audio");
    play(0.5), play(2.1, false);  // half a second of audio, then two of none: no take
    EXPECT_FALSE(engine.recording() || engine.running());
    play(2.0, false), play(1.1);
    answered();
    EXPECT_EQ(engine.recordingFolder(), chosen + "/Recording 3 - 2.15 PM");
    EXPECT_EQ(engine.status(),
              "Box — 4 inputs at 48 kHz · headphones: Box · recording resumed "
              "after the interface came back");
    for (const bool refresh : {true, false}) {  // the user's refresh, or stop, ends a wait
        demo->unplug();
        ASSERT_TRUE(waitFor([&] { return !engine.running(); }));
        refresh ? engine.refreshDevices() : stop();
        demo->plugIn();
        play(2.0, false), play(2.0), answered();
        EXPECT_TRUE(engine.running() && !engine.recording()) << refresh;
        record();
    }
    engine.stopEngine();  // before its interface goes
    AudioSystem::install(nullptr);
}

// The tone replaces the headphone feed for the rate times the seconds, truncated: at 44.1 kHz 0.7 s
// falls just short of 30870 frames in binary floating point. Asked again, it starts again; it never
// reaches the mix.
TEST_F(Interfaces, TheToneIsTruncatedRestartsAndOnlyAPositiveLengthPlays) {
    open({"In 1"}, "dev", 44100);
    std::vector<float> level(441, 0.1f);  // a steady input, in the headphones but for the tone
    const float* buffers[] = {level.data()};
    std::vector<float> heard;
    auto toned = [&](int count) {
        for (heard.clear(); count > 0; --count) {
            audio->render(audio->renderUser, buffers, 1, 441, {});
            const std::vector<float> h = headphones(441);
            heard.insert(heard.end(), h.begin(), h.end());
        }
        return std::count_if(heard.begin(), heard.end(), [](float s) { return s != 0.1f; });
    };
    engine.testTone();
    EXPECT_EQ(toned(100), 30869);
    const auto crossings = std::ranges::count_if(
        std::views::iota(1, 30869), [&](int f) { return (heard[f - 1] < 0) != (heard[f] < 0); });
    EXPECT_NEAR(crossings, 2 * 700, 2);  // 1000 Hz for 0.7 s
    engine.tick();
    EXPECT_FLOAT_EQ(engine.mixPeak(), 0.1f);
    engine.testTone(0.015);  // 661 frames
    const auto first = toned(1);
    engine.testTone(0.015);
    EXPECT_EQ(first + toned(3), 441 + 661);
    for (double bad : {-1.0, 0.0, std::nan(""), HUGE_VAL}) {
        engine.testTone(bad);
        EXPECT_EQ(toned(100), 0) << bad;
    }
}

// The callback can be swapped while the audio thread runs: an old one never
// runs after the swap returns, and is never freed while running (ASan).
TEST(DemoCapture, SwappingTheCallbackAndStoppingWhileAudioRuns) {
    AudioSystem::install(std::make_unique<DemoSystem>());
    InputCapture capture;
    const DeviceSnapshot demoBox = *AudioSystem::current().snapshot(DemoSystem::uid());
    ASSERT_FALSE(capture.start(demoBox));
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
    AudioSystem::install(nullptr);
}
