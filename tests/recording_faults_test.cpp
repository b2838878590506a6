#include <sys/mount.h>

#include <QScopeGuard>
#include <cerrno>
#include <cstring>

#include "engine/BufferProcessor.h"
#include "hardware/demo/DemoSystem.h"
#include "recording/RecordBlock.h"
#include "recording/TakeRecorder.h"
#include "room/DropoutReport.h"
#include "support/RecordingFixture.h"

using Faults = RecordingTest;

TEST_F(Faults, AFullDiskStopsEachFileCleanlyThenTheTake) {
    open({"In 1", "In 2"});
    record();
    Feed feed = capture(2);
    const rlim_t limit = 654 + 600'001;  // inside a frame of every file
    {
        const auto full = fileSizeLimit(limit);
        // The stereo mix reaches the limit first; the inputs go on.
        feed.buffers(48000 * 3 / 256);
        ASSERT_TRUE(waitFor([&] { return engine.status().startsWith("Recording error"); }));
        EXPECT_EQ(engine.status(), "Recording error: Mix - Dec 5 - 2.15.07 PM.wav: File too large");
        // Then the inputs: no file is left, so the take ends.
        feed.buffers(48000 * 3 / 256);
        ASSERT_TRUE(waitFor([&] { return !engine.recording(); }));
    }
    EXPECT_EQ(engine.status(),
              "Recording error: In 1 - Dec 5 - 2.15.07 PM.wav: File too large (and 1 more files)"
              " — recording stopped; saved to " +
                  engine.recordingFolder());
    // What reached the disk reads back, with sizes that match it; the take
    // stays marked, for the repair at the next start.
    EXPECT_EQ(expectExactHeaders(engine.recordingFolder().toStdString()), 3);
    EXPECT_EQ(QDir(OpenTakeMark::folder()).entryList({"*.take"}).size(), 1);
    for (const QString& name : takeFiles()) {
        const SndRead r = readWithSndfile(inTake(name));
        ASSERT_TRUE(r.ok) << name.toStdString();
        EXPECT_GT(r.info.frames * 3 * r.info.channels, limit - 654 - 6) << name.toStdString();
    }
}

// Every file of a set fails; before the report reaches the main thread, the hour is up and a new
// set opens. The report is about a set that is gone: it is shown, but the take goes on into its new
// files.
TEST_F(Faults, AReportAboutASetThatARollReplacedDoesNotEndTheTake) {
    open({"In 1"});
    record();
    Feed feed = capture(1);
    // A failed file is closed with its sizes: wait for both, without letting the report in.
    auto closed = [&] {
        const auto input = readBytes(inTake("In 1 - Dec 5 - 2.15.07 PM.wav"));
        const auto mix = readBytes(inTake("Mix - Dec 5 - 2.15.07 PM.wav"));
        return input.size() > 654 && mix.size() > 654 && le32(input, 650) && le32(mix, 650);
    };
    {
        const auto full = fileSizeLimit(654 + 30'000);
        feed.buffers(400);  // past what the writers gather before they write
        ASSERT_TRUE(waitFor(closed, 500, false));
    }
    clock.advance(3600);
    engine.tick();  // the next set
    feed.buffers(10);
    // The last report names the input, alone or after the mix (when both failed in one go).
    ASSERT_TRUE(waitFor([&] {
        return engine.status().startsWith("Recording error: In 1 - Dec 5 - 2.15.07 PM.wav") ||
               engine.status().endsWith("(and 1 more files)");
    })) << engine.status().toStdString();
    stop();
    EXPECT_EQ(engine.status(), "Saved to " + engine.recordingFolder() +
                                   " · 2 files could not be written");  // both of the first set
    EXPECT_EQ(readWithSndfile(inTake("In 1 - Dec 5 - 3.15.07 PM.wav")).info.frames, 2560);
}

static bool put(BlockRing& ring, std::uint32_t value, std::size_t bytes) {
    std::byte* at = ring.tryBeginWrite(bytes);
    if (!at) return false;
    for (std::size_t i = 0; i + 4 <= bytes; i += 4) std::memcpy(at + i, &value, 4);
    ring.endWrite();
    return true;
}

// One block: its value (its first, middle and last words the same, else -2) and size; -1 when none.
static std::pair<long, std::size_t> take(BlockRing& ring) {
    auto block = ring.tryRead();
    if (block.empty()) return {-1, 0};
    std::uint32_t first = 0, middle = 0, last = 0;
    std::memcpy(&first, block.data(), 4);
    std::memcpy(&middle, block.data() + block.size() / 8 * 4, 4);
    std::memcpy(&last, block.data() + (block.size() - 4) / 4 * 4, 4);
    ring.endRead();
    return {first == middle && first == last ? long{first} : -2, block.size()};
}

// One writer and one reader over a million blocks of varying sizes: every block arrives once,
// whole, in order, or was refused to the writer, which is never given room for an empty block (it
// would read as "none") or one too large.
TEST(BlockRing, OneWriterOneReaderKeepOrderOverAMillionBlocks) {
    BlockRing ring(4096);
    EXPECT_EQ(ring.tryBeginWrite(0), nullptr);
    EXPECT_EQ(ring.tryBeginWrite(ring.maxBlock() + 1), nullptr);
    constexpr long kBlocks = 1'000'000;
    auto bytes = [](long i) { return 4 + static_cast<std::size_t>(i * 52) % 700; };
    std::thread writer([&] {
        for (long i = 0; i < kBlocks;)
            put(ring, std::uint32_t(i), bytes(i)) ? ++i : (std::this_thread::yield(), i);
    });
    for (long expected = 0; expected < kBlocks;) {
        const auto [got, size] = take(ring);
        if (got == -1) {
            std::this_thread::yield();
            continue;
        }
        ASSERT_EQ(got, expected);
        ASSERT_EQ(size, bytes(expected++));
    }
    writer.join();
    EXPECT_EQ(take(ring).first, -1);
}

// A disk too slow for the audio: the audio thread drops blocks and counts them, never waits; what
// was queued is whole and in order; silence as long as what was lost goes before the next block
// that finds room. A gap in the capture's clock is counted and stands as silence too. What the
// engineer is told of it: the status note, "disk slow" before anything is lost, and the log, at
// most a line a second.
TEST(SlowDisk, LostAudioIsCountedNeverWaitedForStandsAsSilenceAndIsReported) {
    BlockQueue queue(64 * 1024);  // nobody reads it yet: a disk that does not answer
    BufferProcessor processor(queue);
    processor.prepare(1);
    AudioControls controls{1, 48000, {1}, {0}, false, 4};
    processor.publish(controls);
    std::uint32_t at = 0;  // the device's frame counter
    const float quiet[256] = {}, *before[] = {quiet};
    processor.process(before, 1, 256, {at, 0});
    at += 256 + 50;  // a gap before the take's first buffer: not the take's
    controls.recording = true;
    processor.publish(controls);
    Feed feed([&](auto b, auto n, auto f) { processor.process(b, n, f, {at, 0}), at += f; }, 1);
    feed.buffers(10);
    at += 100;
    feed.buffers(100);
    const std::uint64_t dropped = queue.droppedBlocks();
    std::int64_t frame = 0, takeFrame = 0;  // of the feed; of the take, silence included
    auto readAll = [&] {                    // the silences that stand before blocks
        std::vector<std::int64_t> silences;
        for (auto bytes = queue.tryRead(); !bytes.empty();
             queue.endRead(), bytes = queue.tryRead()) {
            const RecordBlock block(bytes);
            const auto silence = static_cast<std::int64_t>(block.silenceBefore() +
                                                           queue.takeGapsUpTo(block.position()));
            if (silence > 0) silences.push_back(silence);
            for (std::uint32_t f = 0; f < block.frames(); ++f, ++frame)
                EXPECT_EQ(block.track(0)[f], Feed::sample(0, frame));
            takeFrame += silence + block.frames();
        }
        return silences;
    };
    EXPECT_EQ(readAll(), std::vector<std::int64_t>{100});
    const Dropouts lost = processor.dropouts();
    EXPECT_EQ(lost.take, 4u);
    EXPECT_TRUE(lost.missed.count == 1 && lost.missed.frames == 100 && lost.missed.firstAt == 2560);
    EXPECT_TRUE(lost.disk.count == 1 &&  // one run of dropped blocks
                lost.disk.frames == static_cast<std::int64_t>(dropped) * 256 &&
                lost.disk.firstAt == takeFrame);
    feed.buffers(1);  // room again: the silence, then the buffer
    frame += lost.disk.frames;
    EXPECT_EQ(readAll(), std::vector<std::int64_t>{lost.disk.frames});
    EXPECT_EQ(frame, feed.frames());
    controls.take = 5;  // a new take counts from nothing
    processor.publish(controls);
    feed.buffers(1);
    EXPECT_TRUE(processor.dropouts().take == 5 && processor.dropouts().disk.count == 0);
    static QStringList log;
    qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& l) { log << l; });
    ManualClock clock;
    DropoutReport report(clock);
    report.begin(2);
    Dropouts counts;
    counts.take = 2;
    EXPECT_TRUE(report.update(counts, 0.51, 48000) && report.note() == Status::ok(" · disk slow"));
    EXPECT_FALSE(report.update(counts, 0.3, 48000));  // taken off only below a quarter
    EXPECT_TRUE(report.update(counts, 0.2, 48000) && report.note().empty());
    counts.missed.add(751 * 48000, 480, true);   // 0.01 s at 00:12:31
    counts.disk.add(3727 * 48000, 62400, true);  // 1.3 s at 01:02:07
    EXPECT_TRUE(report.update(counts, 0.9, 48000));
    counts.missed.add(751 * 48000 + 9000, 240, true);
    counts.missed.add(751 * 48000 + 9900, 240, true);
    report.update(counts, 0.9, 48000);
    EXPECT_EQ(log.size(), 1);  // within the second: not logged yet
    EXPECT_EQ(report.note(), Status::failed(" · 3 dropouts (0.02 s), first at 00:12:31 · disk too "
                                            "slow: 1.3 s lost, first at 01:02:07"));
    clock.advance(1.0);
    report.update(counts, 0.9, 48000, 3);  // xrun notices: a label, never a count
    report.end(counts, "/takes/Recording 1 - 2.15 PM");
    qInstallMessageHandler(nullptr);
    EXPECT_EQ(log, (QStringList{"dropout: 0.01 s not received at 00:12:31; 1.3 s dropped (disk "
                                "too slow) at 01:02:07",
                                "dropout: 2 losses, 0.01 s not received, the last at 00:12:31 "
                                "(the server reported xruns)",
                                "take: /takes/Recording 1 - 2.15 PM · 3 dropouts (0.02 s), first "
                                "at 00:12:31 · disk too slow: 1.3 s lost, first at 01:02:07"}));
    EXPECT_TRUE(report.note().empty());
}

// A simulated interface that loses every 7th buffer: each loss is counted, timed and shown, and
// stands in every file as silence of its length, so the files are as long as the time the take
// covered.
TEST_F(Faults, ADropoutIsShownAndStandsAsSilenceInEveryFile) {
    auto* demo = new DemoSystem({3, 2, 48000, false, "Demo", true, 7});
    AudioSystem::install(std::unique_ptr<DemoSystem>(demo));
    engine.refreshDevices();
    engine.startEngine();
    for (int i = 0; i < 3; ++i) engine.setName(i, QString("In %1").arg(i + 1));
    demo->step(3);
    record();
    for (int b = 0; b < 40; ++b, engine.tick()) demo->step(1);  // its buffers 4 to 43
    // Buffers 7, 14, …, 42 are lost: 6 × 256 frames, 0.032 s, shown rounded up.
    EXPECT_TRUE(engine.status().endsWith(" · 6 dropouts (0.04 s), first at 00:00:00"));
    stop();
    EXPECT_EQ(engine.status(), "Saved to " + engine.recordingFolder());
    ASSERT_EQ(takeFiles().size(), 4);
    for (const QString& name : takeFiles()) {
        const SndRead r = readWithSndfile(inTake(name));
        ASSERT_EQ(r.info.frames, 40 * 256) << name.toStdString();
        const int input = name.startsWith("Mix") ? -1 : name.mid(3, 1).toInt() - 1;
        for (sf_count_t i = 0; i < r.info.frames; ++i) {
            const std::int64_t at = 3 * 256 + i;  // the interface's frame
            const int got = r.samples[i * r.info.channels];
            const bool lost = (at / 256 + 1) % 7 == 0;
            ASSERT_TRUE(lost ? got == 0
                             : got != 0 && (input < 0 || got >> 8 == (at + input) % 32768))
                << name.toStdString() << " " << i;
        }
    }
}

// A small volume of its own, end to end: a 72 MiB tmpfs (mounting it takes root, as the tests have
// here) and the real free space. The take fills it to the 64 MiB reserve and stops, every file
// exact and readable; none starts below it.
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
    record();
    Feed feed = capture(2);
    ASSERT_TRUE(waitFor([&] { return feed.buffers(50), engine.tick(), !engine.recording(); }));
    answered();
    EXPECT_EQ(engine.status(),
              "Recording stopped: the disk is full — saved to " + engine.recordingFolder());
    EXPECT_EQ(expectExactHeaders(engine.recordingFolder().toStdString()), 3);
    for (const QString& name : takeFiles()) {
        const SndRead r = readWithSndfile(inTake(name));
        EXPECT_TRUE(r.ok && r.info.frames * r.info.channels * 3 > 1'000'000) << name.toStdString();
    }
    // A roomy root, and a day folder that is the full volume.
    engine.setRoot(QFileInfo(volume.path()).path());
    record(QDir(volume.path()).dirName());
    EXPECT_EQ(engine.status(), "Recording not started: the disk is full");
}
