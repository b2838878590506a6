#include <sys/mount.h>

#include <QScopeGuard>
#include <cerrno>
#include <cstring>

#include "engine/BufferProcessor.h"
#include "recording/RecordBlock.h"
#include "recording/TakeRecorder.h"
#include "support/RecordingFixture.h"

using Faults = RecordingTest;

TEST_F(Faults, AFullDiskStopsEachFileCleanlyThenTheTake) {
    open({"In 1", "In 2"});
    engine.record();
    Feed feed = capture(2);
    const rlim_t limit = 654 + 600'001;  // inside a frame of every file
    {
        const auto full = fileSizeLimit(limit);
        // The stereo mix reaches the limit first; the inputs go on.
        feed.buffers(48000 * 3 / 256);
        ASSERT_TRUE(waitFor([&] { return engine.status().startsWith("Recording error"); }));
        EXPECT_EQ(engine.status(), "Recording error: Mix - Dec 5 - 2.15.07 PM.wav: File too large");
        EXPECT_TRUE(engine.recording());
        // Then the inputs: no file is left, so the take ends.
        feed.buffers(48000 * 3 / 256);
        ASSERT_TRUE(waitFor([&] { return !engine.recording(); }));
    }
    EXPECT_EQ(engine.status(),
              "Recording error: In 1 - Dec 5 - 2.15.07 PM.wav: File too large (and 1 more files)"
              " — recording stopped; saved to " +
                  engine.recordingFolder());
    // What reached the disk reads back, with sizes that match it.
    EXPECT_EQ(expectExactHeaders(engine.recordingFolder().toStdString()), 3);
    for (const QString& name : takeFiles()) {
        const SndRead r = readWithSndfile(inTake(name));
        ASSERT_TRUE(r.ok) << name.toStdString();
        EXPECT_GT(r.info.frames * 3 * r.info.channels, limit - 654 - 6) << name.toStdString();
        for (sf_count_t i = 0; i < std::ssize(r.samples); ++i) {
            const sf_count_t f = i / r.info.channels;
            const float want =
                r.info.channels == 2 ? Feed::mixOfTwo(f) : Feed::sample(name.startsWith("In 2"), f);
            ASSERT_EQ(r.samples[i], toPCM24(want)) << name.toStdString() << " " << f;
        }
    }
}

// Every file of a set fails; before the report reaches the main thread, the
// hour is up and a new set opens. The report is about a set that is gone:
// it is shown, but the take goes on into its new files.
TEST_F(Faults, AReportAboutASetThatARollReplacedDoesNotEndTheTake) {
    open({"In 1"});
    engine.record();
    Feed feed = capture(1);
    // A failed file is closed with its sizes: wait for both, without letting
    // the report in.
    auto closed = [&] {
        const auto input = readBytes(inTake("In 1 - Dec 5 - 2.15.07 PM.wav"));
        const auto mix = readBytes(inTake("Mix - Dec 5 - 2.15.07 PM.wav"));
        return input.size() > 654 && mix.size() > 654 && le32(input, 650) && le32(mix, 650);
    };
    {
        const auto full = fileSizeLimit(654 + 30'000);
        feed.buffers(400);  // past what the writers gather before they write
        for (int i = 0; i < 500 && !closed(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(closed());
    }
    clock.advance(3600);
    engine.tick();  // the next set
    feed.buffers(10);
    // The last report names the input, alone or after the mix (when both
    // failed in one go).
    ASSERT_TRUE(waitFor([&] {
        return engine.status().startsWith("Recording error: In 1 - Dec 5 - 2.15.07 PM.wav") ||
               engine.status().endsWith("(and 1 more files)");
    })) << engine.status().toStdString();
    EXPECT_TRUE(engine.recording() && engine.status().contains(": File too large"));
    engine.stopRecording();
    EXPECT_EQ(readWithSndfile(inTake("In 1 - Dec 5 - 3.15.07 PM.wav")).info.frames, 2560);
}

// A disk too slow for the audio: the audio thread drops blocks and counts
// them, never waits; what was queued before the ring filled is whole and in
// order; and the engineer is told, once per loss.
TEST(SlowDisk, BlocksAreDroppedAndCountedNeverWaitedFor) {
    BlockQueue queue(64 * 1024);  // nobody reads it: a disk that does not answer
    BufferProcessor processor(queue);
    processor.prepare(1);
    processor.publish(AudioControls{1, 48000, {1}, {0}, true});
    Feed feed([&](auto b, auto n, auto frames) { processor.process(b, n, frames); }, 1);
    feed.buffers(100);
    const std::uint64_t lost = queue.droppedBlocks();
    ASSERT_GT(lost, 0u);
    std::int64_t frame = 0;
    for (auto bytes = queue.tryRead(); !bytes.empty(); bytes = queue.tryRead()) {
        const RecordBlock block(bytes);
        for (std::uint32_t f = 0; f < block.frames(); ++f, ++frame)
            ASSERT_EQ(block.track(0)[f], Feed::sample(0, frame));
        queue.endRead();
    }
    EXPECT_EQ(frame + static_cast<std::int64_t>(lost) * 256, feed.frames());
    ManualClock clock;
    TakeRecorder recorder(clock, {});
    for (int i = 0; i < 3; ++i) recorder.blocks().countDrop();
    EXPECT_EQ(recorder.newDrops()->text,
              "Recording error: the disk is too slow — 3 audio blocks lost");
    recorder.blocks().countDrop();  // said once, then only what is new
    EXPECT_TRUE(recorder.newDrops()->text.endsWith("— 1 audio blocks lost"));
    EXPECT_FALSE(recorder.newDrops());
}

// The free space as recording time, a warning under 10 minutes that goes
// only above 12, a take stopped cleanly at the reserve and none started
// below it, and a volume that stops answering.
TEST_F(Faults, TheDiskGuardSaysTheTimeLeftWarnsAndStopsBeforeTheDiskIsFull) {
    open({"In 1", "In 2"});
    const double rate = (2 + 2) * 3 * 48000.0;  // two armed inputs and the stereo mix
    auto freeFor = [&](double seconds) {
        freeSpace = static_cast<std::uint64_t>(seconds * rate);
        return waitFor(
            [&] { return engine.tick(), std::abs(engine.remaining() / seconds - 1) < 0.01; });
    };
    ASSERT_TRUE(freeFor(1e12 / rate));
    engine.record();
    ASSERT_TRUE(freeFor(599.0));
    EXPECT_TRUE(engine.status().endsWith(" · Disk almost full — 9 min left"));
    ASSERT_TRUE(freeFor(700.0));  // not gone yet
    EXPECT_TRUE(engine.status().endsWith(" · Disk almost full — 11 min left"));
    ASSERT_TRUE(freeFor(730.0) && !engine.status().contains("Disk almost full"));
    capture(2).buffers(100);
    freeSpace = 64 * 1024 * 1024 - 1;
    ASSERT_TRUE(waitFor([&] { return engine.tick(), !engine.recording(); }));
    EXPECT_EQ(engine.status(),
              "Recording stopped: the disk is full — saved to " + engine.recordingFolder());
    expectExactHeaders(engine.recordingFolder().toStdString());
    engine.record();
    EXPECT_EQ(engine.status(), "Recording not started: the disk is full");
    diskHangs = true;
    ASSERT_TRUE(waitFor([&] { return diskHung.load(); }));
    clock.advance(1.5);
    engine.tick();
    EXPECT_TRUE(!engine.diskAnswering() && engine.remaining() < 0);
    diskHangs = false;
    EXPECT_TRUE(waitFor([&] { return engine.tick(), engine.remaining() > 0; }));
}

// The same on a small volume of its own, end to end: a 72 MiB tmpfs (mounting
// it takes root, as the tests have here) and the real free space. The take
// fills it to the 64 MiB reserve and stops, every file exact and readable.
TEST_F(Faults, ASmallVolumeFillsUpToItsReserveAndNoFurther) {
    QTemporaryDir volume;
    const QByteArray at = QFile::encodeName(volume.path());
    if (::mount("tessaly-test", at.constData(), "tmpfs", 0, "size=72m") != 0)
        GTEST_SKIP() << "no tmpfs of our own: " << std::strerror(errno);
    const auto unmount = qScopeGuard([&] { ::umount2(at.constData(), MNT_DETACH); });
    engine.setRoot(volume.path());
    engine.setFreeSpace(&DiskSpace::freeBytes, std::chrono::milliseconds(5));
    open({"In 1", "In 2"});
    const double rate = (2 + 2) * 3 * 48000.0;
    ASSERT_TRUE(waitFor([&] { return engine.tick(), engine.remaining() > 0; }));
    EXPECT_NEAR(engine.remaining(), 72 * 1024 * 1024 / rate, 0.01 * engine.remaining());
    engine.record();
    Feed feed = capture(2);
    ASSERT_TRUE(waitFor([&] { return feed.buffers(50), engine.tick(), !engine.recording(); }));
    EXPECT_EQ(engine.status(),
              "Recording stopped: the disk is full — saved to " + engine.recordingFolder());
    EXPECT_EQ(expectExactHeaders(engine.recordingFolder().toStdString()), 3);
    for (const QString& name : takeFiles()) {
        const SndRead r = readWithSndfile(inTake(name));
        EXPECT_TRUE(r.ok && r.info.frames * r.info.channels * 3 > 1'000'000) << name.toStdString();
    }
}
