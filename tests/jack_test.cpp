// The recorder against a real JACK server (jackd with the dummy driver).
#include <cmath>
#include <numbers>

#include "hardware/AudioDevices.h"
#include "hardware/jack/JackSystem.h"
#include "support/ClickProbe.h"
#include "support/JackServer.h"
#include "support/RecordingFixture.h"

namespace {

// A JACK client playing a 440 Hz sine at half scale into one port.
class SineSource {
public:
    SineSource(const char* target) {
        jack_status_t status{};
        client = jack_client_open("sine-source", JackNoStartServer, &status);
        port = jack_port_register(client, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        rate = jack_get_sample_rate(client);
        jack_set_process_callback(client, &SineSource::process, this);
        jack_activate(client);
        connected = jack_connect(client, jack_port_name(port), target) == 0;
    }
    ~SineSource() { jack_client_close(client); }
    bool connected = false;

private:
    static int process(jack_nframes_t frames, void* self) {
        auto* s = static_cast<SineSource*>(self);
        auto* out = static_cast<float*>(jack_port_get_buffer(s->port, frames));
        for (jack_nframes_t f = 0; f < frames; ++f, ++s->frame) {
            out[f] = 0.5f * static_cast<float>(
                                std::sin(2 * std::numbers::pi * 440.0 * s->frame / s->rate));
        }
        return 0;
    }
    jack_client_t* client = nullptr;
    jack_port_t* port = nullptr;
    double rate = 48000;
    long long frame = 0;
};

class Jack : public RecordingTest {
protected:
    void boot(int rate) {
        server = std::make_unique<JackServer>(rate);
        ASSERT_TRUE(server->up()) << "jackd did not start";
        AudioSystem::install(std::make_unique<JackSystem>());
        engine.boot();
        ASSERT_TRUE(waitFor([&] { return engine.running(); })) << engine.status().toStdString();
    }
    void TearDown() override {
        engine.stopEngine();
        AudioSystem::install(nullptr);
        server.reset();
    }
    std::unique_ptr<JackServer> server;
};

}  // namespace

TEST_F(Jack, RecordsWhatAClientPlaysIntoAnInput) {
    boot(48000);
    const auto system = AudioDevices::find("system");
    ASSERT_TRUE(system);
    EXPECT_EQ(system->inputs, 20);
    EXPECT_EQ(system->outputs, 20);
    EXPECT_EQ(engine.status(), "system — 20 inputs at 48 kHz · headphones: system");
    engine.record();
    SineSource sine("tessaly:in_3");
    ASSERT_TRUE(sine.connected);
    runFor(1.0);
    engine.tick();
    EXPECT_NEAR(engine.channels()[2].peak, 0.5f, 0.01f);
    EXPECT_EQ(engine.channels()[3].peak, 0.0f);
    engine.stopRecording();

    const SndRead in3 = readWithSndfile(inTake("Input 3 - Dec 5 - 2.15.07 PM.wav"));
    ASSERT_TRUE(in3.ok);
    EXPECT_EQ(in3.info.samplerate, 48000);
    ASSERT_GT(in3.info.frames, 48000 / 2);
    // Count the sine's zero crossings over the span where it was connected.
    const auto& x = in3.samples;
    const auto first = std::find_if(x.begin(), x.end(), [](int s) { return s != 0; }) - x.begin();
    const auto last = x.rend() - std::find_if(x.rbegin(), x.rend(), [](int s) { return s != 0; });
    ASSERT_GT(last - first, 48000 / 2);
    int peak = 0, crossings = 0;
    for (auto f = first + 1; f < last; ++f) {
        peak = std::max(peak, std::abs(x[static_cast<std::size_t>(f)]));
        if ((x[static_cast<std::size_t>(f - 1)] < 0) != (x[static_cast<std::size_t>(f)] < 0))
            ++crossings;
    }
    EXPECT_NEAR(peak, 8388607 / 2, 8388607 / 100);
    EXPECT_NEAR(crossings / (static_cast<double>(last - first) / 48000), 2 * 440, 10);
    const SndRead in4 = readWithSndfile(inTake("Input 4 - Dec 5 - 2.15.07 PM.wav"));
    EXPECT_EQ(in4.info.frames, in3.info.frames);
    EXPECT_TRUE(std::all_of(in4.samples.begin(), in4.samples.end(), [](int s) { return s == 0; }));
}

// The headphone feed leaves in the cycle its input was captured in: a click
// into the first input comes back on the first headphone port after one
// period, the probe's own loop, and not a frame later.
TEST_F(Jack, TheHeadphonesAddNoPeriod) {
    boot(48000);
    for (int i = 1; i < engine.channels().size(); ++i) engine.setArmed(i, false);
    ClickProbe probe("tessaly:in_1", "tessaly:out_1");
    ASSERT_TRUE(probe.connected);
    ASSERT_TRUE(waitFor([&] { return probe.heard >= 10; }));
    for (int k = 0; k < 10; ++k) EXPECT_EQ(probe.trips[k], probe.period) << "click " << k;
}

TEST_F(Jack, AServerThatDiesMidTakeLeavesExactFiles) {
    boot(48000);
    engine.record();
    runFor(0.5);
    clock.advance(2.0);  // past the guard
    const QString take = engine.recordingFolder();
    server->stop(SIGKILL);
    ASSERT_TRUE(waitFor([&] { return !engine.running(); }));
    EXPECT_EQ(engine.status(), "Audio interface disconnected");
    EXPECT_EQ(expectExactHeaders(take.toStdString()), 9);
}

TEST_F(Jack, AServerAt44100GivesTheRateWarning) {
    boot(44100);
    EXPECT_EQ(engine.status(),
              "system — 20 inputs at 44.1 kHz · headphones: system"
              "  ⚠︎ set 48 kHz in Focusrite Control to match video");
}

TEST(JackNames, TheAlsaCardBehindAnAlias) {
    const QString cards =
        " 0 [PCH            ]: HDA-Intel - HDA Intel PCH\n"
        "                      HDA Intel PCH at 0xf7f10000 irq 31\n"
        " 2 [USB            ]: USB-Audio - Scarlett 18i20 USB\n"
        "                      Focusrite Scarlett 18i20 USB at usb-0000:00:14.0-2\n";
    EXPECT_EQ(alsaCardName("alsa_pcm:hw:USB:capture_1", cards), "Scarlett 18i20 USB");
    EXPECT_EQ(alsaCardName("alsa_pcm:hw:2,0:out1", cards), "Scarlett 18i20 USB");
    EXPECT_EQ(alsaCardName("dummy_pcm:dummy:out1", cards), "");
    EXPECT_EQ(alsaCardName("alsa_pcm:hw:7:out1", cards), "");
}

TEST(JackWithoutServer, NoServerMeansNoDevices) {
    qputenv("JACK_DEFAULT_SERVER", "tessaly-test-no-such-server");
    JackSystem jack;
    EXPECT_TRUE(jack.devices().isEmpty());
    CaptureError error;
    EXPECT_FALSE(jack.openCapture(1, nullptr, nullptr, error));
    EXPECT_EQ(error.description(), "find device failed (-1)");
}
