#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <thread>

#include "base/Settings.h"
#include "room/RoomEngine.h"
#include "support/FakeAudio.h"
#include "support/Feed.h"
#include "support/ManualClock.h"
#include "support/WavFile.h"

// Runs queued work if `events` (what other threads report reaches the main
// thread that way) until `done` first holds, for at most `tries` × 10 ms.
template <typename Done>
bool waitFor(Done done, int tries = 500, bool events = true) {
    for (int i = 0; i < tries; ++i) {
        if (done()) return true;
        if (events) QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

// Runs a file job's answer at once, on the file thread: for a recorder
// tested without the engine, read after waitForFiles().
inline void direct(std::function<void()> answer) {
    answer();
}

// Runs the event loop for `seconds` of wall time (audio runs meanwhile).
inline void runFor(double seconds) {
    waitFor([] { return false; }, static_cast<int>(seconds * 100));
}

// An engine with a clock of its own, a fresh recording root and empty
// settings, on a fed interface (FakeAudio) until a test installs another.
class RecordingTest : public testing::Test {
protected:
    void SetUp() override {
        Settings().clear();
        AudioSystem::install(std::unique_ptr<FakeAudio>(audio = new FakeAudio));
        engine.setRoot(root.path());
        engine.setFreeSpace(
            [this](auto&) {
                for (; diskHangs; diskHung = true) std::this_thread::yield();
                return std::optional(freeSpace.load());
            },
            std::chrono::milliseconds(5));
    }
    // The file thread's answers (a take opened, a set rolled, files closed) taken in by the engine.
    void answered() {
        engine.waitForFiles();
        QCoreApplication::processEvents();
    }
    // A take asked for, or ended, and the file thread's answer taken in.
    void record(const std::optional<QString>& day = std::nullopt) {
        engine.record(day);
        answered();
    }
    void stop() {
        engine.stopRecording();
        answered();
    }
    // Starts the engine on these devices, as plugging them in would.
    void plug(const QList<AudioDev>& devices) {
        audio->list = devices;
        engine.refreshDevices();
        engine.startEngine();
    }
    // … on one interface with these inputs.
    void open(const QStringList& inputs, const QString& uid = "dev", double hz = 48000) {
        for (int i = 0; i < inputs.size(); ++i) audio->names[{1, i + 1}] = inputs[i];
        audio->rates[1] = hz;
        plug({{1, "Test Interface", uid, inputs.size(), 2}});
    }
    // Buffers into the running capture.
    Feed capture(int channels) {
        return {[this](auto... a) { audio->render(audio->renderUser, a..., BufferClock{}); },
                channels};
    }
    // What the first headphone channel plays next, `frames` of it.
    std::vector<float> headphones(int frames) {
        std::vector<float> out(static_cast<std::size_t>(frames));
        float* first = out.data();
        audio->pull(audio->pullUser, &first, 1, frames);
        return out;
    }
    // Whether the headphones carry anything after one silent buffer: the tone.
    bool toneHeard() {
        std::vector<float> silence(256, 0.0f);
        std::vector<const float*> buffers(engine.channels().size(), silence.data());
        audio->render(audio->renderUser, buffers.data(), std::ssize(buffers), 256, {});
        return std::ranges::any_of(headphones(256), [](float s) { return s != 0.0f; });
    }
    // The .wav files of the current take, sorted by name.
    QStringList takeFiles() const {
        return QDir(engine.recordingFolder()).entryList({"*.wav"}, QDir::Files, QDir::Name);
    }
    std::string inTake(const QString& name) const {
        return (engine.recordingFolder() + u'/' + name).toStdString();
    }
    ManualClock clock;
    QTemporaryDir root;
    FakeAudio* audio = nullptr;
    // The disk as the engine sees it: plenty free, unless a test says otherwise.
    std::atomic<std::uint64_t> freeSpace{1'000'000'000'000};
    std::atomic<bool> diskHangs{false}, diskHung{false};
    RoomEngine engine{clock};
};
