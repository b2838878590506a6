#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "link/RoomLink.h"
#include "support/ControlRoom.h"
#include "support/FakeAudio.h"
#include "support/HostileFrames.h"
#include "support/RecordingFixture.h"

namespace {

// The link's rhythm sped up: status, retry, ping, silence, watch (ms).
const LinkTiming kFast{20, 100, 100, 500, 20};

// An engine on a fed interface, and its link to a Control Room on loopback.
class Link : public RecordingTest {
protected:
    void SetUp() override {
        RecordingTest::SetUp();
        audio->list = {{1, "Scarlett 4i4", "uid-1", 4, 4}, {2, "Headphone Amp", "uid-2", 0, 2}};
        engine.refreshDevices();
        engine.startEngine();
    }
    void startLink(const QString& server) {
        Settings().setServer(server);
        link = std::make_unique<RoomLink>(engine, engine, kFast);
        link->start();
    }
    // Sends a command and waits until it, and everything sent before it, took effect.
    void command(const QByteArray& json) {
        room.send(json);
        const QString marker = QString("mark %1").arg(++marks);
        room.send(QString(R"({"type":"set","i":3,"name":"%1"})").arg(marker).toUtf8());
        ASSERT_TRUE(waitFor([&] { return engine.channels()[3].name == marker; }))
            << json.toStdString();
    }
    void wait(double seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < end) waitFor([] { return false; }, 1);
    }
    ControlRoom room;
    std::unique_ptr<RoomLink> link;
    int marks = 0;
};

QJsonObject lastStatus(ControlRoom& room) {
    const auto all = room.messages();
    return all.isEmpty() ? QJsonObject() : QJsonDocument::fromJson(all.back()).object();
}

}  // namespace

TEST_F(Link, StatusMessagesWithEveryMemberTyped) {
    EXPECT_EQ(Settings().server(), "127.0.0.1:4777");
    startLink(room.address());
    ASSERT_TRUE(waitFor([&] { return engine.linkConnected(); }));
    EXPECT_EQ(room.lastPath(), "/tessaly");
    room.clearMessages();
    ASSERT_TRUE(waitFor([&] { return room.messages().size() >= 3; }));  // they keep coming

    const QJsonObject s = lastStatus(room);
    EXPECT_EQ(s.size(), 15);
    const std::map<QString, QJsonValue::Type> types = {
        {"type", QJsonValue::String},     {"running", QJsonValue::Bool},
        {"device", QJsonValue::String},   {"rate", QJsonValue::Double},
        {"recording", QJsonValue::Bool},  {"folder", QJsonValue::String},
        {"elapsed", QJsonValue::Double},  {"inputs", QJsonValue::Array},
        {"monLabel", QJsonValue::String}, {"monPeak", QJsonValue::Double},
        {"mixPeak", QJsonValue::Double},  {"devices", QJsonValue::Object},
        {"inputUID", QJsonValue::String}, {"outputUID", QJsonValue::String},
        {"status", QJsonValue::String}};
    for (const auto& [key, type] : types) EXPECT_EQ(s.value(key).type(), type) << key.toStdString();
    EXPECT_EQ(s["type"], "status");
    EXPECT_EQ(s["device"], "Scarlett 4i4");
    EXPECT_EQ(s["rate"], 48000);
    EXPECT_EQ(s["running"], true);
    EXPECT_EQ(s["status"], engine.status());
    const QJsonArray inputs = s["inputs"].toArray();
    ASSERT_EQ(inputs.size(), 4);
    const QJsonObject ch = inputs[1].toObject();
    EXPECT_EQ(ch.size(), 6);
    EXPECT_EQ(ch["i"], 1);
    EXPECT_EQ(ch["hw"], "Input 2");
    EXPECT_EQ(ch["name"], "Input 2");
    EXPECT_TRUE(ch["armed"].isBool() && ch["solo"].isBool() && ch["peak"].isDouble());
    const QJsonArray outs = s["devices"].toObject()["outputs"].toArray();
    ASSERT_EQ(outs.size(), 2);
    EXPECT_EQ(
        outs[1].toObject(),
        (QJsonObject{{"uid", "uid-2"}, {"name", "Headphone Amp"}, {"inputs", 0}, {"outputs", 2}}));

    // The values follow the engine, and a remembered input that is not listed names no device.
    const QString hostile = QString::fromUtf8("Kick \"A\" \\ \n\t\x01 é 🎤");
    engine.setName(0, hostile);
    engine.selectInput("uid-9");
    room.clearMessages();
    ASSERT_TRUE(waitFor([&] { return room.messages().size() >= 2; }));
    EXPECT_EQ(lastStatus(room)["inputs"].toArray().size(),
              4);  // the channel list stays after a failed start
    EXPECT_EQ(lastStatus(room)["device"], "");
    EXPECT_EQ(lastStatus(room)["inputUID"], "uid-9");
    EXPECT_EQ(lastStatus(room)["inputs"].toArray()[0].toObject()["name"].toString(), hostile);
    EXPECT_EQ(lastStatus(room)["running"], false);
}

TEST_F(Link, CommandsActOnTheEngine) {
    startLink(room.address());
    ASSERT_TRUE(waitFor([&] { return engine.linkConnected(); }));
    command(R"({"type":"set","i":0,"name":"Vox","solo":true})");
    EXPECT_EQ(engine.channels()[0].name, "Vox");
    EXPECT_TRUE(engine.channels()[0].solo);
    EXPECT_TRUE(engine.channels()[0].armed);  // untouched
    command(R"({"type":"set","i":1,"armed":false,"solo":"yes"})");
    EXPECT_FALSE(engine.channels()[1].armed);
    EXPECT_FALSE(engine.channels()[1].solo);  // a string is not a boolean
    command(R"({"type":"set","i":-1,"name":"x"})");
    command(R"({"type":"set","i":4,"name":"x"})");
    command(R"({"type":"set","i":"0","name":"x"})");
    for (const Channel& c : engine.channels()) EXPECT_NE(c.name, "x");
    command(R"({"type":"hearMix"})");
    EXPECT_FALSE(engine.channels()[0].solo);

    command(R"({"type":"record","on":true,"folder":"Session A"})");
    ASSERT_TRUE(engine.recording());
    EXPECT_EQ(engine.recordingFolder(), root.path() + "/Session A/Recording 1 - 2.15 PM");
    command(R"({"type":"record","on":true})");  // already recording: nothing
    EXPECT_EQ(engine.folderName(), "Recording 1 - 2.15 PM");
    command(R"({"type":"device","output":"uid-2"})");  // ignored while recording
    EXPECT_EQ(engine.outputUID(), "uid-1");
    command(R"({"type":"Record","on":false})");  // letter case matters
    EXPECT_TRUE(engine.recording());
    command(R"({"type":"record"})");
    EXPECT_FALSE(engine.recording());
    EXPECT_TRUE(engine.status().startsWith("Saved to "));

    command(R"({"type":"TONE"})");
    EXPECT_FALSE(toneHeard());
    command(R"({"type":"tone"})");
    EXPECT_TRUE(toneHeard());
    command(R"({"type":"device","input":"","output":"uid-2"})");
    EXPECT_EQ(engine.inputUID(), "uid-1");
    EXPECT_EQ(engine.outputUID(), "uid-2");
}

TEST_F(Link, MalformedHostileAndOversizedFramesAreDropped) {
    startLink(room.address());
    ASSERT_TRUE(waitFor([&] { return engine.linkConnected(); }));
    command("[1,2,3]");
    command("42");
    command("{\"type\":");
    command(R"({"i":0,"name":"no type"})");
    room.sendBinary(R"({"type":"set","i":0,"name":"binary"})");
    command(R"({"type":"set","i":2,"name":"after"})");
    EXPECT_EQ(engine.channels()[2].name, "after");
    EXPECT_NE(engine.channels()[0].name, "binary");

    // A few thousand hostile frames (bench_link soaks a hundred thousand);
    // back to a known state, then an ordinary command must still be obeyed.
    room.sendAll(hostileFrames(3000));
    room.send(R"({"type":"record","on":false})");
    room.send(R"({"type":"device","input":"uid-1"})");
    command(R"({"type":"set","i":1,"name":"after the storm"})");
    EXPECT_EQ(engine.channels().size(), 4);
    EXPECT_EQ(room.connections(), 1);

    // A frame over 1 MiB is never buffered: the link drops it with the connection and comes back.
    room.send(R"({"type":"set","i":0,"name":")" + QByteArray(RoomLink::maxMessage, 'x') + R"("})");
    ASSERT_TRUE(waitFor([&] { return room.connections() == 2 && engine.linkConnected(); }));
    EXPECT_NE(engine.channels()[0].name.size(), RoomLink::maxMessage);
    command(R"({"type":"set","i":2,"name":"still obeys"})");
}

// Each loss gives one new attempt after the retry interval, for as long as
// it takes; a peer that stops answering is noticed; one that answers pings
// stays linked however quiet it is.
TEST_F(Link, LossesSilenceAndRetries) {
    startLink(room.address());
    ASSERT_TRUE(waitFor([&] { return engine.linkConnected(); }));
    wait(kFast.silenceMs * 4 / 1000.0);  // many silences long, answering only pings
    EXPECT_TRUE(engine.linkConnected());
    EXPECT_EQ(room.connections(), 1);

    room.closeClient();
    ASSERT_TRUE(waitFor([&] { return !engine.linkConnected(); }));
    ASSERT_TRUE(waitFor([&] { return room.connections() == 2 && engine.linkConnected(); }));
    wait(kFast.retryMs * 5 / 1000.0);
    EXPECT_EQ(room.connections(), 2);  // one loss, one reconnect
    EXPECT_EQ(link->attempts(), 2);

    room.freeze();  // a half-open connection: the socket stays, nothing answers
    ASSERT_TRUE(waitFor([&] { return !engine.linkConnected(); }));
    room.thaw();
    ASSERT_TRUE(waitFor([&] { return engine.linkConnected(); }));

    quint16 closed = 0;
    {
        ControlRoom gone;  // a port that nobody listens on any more
        closed = gone.port();
    }
    Settings().setServer(QString("127.0.0.1:%1").arg(closed));
    RoomLink lonely(engine, engine, kFast);
    lonely.start();
    ASSERT_TRUE(waitFor([&] { return lonely.attempts() >= 3; }));
    EXPECT_FALSE(lonely.connected());

    // A setting that is no address leaves the link idle.
    Settings().setServer("not an address:80");
    RoomLink idle(engine, engine, kFast);
    idle.start();
    wait(kFast.retryMs * 3 / 1000.0);
    EXPECT_EQ(idle.attempts(), 0);
}
