#include <unicode/locid.h>

#include <QScopeGuard>

#include "engine/BufferProcessor.h"
#include "recording/FileNames.h"
#include "recording/TakeRecorder.h"
#include "support/RecordingFixture.h"

using Takes = RecordingTest;

TEST_F(Takes, FoldersNamesNumberingAndSavedTo) {
    engine.record();  // not running: nothing happens
    EXPECT_TRUE(QDir(root.path()).isEmpty());
    open({"In 1", "In 2", "Mic 3", "In 4"});
    engine.setName(0, "Kick / In");
    engine.setName(1, "12:30 Set");
    engine.setName(2, "");  // the hardware name stands in
    engine.setArmed(3, false);
    const QString day = root.path() + "/Dec 5";
    for (const char* old : {"/Recording 1 - 9.00 AM", "/Recording 2 - 10.00 AM"})
        QDir().mkpath(day + old);
    engine.record();
    engine.record();  // already recording: nothing changes
    EXPECT_EQ(engine.recordingFolder(), day + "/Recording 3 - 2.15 PM");
    // Arming is frozen during a take, in the store and on the audio thread;
    // names and solos are not.
    const QByteArray stored = Settings().labels("dev");
    engine.setArmed(0, false);
    EXPECT_TRUE(engine.channels()[0].armed);
    EXPECT_EQ(Settings().labels("dev"), stored);
    Feed feed = capture(4);
    feed.buffers(100);
    engine.setSolo(2, true);  // the headphones carry it alone, from the next buffer
    feed.buffers(1);
    EXPECT_EQ(headphones(256)[9], Feed::sample(2, feed.frames() - 256 + 9));
    engine.setSolo(0, true);
    engine.setSolo(2, true);
    engine.setName(1, "Snare");
    engine.setSolo(1, true);
    engine.tick();
    EXPECT_EQ(engine.monLabel(), "Kick / In + Snare + Mic 3");
    engine.clearSolo();
    engine.tick();
    EXPECT_EQ(engine.monLabel(), "Mix");
    engine.stopRecording();
    EXPECT_EQ(engine.status(), "Saved to " + day + "/Recording 3 - 2.15 PM");
    EXPECT_EQ(
        takeFiles(),
        (QStringList{"12.30 Set - Dec 5 - 2.15.07 PM.wav", "Kick - In - Dec 5 - 2.15.07 PM.wav",
                     "Mic 3 - Dec 5 - 2.15.07 PM.wav", "Mix - Dec 5 - 2.15.07 PM.wav"}));
    const SndRead kick = readWithSndfile(inTake("Kick - In - Dec 5 - 2.15.07 PM.wav"));
    EXPECT_STREQ(kick.bext.description, "Kick / In");  // the description is not made safe
    const SndRead mix = readWithSndfile(inTake("Mix - Dec 5 - 2.15.07 PM.wav"));
    EXPECT_TRUE(mix.info.channels == 2 && mix.info.samplerate == 48000);
    EXPECT_STREQ(mix.bext.description, "Mix of all armed inputs");
    // Deleted takes free their numbers; with nothing armed the mix stays empty.
    QDir(day + "/Recording 1 - 9.00 AM").removeRecursively();
    QDir(day + "/Recording 3 - 2.15 PM").removeRecursively();
    clock.advance(600);
    for (int i = 0; i < 3; ++i) engine.setArmed(i, false);
    engine.record();
    EXPECT_EQ(engine.folderName(), "Recording 2 - 2.25 PM");
    feed.buffers(50);
    engine.stopRecording();
    EXPECT_EQ(takeFiles(), QStringList{"Mix - Dec 5 - 2.25.07 PM.wav"});
    EXPECT_EQ(readBytes(inTake("Mix - Dec 5 - 2.25.07 PM.wav")).size(), 654u);
}

TEST_F(Takes, HourlySetsCrossMidnightAndKeepEveryBufferOnce) {
    clock.advance(35063);  // 23:59:30.25
    open({"In 1", "In 2"});
    engine.record();
    Feed feed = capture(2);
    feed.buffers(300);
    clock.advance(3599.9);
    engine.tick();
    engine.setName(1, "Renamed");  // reaches the files at the next set
    feed.buffers(7, 3000);         // longer than the audio thread's blocks
    clock.advance(0.1);
    engine.tick();
    feed.buffers(211);
    engine.stopRecording();
    EXPECT_EQ(engine.recordingFolder(), root.path() + "/Dec 5/Recording 1 - 11.59 PM");
    EXPECT_EQ(takeFiles(),
              (QStringList{"In 1 - Dec 5 - 11.59.30 PM.wav", "In 1 - Dec 6 - 12.59.30 AM.wav",
                           "In 2 - Dec 5 - 11.59.30 PM.wav", "Mix - Dec 5 - 11.59.30 PM.wav",
                           "Mix - Dec 6 - 12.59.30 AM.wav", "Renamed - Dec 6 - 12.59.30 AM.wav"}));
    // Every buffer went wholly to one set, in order, none lost or doubled; the
    // mix carries both inputs on both sides.
    for (const auto& [c, before, later] :
         {std::tuple{0, "In 1", "In 1"}, {1, "In 2", "Renamed"}, {2, "Mix", "Mix"}}) {
        const auto first = readWithSndfile(inTake(QString(before) + " - Dec 5 - 11.59.30 PM.wav"));
        const auto second = readWithSndfile(inTake(QString(later) + " - Dec 6 - 12.59.30 AM.wav"));
        EXPECT_EQ(first.info.frames, 300 * 256 + 7 * 3000);
        ASSERT_EQ(first.info.frames + second.info.frames, feed.frames());
        for (std::int64_t i = 0; i < feed.frames() * first.info.channels; ++i) {
            const std::int64_t f = i / first.info.channels, n = std::ssize(first.samples);
            const int got = i < n ? first.samples[i] : second.samples[i - n];
            ASSERT_EQ(got, toPCM24(c < 2 ? Feed::sample(c, f) : Feed::mixOfTwo(f)))
                << c << " " << f;
        }
    }
    expectExactHeaders(engine.recordingFolder().toStdString());
}

// The take recorder with a processor of its own, in the user's locale (in its
// names, never in the broadcast date): a set rolls over before any of its
// files would pass the size its header can describe. Then collisions and
// hostile names still give one file each.
TEST(TakeSets, ASetRollsOverBeforeAnyFileOutgrowsItsSizeFieldsAndNamesAreEachOwn) {
    QTemporaryDir root;
    ManualClock clock;
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("ar_EG"), status);
    const auto english = qScopeGuard([&] { icu::Locale::setDefault("en_US", status); });
    TakeRecorder recorder(clock, {});
    BufferProcessor processor(recorder.blocks());
    processor.prepare(1);
    recorder.prepare(1, 48000);
    processor.publish({1, 48000, {1}, {0}, true});
    recorder.setMaxFileBytes(6'000'000);
    const std::vector<TakeInput> inputs{{0, "In 1"}};
    EXPECT_TRUE(recorder.start(root.path(), std::nullopt, inputs, 48000).empty());
    Feed feed([&](auto b, auto n, auto frames) { processor.process(b, n, frames); }, 1);
    for (int second = 0; second < 40; ++second, clock.advance(1.0)) {
        feed.buffers(48000 / 256 + 1);
        recorder.settle();
        EXPECT_TRUE(!recorder.rollDue(48000) || recorder.roll(inputs, 48000).empty());
    }
    recorder.stop(root.path());
    const QDir take(recorder.folder());
    EXPECT_EQ(take.dirName(), "Recording 1 - ٢.١٥ م");
    const SndRead first =
        readWithSndfile(take.filePath("In 1 - ديسمبر ٥ - ٢.١٥.٠٧ م.wav").toStdString());
    EXPECT_EQ(std::string(first.bext.origination_date, 18), "2026-12-0514:15:07");
    EXPECT_GE(take.entryList({"Mix - *"}, QDir::Files).size(), 3);
    std::int64_t frames = 0;
    for (const QString& name : take.entryList({"*.wav"}, QDir::Files)) {
        const SndRead r = readWithSndfile(take.filePath(name).toStdString());
        EXPECT_LE(r.info.frames * 3 * r.info.channels, 6'000'000);
        if (name.startsWith("In 1")) frames += r.info.frames;
    }
    EXPECT_EQ(frames, feed.frames());
}

// The name rules, one row each; labels keep what was typed.
TEST(FileNames, NamesEveryDriveTakes) {
    const QString e300(300, QChar(0x00E9)), e127(127, QChar(0x00E9));  // é: 2 bytes
    const QString emoji = QString::fromUtf8("😀");
    for (const auto& [typed, safe] : std::vector<std::pair<QString, QString>>{
             {"  Kick / In:\tA ", "Kick - In.-A"},
             {"Vox?", "Vox-"},
             {"Gtr \"L\"", "Gtr -L-"},
             {"Kick*", "Kick-"},
             {"a\\b<c>d|e", "a-b-c-d-e"},
             {QString::fromUtf8("Vo\0cal\r\n", 8), "Vo-cal--"},
             {"Take. . ", "Take"},
             {"..", ""},
             {" \t", ""},
             {"con", "con-"},
             {"Aux.L", "Aux-.L"},
             {"NUL.tar.gz", "NUL-.tar.gz"},
             {"lpt9", "lpt9-"},
             {"COM0", "COM0"},
             {"LPT10", "LPT10"},
             {"Console", "Console"},
             {e300, e127},  // 254 bytes
             {QString(150, u'a') + emoji.repeated(30), QString(150, u'a') + emoji.repeated(26)}})
        EXPECT_EQ(safeName(typed), safe) << typed.toStdString();
    SetNames set("Dec 5 - 2.15.07 PM");
    const QString tail = " - Dec 5 - 2.15.07 PM.wav";
    int tried[5] = {};
    EXPECT_EQ(set.nextMix(), "Mix" + tail);
    const QStringList labels{"Vocal", "vocal", "Mix", "Vocal", "  "};
    const QStringList want{"Vocal", "vocal (input 2)", "Mix (input 3)", "Vocal (input 4)",
                           "Input 5"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(set.nextInput(labels[i], i + 1, tried[i]), want[i] + tail);
    EXPECT_EQ(set.nextInput("Vocal", 4, tried[3]), "Vocal (input 4) 2" + tail);  // 4's was taken
    EXPECT_EQ(set.nextMix(), "Mix 2" + tail);
    int fallback = 0;
    EXPECT_EQ(set.nextFallback(1, fallback), "Input 1" + tail);
    for (const QString& label : {e300, QString(240, u'a') + emoji.repeated(5)}) {
        int t = 1;
        const QString n = set.nextInput(label, 9, t);
        EXPECT_TRUE(n.endsWith(" (input 9)" + tail) && n.toUtf8().size() <= 255);
        EXPECT_EQ(QString::fromUtf8(n.toUtf8()), n);  // cut at a character boundary
    }
    EXPECT_TRUE(SetNames::refusesName(ENOENT) && SetNames::refusesName(EINVAL) &&
                SetNames::refusesName(EILSEQ) && SetNames::refusesName(ENAMETOOLONG));
    for (int disk : {ENOSPC, EDQUOT, EROFS, EACCES, EIO, EEXIST})
        EXPECT_FALSE(SetNames::refusesName(disk)) << disk;
}

// Two recorders on one root in the same second: the first one's take 1 was
// deleted, so the second counts one take, as the first did, and finds its
// number taken: the next. A set begun again in the same second replaces no
// file. Deep in a folder, a name too long for the path falls back on "Input N".
TEST(TakeSets, TwoRecordersOnOneRootNeverShareAFolderOrAFile) {
    QTemporaryDir root;
    ManualClock clock;
    QString day = root.path() + "/Dec 5", deep = day;
    while (deep.size() < 3900)
        deep += "/" + QString(std::min<qsizetype>(250, 3928 - deep.size()), u'd');
    QDir().mkpath(day + "/Recording 1 - 2.15 PM");
    std::vector<std::unique_ptr<TakeRecorder>> recorders;
    std::vector<std::unique_ptr<BufferProcessor>> processors;
    std::vector<Feed> feeds;
    const std::vector<TakeInput> inputs{{0, "Vox?"}, {1, QString(250, u'v')}};
    for (const QString& where : {day, day, deep}) {
        auto* r = recorders.emplace_back(std::make_unique<TakeRecorder>(clock, nullptr)).get();
        auto* p = processors.emplace_back(std::make_unique<BufferProcessor>(r->blocks())).get();
        p->prepare(2);
        r->prepare(2, 48000);
        p->publish({2, 48000, {1, 1}, {0, 0}, true});
        EXPECT_TRUE(r->start(root.path(), where, inputs, 48000).empty());
        feeds.emplace_back([p](auto b, auto n, auto f) { p->process(b, n, f); }, 2).buffers(20);
        QDir(day + "/Recording 1 - 2.15 PM").removeRecursively();
    }
    recorders[1]->settle();
    EXPECT_TRUE(recorders[1]->roll(inputs, 48000).empty());
    feeds[1].buffers(10);
    for (auto& r : recorders) EXPECT_EQ(r->stop(root.path()).text, "Saved to " + r->folder());
    EXPECT_EQ(QDir(day).entryList({"Recording *"}),
              (QStringList{"Recording 2 - 2.15 PM", "Recording 3 - 2.15 PM"}));
    const QString tail = " - Dec 5 - 2.15.07 PM.wav";
    const QDir second(recorders[1]->folder()), third(recorders[2]->folder());
    EXPECT_EQ(second.entryList({"*.wav"}).size(), 6);
    for (const QString name : {"Mix", "Vox-", "Mix 2", "Vox- (input 1)"})
        EXPECT_EQ(readWithSndfile(second.filePath(name + tail).toStdString()).info.frames,
                  name.size() > 4 ? 2560 : 5120)
            << name.toStdString();
    EXPECT_TRUE(third.exists("Vox-" + tail) && third.exists("Input 2" + tail));
    for (const auto& r : recorders) expectExactHeaders(r->folder().toStdString());
}
