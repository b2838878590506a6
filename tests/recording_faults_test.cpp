#include <sys/resource.h>
#include <csignal>

#include <QProcess>
#include <future>

#include "support/RecordingFixture.h"

namespace {

// Limits the size of every file this process writes, as a nearly full disk would.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit limited = old;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old); }

private:
    rlimit old{};
};

}  // namespace

using Faults = RecordingTest;

TEST_F(Faults, AFullDiskStopsEachFileCleanlyThenTheTake) {
    RoomEngineProbe::open(engine, "dev", {"In 1", "In 2"});
    engine.record();
    Feed feed(engine, 2);
    const rlim_t limit = 654 + 600'000;
    {
        FileSizeLimit full(limit);
        // The stereo mix reaches the limit first; the inputs go on.
        feed.buffers(48000 * 3 / 256);
        feed.settle();
        ASSERT_TRUE(waitFor([&] { return engine.status().startsWith("Recording error"); }));
        EXPECT_EQ(engine.status(), "Recording error: Mix - Dec 5 - 2.15.07 PM.wav: File too large");
        EXPECT_TRUE(engine.recording());
        // Then the inputs: no file is left, so the take ends.
        feed.buffers(48000 * 3 / 256);
        feed.settle();
        ASSERT_TRUE(waitFor([&] { return !engine.recording(); }));
    }

    EXPECT_EQ(engine.status(),
              "Recording error: In 1 - Dec 5 - 2.15.07 PM.wav: File too large (and 1 more files)"
              " — recording stopped; saved to " +
                  engine.recordingFolder());
    // What reached the disk reads back, with sizes that match it.
    for (const QString& name : takeFiles()) {
        const SndRead r = readWithSndfile(inTake(name));
        ASSERT_TRUE(r.ok) << name.toStdString();
        const std::uint64_t data = static_cast<std::uint64_t>(r.info.frames) * 3 * r.info.channels;
        EXPECT_GT(data, limit - 654 - 6) << name.toStdString();
        EXPECT_EQ(readBytes(inTake(name)).size(), 654 + data);
        EXPECT_EQ(le32(readBytes(inTake(name)), 650), data);
        const int c = name.startsWith("In 2") ? 1 : 0;
        if (r.info.channels == 1) {
            for (sf_count_t f = 0; f < r.info.frames; ++f)
                ASSERT_EQ(r.samples[f], toPCM24(Feed::sample(c, f)));
        }
    }
}

TEST_F(Faults, AReportAboutAReplacedSetDoesNotEndTheTake) {
    RoomEngineProbe::open(engine, "dev", {"In 1"});
    engine.record();
    const std::uint64_t old = RoomEngineProbe::fileSet(engine);
    RoomEngineProbe::rollFiles(engine);  // the report was on its way while this ran
    RoomEngineProbe::filesFailed(engine, {{"In 1 - old.wav", "Input/output error"}}, true, old);
    EXPECT_TRUE(engine.recording());
    EXPECT_EQ(engine.status(), "Recording error: In 1 - old.wav: Input/output error");
    RoomEngineProbe::filesFailed(engine, {{"In 1 - new.wav", "Input/output error"}}, true,
                                 RoomEngineProbe::fileSet(engine));
    EXPECT_FALSE(engine.recording());
}

TEST_F(Faults, ADiskTooSlowForTheAudioIsSaid) {
    RoomEngineProbe::open(engine, "dev", {"In 1"});
    engine.record();
    Feed feed(engine, 1);
    std::promise<void> entered, release;
    std::thread stuck([&] {
        RoomEngineProbe::onFiles(engine, [&](TakeFiles&) {
            entered.set_value();
            release.get_future().wait();  // the disk does not answer
        });
    });
    entered.get_future().wait();
    feed.buffers(48000 * 8 / 256);  // more than the ring holds
    release.set_value();
    stuck.join();
    const auto lost = engine.droppedBlocks();
    ASSERT_GT(lost, 0u);
    RoomEngineProbe::tick(engine);
    EXPECT_EQ(engine.status(),
              QString("Recording error: the disk is too slow — %1 audio blocks lost").arg(lost));
    EXPECT_TRUE(engine.recording());
    engine.stopRecording();
    // The audio thread never waited; what was queued before the ring filled
    // arrives whole and in order, the rest is counted.
    const SndRead r = readWithSndfile(inTake("In 1 - Dec 5 - 2.15.07 PM.wav"));
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.info.frames, feed.frames() - static_cast<std::int64_t>(lost) * 256);
    for (sf_count_t f = 0; f < r.info.frames; ++f)
        ASSERT_EQ(r.samples[f], toPCM24(Feed::sample(0, f)));
}

TEST_F(Faults, AFolderThatCannotBeMadeIsSaidAndStartsNoTake) {
    QFile(root.path() + "/plain").open(QIODevice::WriteOnly);
    engine.setRoot(root.path() + "/plain");
    RoomEngineProbe::open(engine, "dev", {"In 1"});
    engine.record();
    EXPECT_FALSE(engine.recording());
    EXPECT_EQ(engine.status(),
              "Recording error: In 1 - Dec 5 - 2.15.07 PM.wav: Not a directory (and 1 more files)"
              " — recording not started");
}

// A recorder killed in the middle of a take leaves every file readable, with
// all but at most the last 2.5 s of what it had processed.
TEST(KilledRecorder, LosesAtMostTheLastSeconds) {
    QTemporaryDir root;
    QProcess child;
    child.start(TESSALY_RECORD_CHILD, {root.path()});
    ASSERT_TRUE(child.waitForStarted());
    QString take;
    long long processed = 0;
    while (processed < 48000LL * 4) {
        if (!child.canReadLine()) {
            ASSERT_TRUE(child.waitForReadyRead(10000)) << "the recorder stopped talking";
            continue;
        }
        const QString line = QString::fromUtf8(child.readLine()).trimmed();
        if (line.startsWith("take ")) take = line.mid(5);
        if (line.startsWith("frames ")) processed = line.mid(7).toLongLong();
    }
    ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
    child.waitForFinished();
    const QStringList files = QDir(take).entryList({"*.wav"}, QDir::Files);
    ASSERT_EQ(files.size(), 5);
    for (const QString& name : files) {
        const SndRead r = readWithSndfile((take + "/" + name).toStdString());
        ASSERT_TRUE(r.ok) << name.toStdString();
        EXPECT_GE(r.info.frames, processed - 48000 * 5 / 2) << name.toStdString();
        if (r.info.channels == 1) {
            const int c = name.mid(3, 1).toInt() - 1;
            for (sf_count_t f = 0; f < r.info.frames; ++f)
                ASSERT_EQ(r.samples[f], toPCM24(Feed::sample(c, f)));
        }
    }
}
