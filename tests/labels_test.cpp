#include <QJsonDocument>
#include <QJsonObject>

#include "channels/Labels.h"
#include "support/RecordingFixture.h"

namespace {

QStringList inputNames(int n) {
    QStringList names;
    for (int i = 1; i <= n; ++i) names << QString("In %1").arg(i);
    return names;
}

}  // namespace

using Labelled = RecordingTest;

TEST_F(Labelled, NamesAndArmedFlagsComeBackPerInterface) {
    open(inputNames(12), "scarlett-A");
    for (const Channel& ch : engine.channels()) {
        EXPECT_EQ(ch.armed, ch.id < 8);
        EXPECT_EQ(ch.name, ch.hwName);
    }
    engine.setArmed(9, true);
    engine.setName(0, "Kick");
    engine.setName(1, "");

    // The stored document: one compact object keyed by channel id.
    const QByteArray stored = Settings().labels("scarlett-A");
    EXPECT_TRUE(stored.startsWith("{\"") && !stored.contains('\n'));  // compact
    const QJsonObject doc = QJsonDocument::fromJson(stored).object();
    EXPECT_EQ(doc.size(), 12);
    EXPECT_EQ(doc["0"].toObject(), (QJsonObject{{"name", "Kick"}, {"armed", true}}));
    EXPECT_EQ(doc["1"].toObject(), (QJsonObject{{"name", ""}, {"armed", true}}));
    EXPECT_EQ(doc["9"].toObject(), (QJsonObject{{"name", "In 10"}, {"armed", true}}));

    // Another run of the program on the same interface, then on others.
    RoomEngine restarted(clock);
    auto startOn = [&](const QString& uid, int inputs) {
        audio->list = {{1, "Test Interface", uid, inputs, 2}};
        restarted.refreshDevices();
        restarted.startEngine();
    };
    startOn("scarlett-A", 12);
    EXPECT_EQ(restarted.channels()[0].name, "Kick");
    EXPECT_EQ(restarted.channels()[1].name, "");
    EXPECT_EQ(restarted.channels()[1].displayName(), "In 2");
    EXPECT_TRUE(restarted.channels()[9].armed);
    EXPECT_FALSE(restarted.channels()[10].armed);
    // Another interface does not inherit them; labels of inputs it lacks are ignored.
    startOn("scarlett-B", 2);
    EXPECT_EQ(restarted.channels()[0].name, "In 1");
    Settings().setLabels("small", encodeLabels({{0, {"A", false}}, {5, {"Gone", true}}}));
    startOn("small", 2);
    EXPECT_EQ(restarted.channels().size(), 2);
    EXPECT_FALSE(restarted.channels()[0].armed);
    EXPECT_TRUE(restarted.channels()[1].armed);
}

TEST(LabelsDocument, OnlyTheExactShapeDecodes) {
    const Labels two{{0, {"Kick", true}}, {1, {"", false}}};
    EXPECT_EQ(decodeLabels(encodeLabels(two)), two);
    EXPECT_EQ(decodeLabels(R"({"3":{"name":"x","armed":false,"colour":"red"}})"),
              (Labels{{3, {"x", false}}}));
    for (const char* bad : {
             R"({"0":{"name":"Kick"}})",                    // no "armed"
             R"({"0":{"armed":true}})",                     // no "name"
             R"({"0":{"name":"Kick","armed":1}})",          // not a boolean
             R"({"0":{"name":null,"armed":true}})",         // not a string
             R"({"zero":{"name":"Kick","armed":true}})",    // not a channel number
             R"({"0":{"name":"a","armed":true},"1":"b"})",  // one bad entry spoils all
             R"([{"name":"Kick","armed":true}])",
             "",
             "{",
             "42",
         }) {
        EXPECT_FALSE(decodeLabels(bad).has_value()) << bad;
    }
}

TEST_F(Labelled, ABadDocumentGivesTheDefaults) {
    Settings().setLabels("dev", R"({"0":{"name":"Kick"},"1":{"name":"Sn","armed":false}})");
    open(inputNames(2));
    EXPECT_EQ(engine.channels()[0].name, "In 1");
    EXPECT_TRUE(engine.channels()[1].armed);
}

TEST_F(Labelled, ArmingIsFrozenDuringATakeWhileNamesAndSoloAreNot) {
    open({"In 1", "In 2", "Vox hw", "In 4", "In 5", "Gtr hw"});
    engine.setName(2, "Vox");
    engine.setName(5, "Gtr");
    engine.record();
    const QByteArray before = Settings().labels("dev");
    engine.setArmed(0, false);
    EXPECT_TRUE(engine.channels()[0].armed);
    EXPECT_EQ(Settings().labels("dev"), before);
    // The audio thread's copy did not change either: input 1 still reaches the file.
    Feed feed = capture(6);
    feed.buffers(10);
    engine.setName(1, "Snare");
    EXPECT_EQ(engine.channels()[1].name, "Snare");

    engine.setSolo(2, true);
    engine.setSolo(5, true);
    engine.tick();
    EXPECT_EQ(engine.monLabel(), "Vox + Gtr");
    engine.setName(2, "");
    engine.tick();
    EXPECT_EQ(engine.monLabel(), "Vox hw + Gtr");
    engine.clearSolo();
    engine.tick();
    EXPECT_EQ(engine.monLabel(), "Mix");
    engine.stopRecording();
    const SndRead in1 = readWithSndfile(inTake("In 1 - Dec 5 - 2.15.07 PM.wav"));
    EXPECT_EQ(in1.info.frames, feed.frames());

    // Solo reaches the headphones: only input 6 is heard.
    engine.setSolo(5, true);
    feed.buffers(1, 4);
    const std::vector<float> heard = headphones(4);
    for (int f = 0; f < 4; ++f) EXPECT_EQ(heard[f], Feed::sample(5, feed.frames() - 4 + f));
}
