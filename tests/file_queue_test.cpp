#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <future>
#include <thread>

#include "engine/RoomEngine.h"
#include "support/EngineProbe.h"
#include "support/WavFile.h"

namespace {

class FileHandOff : public testing::Test {
protected:
    void SetUp() override {
        RoomEngineProbe::start(engine, 2, 48000, {true, true});
        RoomEngineProbe::setRecording(engine, true);
        RoomEngineProbe::onFiles(engine, [&](TakeFiles& files) {
            files.writers[0] = WAVWriter::create({file("in1.wav"), 1, 48000, {}, "", ""});
            files.writers[1] = WAVWriter::create({file("in2.wav"), 1, 48000, {}, "", ""});
            files.mixWriter = WAVWriter::create({file("mix.wav"), 2, 48000, {}, "", ""});
        });
    }
    std::string file(const char* name) const { return (dir.path() + "/" + name).toStdString(); }
    // One buffer whose every sample on input 1 is `value`.
    void feed(float value, int frames = 1024) {
        std::vector<float> a(static_cast<std::size_t>(frames), value), b(a.size(), 0.0f);
        const float* ptrs[] = {a.data(), b.data()};
        engine.process(ptrs, 2, frames);
    }
    QTemporaryDir dir;
    RoomEngine engine;
};

}  // namespace

TEST_F(FileHandOff, SyncWorkRunsAfterEveryBlockQueuedBeforeIt) {
    for (int i = 0; i < 300; ++i) feed(0.01f, 256);
    RoomEngineProbe::onFiles(engine, [](TakeFiles& files) {
        EXPECT_EQ(files.writers.at(0)->dataSize(), 300u * 256 * 3);
        EXPECT_EQ(files.writers.at(1)->dataSize(), 300u * 256 * 3);
        EXPECT_EQ(files.mixWriter->dataSize(), 300u * 256 * 6);
        files.closeAll();
    });
    // A block that arrives after the files closed finds no writer and is dropped quietly.
    feed(0.02f);
    RoomEngineProbe::onFiles(engine, [](TakeFiles& files) { EXPECT_TRUE(files.writers.empty()); });
    EXPECT_EQ(readWithSndfile(file("in1.wav")).info.frames, 300 * 256);
    EXPECT_EQ(engine.droppedBlocks(), 0u);
}

TEST_F(FileHandOff, AStuckDiskDropsAndCountsBlocksWithoutWaiting) {
    std::promise<void> entered, release;
    auto gate = release.get_future().share();
    std::thread stuck([&] {
        RoomEngineProbe::onFiles(engine, [&](TakeFiles&) {
            entered.set_value();
            gate.wait();  // the disk does not answer
        });
    });
    entered.get_future().wait();
    constexpr int kBuffers = 600;  // 12.8 s of audio, more than the ring holds
    for (int i = 0; i < kBuffers; ++i) feed(static_cast<float>(i) / 1024.0f);
    const auto dropped = engine.droppedBlocks();
    release.set_value();
    stuck.join();
    RoomEngineProbe::onFiles(engine, [](TakeFiles& files) { files.closeAll(); });

    ASSERT_GT(dropped, 0u);
    const SndRead r = readWithSndfile(file("in1.wav"));
    ASSERT_TRUE(r.ok);
    // What was queued before the ring filled arrives whole and in order; the rest is counted.
    const auto kept = static_cast<int>(kBuffers - dropped);
    ASSERT_EQ(r.info.frames, kept * 1024);
    for (int i = 0; i < kept; ++i) {
        ASSERT_EQ(r.samples[i * 1024], toPCM24(static_cast<float>(i) / 1024.0f)) << i;
        ASSERT_EQ(r.samples[i * 1024 + 1023], toPCM24(static_cast<float>(i) / 1024.0f)) << i;
    }
}
