#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "link/RoomLink.h"
#include "recording/FileCalls.h"
#include "recording/OpenTakeMark.h"
#include "support/ControlRoom.h"
#include "support/RecordingFixture.h"

using namespace std::chrono_literals;

// The link's rhythm sped up: status, retry, ping, silence, watch (ms).
const LinkTiming kFast{20, 100, 100, 500, 20};

// An engine on a fed interface, linked to a Control Room on loopback.
class Link : public RecordingTest {
protected:
    void SetUp() override {
        RecordingTest::SetUp();
        plug({{1, "Scarlett 4i4", "uid-1", 4, 4}, {2, "Headphone Amp", "uid-2", 0, 2}});
        EXPECT_EQ(Settings().server(), "127.0.0.1:4777");
        Settings().setServer(room.address());
        link.start();
        ASSERT_TRUE(waitFor([&] { return engine.linkConnected(); }));
    }
    // Sends a command and waits until it, and everything sent before it, took effect.
    void command(const QByteArray& json) {
        const QString marker = QString("mark %1").arg(++marks);
        room.send({json, R"({"type":"set","i":3,"name":")" + marker.toUtf8() + R"("})"});
        ASSERT_TRUE(waitFor([&] { return engine.channels()[3].name == marker; })) << json.data();
        answered();
    }
    // The next status message sent from now on.
    QJsonObject nextStatus() {
        const auto seen = room.messages().size();
        EXPECT_TRUE(waitFor([&] { return room.messages().size() > seen + 1; }));
        return QJsonDocument::fromJson(room.messages().back()).object();
    }
    ControlRoom room;
    RoomLink link{engine, engine, kFast};
    int marks = 0;
};

TEST_F(Link, StatusMessagesCarryTheWholeStateTypedAndLossesAreRetried) {
    EXPECT_EQ(room.lastPath(), "/tessaly");
    const QJsonObject s = nextStatus();
    EXPECT_EQ(s.size(), 15 + 4);  // the described members, and what the window adds
    EXPECT_EQ(s["timeLeft"].toDouble(), engine.remaining());
    EXPECT_TRUE(s["diskAnswering"] == true && s["failure"] == false && s["instance"] == "");
    // Types the comparisons below do not already pin down.
    for (const char* key : {"folder", "monLabel", "inputUID", "outputUID"})
        EXPECT_TRUE(s[key].isString()) << key;
    for (const char* key : {"elapsed", "monPeak", "mixPeak"}) EXPECT_TRUE(s[key].isDouble());
    EXPECT_TRUE(s["running"].isBool() && s["recording"].isBool());
    EXPECT_EQ(s["type"].toString() + "|" + s["device"].toString(), "status|Scarlett 4i4");
    EXPECT_EQ(s["rate"], 48000);
    EXPECT_EQ(s["status"], engine.status());
    EXPECT_EQ(s["inputs"].toArray().size(), 4);
    const QJsonObject second = s["inputs"].toArray()[1].toObject();
    EXPECT_EQ(second.keys(), (QStringList{"armed", "hw", "i", "name", "peak", "solo"}));
    EXPECT_TRUE(second["hw"] == "Input 2" && second["peak"].isDouble() && second["solo"].isBool());
    EXPECT_EQ(
        s["devices"].toObject()["outputs"].toArray()[1].toObject(),
        (QJsonObject{{"uid", "uid-2"}, {"name", "Headphone Amp"}, {"inputs", 0}, {"outputs", 2}}));
    // The values follow the engine; a remembered input that is not listed names no device.
    const QString hostile = QString::fromUtf8("Kick \"A\" \\ \n\t\x01 é 🎤");
    engine.setName(0, hostile);
    engine.selectInput("uid-9");
    const QJsonObject after = nextStatus();
    EXPECT_EQ(after["inputs"].toArray()[0].toObject()["name"].toString(), hostile);
    EXPECT_EQ(after["device"].toString() + "|" + after["inputUID"].toString(), "|uid-9");
    EXPECT_EQ(after["running"], false);
    // Each loss gives one new attempt after the retry interval, for as long as it takes; a peer
    // that stops answering is noticed; one that answers pings stays linked however quiet it is.
    runFor(kFast.silenceMs * 4 / 1000.0);  // many silences long, answering only pings
    EXPECT_TRUE(engine.linkConnected());
    room.closeClient();
    ASSERT_TRUE(waitFor([&] { return !engine.linkConnected(); }));
    ASSERT_TRUE(waitFor([&] { return room.connections() == 2 && engine.linkConnected(); }));
    runFor(kFast.retryMs * 5 / 1000.0);
    EXPECT_EQ(link.attempts(), 2);  // one loss, one reconnect
    room.freeze();                  // a half-open connection: the socket stays, nothing answers
    ASSERT_TRUE(waitFor([&] { return !engine.linkConnected(); }));
    room.thaw();
    ASSERT_TRUE(waitFor([&] { return engine.linkConnected(); }));
    Settings().setServer("not an address:80");  // idle: nothing to try
    RoomLink idle(engine, engine, kFast);
    idle.start();
    runFor(kFast.retryMs * 3 / 1000.0);
    EXPECT_EQ(idle.attempts(), 0);
}

TEST_F(Link, CommandsActOnTheEngineWithStrictTypes) {
    command(R"({"type":"set","i":0,"name":"Vox","solo":true})");
    command(R"({"type":"set","i":1,"armed":false})");
    EXPECT_FALSE(engine.channels()[1].armed);
    command(R"({"type":"set","i":0,"armed":0,"solo":"no","name":7})");  // wrong types: ignored
    EXPECT_TRUE(engine.channels()[0].solo && engine.channels()[0].armed);
    EXPECT_EQ(engine.channels()[0].name, "Vox");
    for (const char* bad :
         {R"({"type":"set","i":-1,"name":"x"})", R"({"type":"set","i":4,"name":"x"})",
          R"({"type":"set","i":"0","name":"x"})", "[1,2,3]", "42",
          "{\"type\":", R"({"i":0,"name":"x"})"})
        command(bad);
    room.send({R"({"type":"set","i":0,"name":"x"})"}, true);  // binary frames are not commands
    command(R"({"type":"hearMix"})");
    for (const Channel& c : engine.channels()) EXPECT_TRUE(c.name != "x" && !c.solo);
    command(R"({"type":"record","on":true,"folder":"../Session: A"})");  // one name, made safe
    EXPECT_EQ(engine.recordingFolder(), root.path() + "/..-Session. A/Recording 1 - 2.15 PM");
    command(R"({"type":"record","on":true})");         // already recording: nothing
    command(R"({"type":"device","output":"uid-2"})");  // ignored while recording
    command(R"({"type":"Record","on":false})");        // letter case matters
    EXPECT_EQ(engine.folderName() + "|" + engine.outputUID(), "Recording 1 - 2.15 PM|uid-1");
    EXPECT_TRUE(engine.recording());
    command(R"({"type":"record"})");
    EXPECT_FALSE(engine.recording());
    command(R"({"type":"tone"})");
    EXPECT_TRUE(toneHeard());
    command(R"({"type":"device","input":"","output":"uid-2"})");
    EXPECT_EQ(engine.inputUID() + " " + engine.outputUID(), "uid-1 uid-2");
    // A few thousand frames a Control Room should never send: a command cut at every byte, and with
    // troublesome bytes put in or over each of its own (bench_link soaks a hundred thousand frames
    // of more kinds); then, back to a known state, an ordinary command is still obeyed.
    const QByteArray set = R"({"type":"set","i":0,"name":"K","armed":true,"solo":false})";
    QList<QByteArray> frames;
    for (int at = 0; at < set.size(); ++at) {
        frames << set.left(at);
        for (char c : QByteArray("\"\\{}[]:,0t\x80\xff\0", 13))
            frames << QByteArray(set).replace(at, 1, &c, 1) << QByteArray(set).insert(at, c);
    }
    room.send(frames);
    room.send({R"({"type":"record","on":false})", R"({"type":"device","input":"uid-1"})"});
    command(R"({"type":"set","i":1,"name":"after the storm"})");
    EXPECT_TRUE(engine.channels().size() == 4 && room.connections() == 1);
    // A frame over 1 MiB is never buffered: the link drops it with the connection and comes back.
    room.send({R"({"type":"set","i":0,"name":")" + QByteArray(RoomLink::maxMessage, 'x') + "\"}"});
    ASSERT_TRUE(waitFor([&] { return room.connections() == 2 && engine.linkConnected(); }));
    command(R"({"type":"set","i":2,"name":"still obeys"})");
}

// A volume whose writes and syncs stop answering until released: the window's tick and the link go
// on through a roll, a stop and a quit that hang; what the ring cannot hold is counted as lost;
// every header's sizes are written before a sync is waited for; the quit gives up after its limit,
// naming the files and keeping their marker; released, every file ends exact.
TEST_F(Link, AVolumeThatStopsAnsweringHoldsNoOneButItsFiles) {
    static std::atomic<int> hung = 0, held = 0;  // 1: its syncs hang; 2: its writes too
    static const auto stall = [](int from) {
        for (held += hung >= from; hung >= from;) std::this_thread::sleep_for(1ms);
    };
    const FileCalls system = FileCalls::use();
    FileCalls::use().fdatasync =
        FileCalls::use().fsync = [](int fd) { return stall(1), ::fdatasync(fd); };
    FileCalls::use().write = [](int fd, const void* b, std::size_t n) {
        return stall(2), ::write(fd, b, n);
    };
    const auto restore = qScopeGuard([&] { hung = 0, FileCalls::use() = system; });
    static QStringList log;
    qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& l) { log << l; });
    engine.answerWithin(std::chrono::milliseconds(300));
    engine.stopEngine();
    engine.boot();  // its tick, every 0.05 s
    ASSERT_TRUE(waitFor([&] { return engine.running(); }));
    record();
    Feed feed = capture(4);
    feed.buffers(100);
    answered();
    auto live = [&](const char* stage) {  // the link's 50 messages a second, the tick's status
        const auto before = room.messages().size();
        runFor(0.5);
        EXPECT_NEAR(room.messages().size() - before, 25, 8) << stage;
        EXPECT_TRUE(nextStatus()["status"].toString().endsWith(" · the disk is not answering"))
            << stage;
    };
    hung = 2;
    clock.advance(3600), feed.buffers(1);  // the roll; audio, whose header rewrite hangs
    ASSERT_TRUE(waitFor([&] { return held > 0; }));
    feed.buffers(6 * 48000 / 256);  // more than the ring holds
    live("roll");
    EXPECT_GT(engine.droppedBlocks(), 0u);
    hung = 0;
    answered();  // the volume answers again: the ring written, the roll done
    EXPECT_TRUE(engine.status().contains("disk too slow: "));
    feed.buffers(100);
    answered();
    const QStringList second = takeFiles().filter("3.15.07 PM");
    ASSERT_EQ(second.size(), 5);
    hung = 1;
    engine.stopRecording();  // its close hangs in the first sync
    live("stop");
    for (const QString& name : second)
        EXPECT_TRUE(exactHeader(readBytes(inTake(name)))) << inTake(name);
    engine.stopEngine();
    log.clear();
    EXPECT_FALSE(engine.waitForFiles(std::chrono::milliseconds(200)));
    qInstallMessageHandler(nullptr);
    for (const QString& name : second)
        EXPECT_TRUE(log.join('\n').contains(name + " did not finish"));
    EXPECT_EQ(QDir(OpenTakeMark::folder()).entryList({"*.take"}).size(), 1);
    hung = 0;
    EXPECT_TRUE(engine.waitForFiles());
    EXPECT_EQ(expectExactHeaders(engine.recordingFolder().toStdString()), 10);
    EXPECT_TRUE(QDir(OpenTakeMark::folder()).entryList({"*.take"}).isEmpty());
}
