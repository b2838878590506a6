#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <random>

#include "link/RoomLink.h"
#include "support/ControlRoom.h"
#include "support/FakeAudio.h"
#include "support/RecordingFixture.h"

namespace {

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
        link = std::make_unique<RoomLink>(engine, engine);
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

TEST_F(Link, StatusFiveTimesASecondWithEveryMemberTyped) {
    EXPECT_EQ(Settings().server(), "127.0.0.1:4777");
    startLink(room.address());
    ASSERT_TRUE(waitFor([&] { return engine.linkConnected(); }));
    EXPECT_EQ(room.lastPath(), "/tessaly");
    room.clearMessages();
    wait(2.0);
    const int count = static_cast<int>(room.messages().size());
    EXPECT_GE(count, 7);  // about five a second, with room for a loaded machine
    EXPECT_LE(count, 11);

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
    wait(0.5);
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

TEST_F(Link, MalformedFramesAreDroppedAndTheLinkGoesOn) {
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
    EXPECT_EQ(room.connections(), 1);

    // A frame over 1 MiB is never buffered: the link drops it with the connection and comes back.
    room.send(R"({"type":"set","i":0,"name":")" + QByteArray(RoomLink::maxMessage, 'x') + R"("})");
    ASSERT_TRUE(waitFor([&] { return room.connections() == 2 && engine.linkConnected(); }));
    EXPECT_EQ(engine.channels()[0].name, "Input 1");
    command(R"({"type":"set","i":2,"name":"still obeys"})");
}

TEST_F(Link, APeerThatClosesGetsExactlyOneReconnect) {
    startLink(room.address());
    ASSERT_TRUE(waitFor([&] { return engine.linkConnected(); }));
    room.closeClient();
    ASSERT_TRUE(waitFor([&] { return !engine.linkConnected(); }));
    const auto lostAt = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitFor([&] { return room.connections() == 2; }));
    const double after =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - lostAt).count();
    EXPECT_NEAR(after, 2.0, 0.5);
    wait(3.0);
    EXPECT_EQ(room.connections(), 2);
    EXPECT_EQ(link->attempts(), 2);
    EXPECT_TRUE(engine.linkConnected());
}

TEST_F(Link, NoPeerMeansAnAttemptEveryTwoSeconds) {
    quint16 closed = 0;
    {
        ControlRoom gone;  // a port that nobody listens on any more
        closed = gone.port();
    }
    startLink(QString("127.0.0.1:%1").arg(closed));
    wait(5.2);
    EXPECT_EQ(link->attempts(), 3);  // at 0, 2 and 4 s
    EXPECT_FALSE(engine.linkConnected());
    EXPECT_FALSE(link->connected());

    // A setting that is no address leaves the link idle.
    RoomLink idle(engine, engine);
    Settings().setServer("not an address:80");
    idle.start();
    wait(2.5);
    EXPECT_EQ(idle.attempts(), 0);
}

TEST_F(Link, APeerThatStopsAnsweringIsNoticed) {
    startLink(room.address());
    ASSERT_TRUE(waitFor([&] { return engine.linkConnected(); }));
    room.freeze();  // a half-open connection: the socket stays, nothing answers
    const auto frozenAt = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitFor([&] { return !engine.linkConnected(); }, 2500));
    const double after =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - frozenAt).count();
    EXPECT_LE(after, 20.0);
    EXPECT_GE(after, 14.0);
    room.thaw();
    ASSERT_TRUE(waitFor([&] { return engine.linkConnected(); }));
}

TEST_F(Link, SurvivesAHundredThousandHostileFrames) {
    startLink(room.address());
    ASSERT_TRUE(waitFor([&] { return engine.linkConnected(); }));
    const QList<QByteArray> seeds = {
        R"({"type":"set","i":0,"name":"Kick","armed":true,"solo":false})",
        R"({"type":"record","on":true,"folder":"Fuzz"})",
        R"({"type":"record","on":false})",
        R"({"type":"tone"})",
        R"({"type":"hearMix"})",
        R"({"type":"device","input":"uid-1","output":"uid-2"})",
    };
    std::mt19937 rng(20261206);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    QList<QByteArray> frames;
    for (int n = 0; n < 100'000; ++n) {
        QByteArray f;
        switch (pick(3)) {
            case 0:  // a valid command with a few bytes changed, added or removed
                f = seeds[pick(static_cast<int>(seeds.size()))];
                for (int k = 1 + pick(4); k > 0; --k) {
                    const int at = pick(static_cast<int>(f.size()) + 1);
                    const char c = static_cast<char>(pick(256));
                    switch (pick(3)) {
                        case 0:
                            if (at < f.size()) f[at] = c;
                            break;
                        case 1:
                            f.insert(at, c);
                            break;
                        default:
                            f.remove(at, 1);
                    }
                }
                break;
            case 1:  // noise
                for (int k = pick(64); k > 0; --k) f.append(static_cast<char>(pick(256)));
                break;
            default: {  // well-formed JSON with members of every type
                const QJsonValue values[] = {QJsonValue(pick(9) - 2),   QJsonValue(true),
                                             QJsonValue("x"),           QJsonValue(QJsonArray{1}),
                                             QJsonValue(QJsonObject{}), QJsonValue(1e300),
                                             QJsonValue(-0.5),          QJsonValue()};
                const char* keys[] = {"type", "i",      "name",  "armed", "solo",
                                      "on",   "folder", "input", "output"};
                const char* types[] = {"set", "record", "tone", "hearMix", "device", "SET", ""};
                QJsonObject o{{"type", types[pick(7)]}};
                for (int k = pick(5); k > 0; --k) o[keys[pick(9)]] = values[pick(8)];
                f = QJsonDocument(o).toJson(QJsonDocument::Compact);
            }
        }
        frames.append(f);
    }
    room.sendAll(frames);
    // Back to a known state, then an ordinary command must still be obeyed.
    room.send(R"({"type":"record","on":false})");
    room.send(R"({"type":"device","input":"uid-1"})");
    room.send(R"({"type":"set","i":1,"name":"after the storm"})");
    ASSERT_TRUE(waitFor(
        [&] {
            return engine.channels().size() == 4 && engine.channels()[1].name == "after the storm";
        },
        6000));
    EXPECT_TRUE(engine.linkConnected());
}
