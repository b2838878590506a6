// The recorder against a real JACK server (jackd with the dummy driver).
#include "hardware/jack/JackSystem.h"
#include "support/ClickProbe.h"
#include "support/JackServer.h"
#include "support/RecordingFixture.h"

class Jack : public RecordingTest {
protected:
    void SetUp() override {
        RecordingTest::SetUp();
        ASSERT_TRUE(server.up()) << "jackd did not start";
        AudioSystem::install(std::make_unique<JackSystem>());
        clock.keepTime();
        engine.setRetryInterval(std::chrono::milliseconds(100));
        engine.boot();
        ASSERT_TRUE(waitFor([&] { return engine.running(); })) << engine.status().toStdString();
    }
    void TearDown() override {
        engine.stopEngine();
        AudioSystem::install(nullptr);  // before the server goes
    }
    JackServer server{48000};
};

static qsizetype entries(const char* dir) {  // open descriptors, or threads
    return QDir(dir).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size();
}

// Clicks played into the first input come back on the first headphone port one period later, the
// probe's own loop: the feed leaves in the cycle it was captured in. Cycles the server skips are
// counted, timed and shown. Then the server dies mid-take: exact files, and the next take once it
// is back, ten times over, with nothing left behind by the dead servers' clients. A recorder
// started before its server starts when the server does; with no output device its headphones play
// on the server's default playback ports.
TEST_F(Jack, RecordsTheHeadphonesAddNoPeriodAndADeadServerLeavesExactFiles) {
    EXPECT_EQ(engine.status(), "system — 20 inputs at 48 kHz · headphones: system");
    for (int i = 2; i < engine.channels().size(); ++i) engine.setArmed(i, false);
    record();
    {
        ClickProbe probe("tessaly:in_1", "tessaly:out_1");  // gone before its server
        ASSERT_TRUE(probe.connected);
        ASSERT_TRUE(waitFor([&] { return probe.heard >= 10; }));
        for (int k = 0; k < 10; ++k) EXPECT_EQ(probe.trips[k], probe.period) << "click " << k;
    }
    server.stop(SIGKILL);
    ASSERT_TRUE(waitFor([&] { return !engine.running(); }));
    EXPECT_EQ(engine.status(), "Audio interface disconnected");
    EXPECT_EQ(expectExactHeaders(engine.recordingFolder().toStdString()), 3);
    qsizetype fds = 0, threads = 0;
    for (int cycle = 0; cycle <= 10; ++cycle) {
        if (cycle > 0) server.stop(SIGKILL);
        ASSERT_TRUE(waitFor([&] { return !engine.running(); }));
        server.start();
        ASSERT_TRUE(waitFor([&] { return engine.recording(); }, 500));  // within 5 s
        EXPECT_EQ(engine.folderName(), QString("Recording %1 - 2.15 PM").arg(cycle + 2));
        if (cycle == 0) fds = entries("/proc/self/fd"), threads = entries("/proc/self/task");
    }
    EXPECT_LE(entries("/proc/self/fd"), fds + 4);
    EXPECT_LE(entries("/proc/self/task"), threads + 2);
    server.stop(SIGKILL);
    ASSERT_TRUE(waitFor([&] { return !engine.running(); }));
    engine.stopEngine();
    engine.startEngine();  // before the server: waits for it
    server.start();
    ASSERT_TRUE(waitFor([&] { return engine.running(); }));
    engine.selectOutput("none");  // no output device: the server's default playback
    ClickProbe tap("system:playback_3", "tessaly:out_1");  // its clicks go elsewhere
    EXPECT_EQ(tap.linked("system:playback_1") + tap.linked("system:playback_2"),
              "tessaly:out_1 tessaly:out_2 ");
    engine.testTone();
    EXPECT_TRUE(waitFor([&] { return tap.loudest > 0.2f; }));  // the tone, at 0.25
}

// Every lost frame is counted and stands as silence where it was lost: the server stopped three
// times for 0.3 s (three dropouts of that, less what its driver makes up at once), our own callback
// made to overrun once (the cycles the server skipped meanwhile), and none for a slow client that
// is not connected to us: its xrun notices count nothing. The take is as long as the time it
// covered.
TEST_F(Jack, EveryLostFrameIsCountedWhereItWasLost) {
    for (int i = 1; i < engine.channels().size(); ++i) engine.setArmed(i, false);
    ClickProbe steady("tessaly:in_1", "tessaly:out_1");
    steady.level = 0.5f;
    runFor(0.2);
    using Wall = std::chrono::steady_clock;
    record();
    const Wall::time_point began = Wall::now();
    std::vector<double> stopped;
    for (int k = 0; k < 3; ++k) runFor(0.3), stopped.push_back(server.pause(0.3));
    runFor(0.3);
    static_cast<JackSystem&>(AudioSystem::current()).overrunOnce(30000);
    runFor(0.3);
    const std::uint64_t notices = engine.xrunNotices();
    {
        ClickProbe slow("system:playback_1", "system:capture_1", 40, 8000);  // not linked to us
        runFor(1.0);
    }
    EXPECT_GT(engine.xrunNotices(), notices);
    const double covered = std::chrono::duration<double>(Wall::now() - began).count();
    stop();
    const SndRead in1 = readWithSndfile(inTake("Input 1 - Dec 5 - 2.15.07 PM.wav"));
    // The main thread's start and stop are each known to a period.
    EXPECT_NEAR(in1.info.frames, covered * 48000, 2 * 256);
    std::vector<std::pair<sf_count_t, sf_count_t>> gaps;  // where the level fell silent, how long
    for (sf_count_t f = 0, run = 0; f < in1.info.frames; ++f) {
        if (in1.samples[f] == 0) ++run;
        if (in1.samples[f] != 0 && run) gaps.emplace_back(f - run, std::exchange(run, 0));
    }
    // The stops are the three longest, the overrun the next long one; a
    // loaded machine may lose a few cycles of its own.
    auto stops = gaps;
    std::ranges::sort(stops, std::greater{}, [](auto g) { return g.second; });
    stops.resize(3);
    std::ranges::sort(stops);
    for (int k = 0; k < 3; ++k) {  // less what the driver makes up, more what a loaded one lost
        EXPECT_GT(stops[k].second, stopped[k] * 48000 - 2 * 256) << k;
        EXPECT_LT(stops[k].second, stopped[k] * 48000 + 2400) << k;
    }
    const auto overrun = std::ranges::find_if(
        gaps, [&](auto g) { return g.first > stops[2].first && g.second >= 1000; });
    ASSERT_NE(overrun, gaps.end());
    EXPECT_TRUE(overrun->second % 256 == 0 && std::abs(overrun->second - 1440) < 2 * 256)
        << overrun->second;
}

// jackd2 calls every card "system": two servers whose ports name different ALSA cards in their
// aliases are two interfaces, known by the card's id and USB serial (not its index), each with its
// own labels; what was stored under "system" goes to the first card seen.
TEST_F(Jack, EachCardBehindTheSystemClientIsAnInterfaceOfItsOwn) {
    engine.setName(0, "Kick");  // under "system": the dummy driver's ports have no alias
    engine.selectInput("system");
    const QString cards = root.path() + "/sys-root";
    auto put = [&](const QString& file, const QString& text) {
        QDir().mkpath(QFileInfo(cards + file).path());
        QFile f(cards + file);
        return f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) > 0;
    };
    ASSERT_TRUE(put("/proc/asound/card1/id", "USB\n") && put("/proc/asound/card2/id", "USB_1\n") &&
                put("/proc/asound/cards",
                    " 1 [USB   ]: USB-Audio - Scarlett 18i20 USB\n   x\n"
                    " 2 [USB_1 ]: USB-Audio - Scarlett 2i2 USB\n") &&
                put("/sys/class/sound/card1/serial", "P9AB\n") &&
                QDir().mkpath(cards + "/sys/class/sound/card1/device"));
    engine.stopEngine();  // nothing of the old system may outlive it
    AudioSystem::install(std::make_unique<JackSystem>(cards));
    for (const auto& [alias, uid, name, label] :
         {std::tuple{"alsa_pcm:hw:1,0:capture_1", "alsa:USB:P9AB", "Scarlett 18i20 USB", "Kick"},
          {"alsa_pcm:hw:USB_1:capture_1", "alsa:USB_1", "Scarlett 2i2 USB", "Input 1"},
          {"alsa_pcm:hw:USB:capture_1", "alsa:USB:P9AB", "Scarlett 18i20 USB", "Kick"}}) {
        // Not under a running capture: libjack's own thread of a client whose
        // server is killed may crash (seen once under ASan); that death is
        // another test's.
        engine.stopEngine();
        server.stop(SIGKILL);
        server.start();
        ASSERT_EQ(QProcess::execute("jack_alias", {"system:capture_1", alias}), 0);
        engine.refreshDevices();  // the user's choice of what is there now
        engine.startEngine();
        ASSERT_TRUE(engine.running()) << alias;
        EXPECT_EQ(engine.inputUID() + "|" + engine.inputs()[0].name, QString(uid) + "|" + name);
        EXPECT_EQ(engine.channels()[0].displayName(), label);
    }
    EXPECT_EQ(Settings().inputUID(), "alsa:USB:P9AB");
    EXPECT_TRUE(Settings().labels("system").isEmpty());
    // The first start after an upgrade: a choice stored as "system" is the
    // card's before it is read, though a Scarlett is there to fall back on.
    engine.stopEngine();
    Settings().setInputUID("system");
    ASSERT_TRUE(put("/proc/asound/cards", " 1 [USB   ]: USB-Audio - Babyface Pro\n   x\n"));
    server.stop(SIGKILL);
    server.start();
    ASSERT_EQ(QProcess::execute("jack_alias", {"system:capture_1", "alsa_pcm:hw:USB:capture_1"}),
              0);
    jack_client_t* other = jack_client_open("Scarlett 2i2 USB", JackNoStartServer, nullptr);
    jack_port_register(other, "capture_1", JACK_DEFAULT_AUDIO_TYPE,
                       JackPortIsOutput | JackPortIsPhysical, 0);
    jack_activate(other);
    {
        RoomEngine upgraded(clock);
        upgraded.boot();
        ASSERT_TRUE(waitFor([&] { return upgraded.running(); }));
        EXPECT_EQ(upgraded.inputUID(), "alsa:USB:P9AB");
    }
    jack_client_close(other);
}
