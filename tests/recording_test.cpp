#include <unicode/locid.h>

#include <QScopeGuard>

#include "engine/BufferProcessor.h"
#include "recording/FileNames.h"
#include "recording/TakeRecorder.h"
#include "recording/TakeRepair.h"
#include "support/RecordingFixture.h"

using Takes = RecordingTest;

TEST_F(Takes, FoldersNamesNumberingAndSavedTo) {
    record();  // not running: nothing happens
    EXPECT_TRUE(QDir(root.path()).isEmpty());
    open({"In 1", "In 2", "Mic 3", "In 4"});
    engine.setName(0, "Kick / In");
    engine.setName(1, "12:30 Set");
    engine.setName(2, "");  // the hardware name stands in
    engine.setArmed(3, false);
    const QString day = root.path() + "/Dec 5";
    for (const char* old : {"/Recording 1 - 9.00 AM", "/Recording 2 - 10.00 AM"})
        QDir().mkpath(day + old);
    record();
    record();  // already recording: nothing changes
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
    stop();
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
    record();
    EXPECT_EQ(engine.folderName(), "Recording 2 - 2.25 PM");
    feed.buffers(50);
    stop();
    EXPECT_EQ(takeFiles(), QStringList{"Mix - Dec 5 - 2.25.07 PM.wav"});
    EXPECT_EQ(readBytes(inTake("Mix - Dec 5 - 2.25.07 PM.wav")).size(), 654u);
}

TEST_F(Takes, HourlySetsCrossMidnightAndKeepEveryBufferOnce) {
    clock.advance(35063);  // 23:59:30.25
    open({"In 1", "In 2"});
    record();
    Feed feed = capture(2);
    feed.buffers(300);
    clock.advance(3599.9);
    engine.tick();
    engine.setName(1, "Renamed");  // reaches the files at the next set
    feed.buffers(7, 3000);         // longer than the audio thread's blocks
    clock.advance(0.1);
    engine.tick();
    feed.buffers(211);
    stop();
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

TEST_F(Takes, NamesAndArmedFlagsComeBackPerInterface) {
    QStringList twelve;
    for (int i = 1; i <= 12; ++i) twelve << QString("In %1").arg(i);
    open(twelve, "scarlett-A");
    engine.setArmed(9, true);
    engine.setName(0, "Kick");
    engine.setName(1, "");
    RoomEngine restarted(clock);  // another run, on the same interface, then on others
    auto startOn = [&](const QString& uid, int inputs) {
        audio->list = {{1, "Test Interface", uid, inputs, 2}};
        restarted.refreshDevices();
        restarted.startEngine();
        return restarted.channels();
    };
    QList<Channel> ch = startOn("scarlett-A", 12);
    EXPECT_EQ(ch[0].name + "|" + ch[1].name + "|" + ch[1].displayName(), "Kick||In 2");
    EXPECT_TRUE(ch[9].armed && !ch[10].armed);
    EXPECT_EQ(startOn("scarlett-B", 2)[0].name, "In 1");  // not inherited
    // Labels of inputs it lacks, and members it does not know, are ignored.
    Settings().setLabels("small", R"({"0":{"name":"A","armed":false,"colour":"red"},)"
                                  R"("5":{"name":"Gone","armed":true}})");
    ch = startOn("small", 2);
    EXPECT_TRUE(ch.size() == 2 && ch[0].name == "A" && !ch[0].armed && ch[1].armed);
    // A document of any other shape does not decode: the defaults.
    for (const char* bad :
         {R"({"0":{"name":"Kick"},"1":{"name":"Sn","armed":false}})", R"({"0":{"armed":false}})",
          R"({"0":{"name":"K","armed":0}})", R"({"0":{"name":null,"armed":false}})",
          R"({"zero":{"name":"K","armed":false}})", R"({"0":{"name":"a","armed":false},"1":"b"})",
          R"([{"name":"K","armed":false}])", "", "{"}) {
        Settings().setLabels("bad", bad);
        ch = startOn("bad", 2);
        EXPECT_TRUE(ch[0].name == "In 1" && ch[0].armed) << bad;
    }
}

// The name rules, one row each; labels keep what was typed.
TEST(FileNames, NamesEveryDriveTakes) {
    const QString e300(300, QChar(0x00E9)), e127(127, QChar(0x00E9));  // é: 2 bytes
    const QString emoji = QString::fromUtf8("😀");
    const std::pair<QString, QString> rows[] = {{"  Kick / In:\tA ", "Kick - In.-A"},
                                                {"a\\b<c>d|e?f*g\"h", "a-b-c-d-e-f-g-h"},
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
                                                {e300, e127}};
    for (const auto& [typed, safe] : rows) EXPECT_EQ(safeName(typed), safe) << typed.toStdString();
    const QString a150(150, u'a');
    EXPECT_EQ(safeName(a150 + emoji.repeated(30)), a150 + emoji.repeated(26));
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
    int t = 1;
    const QString n = set.nextInput(e300, 9, t);
    EXPECT_TRUE(n.endsWith(" (input 9)" + tail) && n.toUtf8().size() <= 255);
    EXPECT_EQ(QString::fromUtf8(n.toUtf8()), n);  // cut at a character boundary
    for (int e : {ENOENT, EINVAL, EILSEQ, ENAMETOOLONG, ENOSPC, EDQUOT, EROFS, EACCES, EIO, EEXIST})
        EXPECT_EQ(SetNames::refusesName(e),
                  e == ENOENT || e == EINVAL || e == EILSEQ || e == ENAMETOOLONG)
            << e;
}

// Two recorders on one root in the same second: the first one's take 1 was deleted, so the second
// counts one take, as the first did, and finds its number taken: the next. A set begun again in the
// same second replaces no file. Deep in a folder, a name too long for the path falls back on "Input
// N".
TEST(TakeSets, TwoRecordersNeverShareAFolderOrAFileAndASetRollsOverBeforeAFileOutgrowsItsHeader) {
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
    auto fine = [](const Status& s) { EXPECT_TRUE(s.empty()) << s.text.toStdString(); };
    for (const QString& where : {day, day, deep}) {
        // Answers run on the file thread itself: read after waitForFiles().
        auto* r =
            recorders.emplace_back(std::make_unique<TakeRecorder>(clock, direct, nullptr)).get();
        auto* p = processors.emplace_back(std::make_unique<BufferProcessor>(r->blocks())).get();
        p->prepare(2);
        r->prepare(2, 48000);
        p->publish({2, 48000, {1, 1}, {0, 0}, true});
        r->start({root.path(), where, inputs, 48000, clock.instant(), {}, 0.0},
                 [&](const TakeSets::Opened& o) { fine(o.status); });
        r->waitForFiles();
        feeds.emplace_back([p](auto b, auto n, auto f) { p->process(b, n, f); }, 2).buffers(20);
        QDir(day + "/Recording 1 - 2.15 PM").removeRecursively();
    }
    recorders[1]->roll(inputs, 48000, fine);
    recorders[1]->waitForFiles();
    feeds[1].buffers(10);
    for (auto& r : recorders) {
        r->stop(root.path(), Status::ok("Saved to "),
                [&](const Status& s) { EXPECT_EQ(s.text, "Saved to " + r->folder()); });
        r->waitForFiles();
    }
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
    // In the user's locale (in its names, never in the broadcast date): a set
    // rolls over before any of its files would pass what its header can say.
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("ar_EG"), status);
    const auto english = qScopeGuard([&] { icu::Locale::setDefault("en_US", status); });
    TakeRecorder recorder(clock, direct, {});  // its date texts take the locale it is made in
    BufferProcessor processor(recorder.blocks());
    processor.prepare(1);
    recorder.prepare(1, 48000);
    processor.publish({1, 48000, {1}, {0}, true});
    recorder.setMaxFileBytes(6'000'000);
    const std::vector<TakeInput> one{{0, "In 1"}};
    recorder.start({root.path(), std::nullopt, one, 48000, clock.instant(), {}, 0.0},
                   [&](const TakeSets::Opened& o) { fine(o.status); });
    Feed feed([&](auto b, auto n, auto f) { processor.process(b, n, f); }, 1);
    for (int s = 0; s < 40; ++s, clock.advance(1.0)) {
        recorder.waitForFiles();
        feed.buffers(48000 / 256 + 1);
        recorder.waitForFiles();
        if (recorder.rollDue(48000)) recorder.roll(one, 48000, fine);
    }
    recorder.stop(root.path(), Status::ok("Saved to "));
    recorder.waitForFiles();
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

class WAVWriterTest : public testing::Test {
protected:
    std::string path(const char* name) const { return (dir.path() + "/" + name).toStdString(); }
    std::unique_ptr<WAVWriter> make(const std::string& file, int channels = 1, int rate = 48000,
                                    std::string description = "Vocal") {
        return WAVWriter::create({file, channels, rate, kAfternoon, "Tessaly", description}, clock);
    }
    QTemporaryDir dir;
    ManualClock clock;
};

static std::string text(const std::vector<std::uint8_t>& b, std::size_t at, std::size_t width) {
    return {b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + width)};
}

// Byte for byte, as readers and the repair of interrupted takes expect it.
// At 96 kHz an afternoon start passes 2^32 samples: the high word is used.
TEST_F(WAVWriterTest, TheBroadcastWaveLayoutSamplesCreationAndTheTwoSecondRule) {
    make(path("a.wav"), 2, 96000, "Mix of all armed inputs")->close();
    const auto b = readBytes(path("a.wav"));
    ASSERT_EQ(b.size(), 654u);
    const double sinceMidnight = (14 * 3600 + 15 * 60 + 7.25) * 96000.0;  // 14:15:07.25
    const auto low = static_cast<std::uint32_t>(sinceMidnight - 4294967296.0);
    const std::pair<std::size_t, std::uint32_t> words[] = {
        {4, 646},  {16, 602},    {358, low},       {362, 1},
        {626, 16}, {634, 96000}, {638, 96000 * 6}, {650, 0}};
    for (auto [at, value] : words) EXPECT_EQ(le32(b, at), value) << at;
    const std::pair<std::size_t, std::uint16_t> halves[] = {
        {366, 1}, {630, 1}, {632, 2}, {642, 6}, {644, 24}};
    for (auto [at, value] : halves) EXPECT_EQ(b[at] | b[at + 1] << 8, value) << at;
    EXPECT_EQ(text(b, 0, 4) + text(b, 8, 8), "RIFFWAVEbext");
    EXPECT_EQ(text(b, 20, 256), "Mix of all armed inputs" + std::string(256 - 23, '\0'));
    EXPECT_EQ(text(b, 276, 32), "Tessaly" + std::string(25, '\0'));
    EXPECT_EQ(text(b, 308, 32), "TY-1796476507" + std::string(19, '\0'));
    EXPECT_EQ(text(b, 340, 18), "2026-12-0514:15:07");
    EXPECT_EQ(text(b, 368, 254), std::string(254, '\0'));  // UMID, loudness, reserved
    EXPECT_EQ(text(b, 622, 4) + text(b, 646, 4), "fmt data");
    // A long description is cut to its field. Samples are clamped, scaled to
    // 24 bits and truncated, little-endian.
    auto writer = make(path("b.wav"), 1, 48000, std::string(300, 'x'));
    const float inf = std::numeric_limits<float>::infinity();
    const float in[] = {1.0f, 1.5f, inf, NAN, -1.0f, -3.0f, -inf, 0.0f, 0.5f, -0.5f};
    writer->write(in, 10);
    for (const float& x : in) writer->write(&x, 1);  // one at a time: the plain path
    writer->close();
    const std::vector<std::uint8_t> want = {
        0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0x7F,  // ≥ 1 and NaN
        0x01, 0x00, 0x80, 0x01, 0x00, 0x80, 0x01, 0x00, 0x80,                    // ≤ −1
        0x00, 0x00, 0x00, 0xFF, 0xFF, 0x3F, 0x01, 0x00, 0xC0};                   // 0, ±0.5
    const auto written = readBytes(path("b.wav"));
    EXPECT_EQ(text(written, 20, 257), std::string(256, 'x') + "T");
    EXPECT_EQ(std::vector<std::uint8_t>(written.begin() + 654, written.begin() + 684), want);
    EXPECT_EQ(std::vector<std::uint8_t>(written.begin() + 684, written.end()), want);
    // A file is made in folders that do not exist yet, never from a format no
    // header can describe; its sizes follow the two-second rule and are exact at close.
    std::error_code why;
    EXPECT_TRUE(make(path("new/deeper/x.wav")));
    for (auto [channels, rate] :
         {std::pair{0, 48000}, {1, 0}, {30000, 48000}, {2, 2'000'000'000}}) {
        EXPECT_FALSE(
            WAVWriter::create({path("bad.wav"), channels, rate, kAfternoon, "", ""}, clock, &why));
        EXPECT_EQ(why, std::errc::invalid_argument);
    }
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path("bad.wav"))));
    writer = make(path("grow.wav"));
    std::vector<float> second(48000, 0.25f);
    writer->write(second.data(), 0);
    writer->write(second.data(), -1);
    auto sizes = [&] {
        const auto g = readBytes(path("grow.wav"));
        return std::tuple(g.size() - 654, le32(g, 650), le32(g, 4) - 646);
    };
    writer->write(second.data(), 48000);
    clock.advance(2.0);  // not more than 2 s yet
    writer->write(second.data(), 48000);
    EXPECT_EQ(std::get<1>(sizes()), 0u);
    clock.advance(0.001);
    writer->write(second.data(), 48000);
    // Rewritten, and never describing more than the file holds.
    EXPECT_EQ(sizes(), std::tuple(3u * 144000, 3u * 144000, 3u * 144000));
    writer->write(second.data(), 48000);  // within 2 s of that rewrite
    EXPECT_EQ(std::get<1>(sizes()), 3u * 144000);
    writer->close();
    EXPECT_EQ(sizes(), std::tuple(4u * 144000, 4u * 144000, 4u * 144000));
    struct stat st {};
    ASSERT_EQ(::stat(path("grow.wav").c_str(), &st), 0);
    EXPECT_LE(st.st_blocks * 512, 654 + 4 * 144000 + 65536);  // no reserved tail is kept
    // The repair after a crash leaves a file past what a header can describe alone.
    QFile big(QString::fromStdString(path("grow.wav")));
    ASSERT_TRUE(big.resize(5LL << 30));  // sparse
    EXPECT_EQ(TakeRepair::repairFile(path("grow.wav")), TakeRepair::Outcome::tooLarge);
    ASSERT_TRUE(big.open(QIODevice::ReadOnly));
    const QByteArray head = big.read(654);
    EXPECT_TRUE(big.size() == 5LL << 30 &&
                le32(std::vector<std::uint8_t>(head.begin(), head.end()), 650) == 4u * 144000);
}
