#include <QJsonDocument>
#include <QJsonObject>

#include "channels/Labels.h"
#include "support/RecordingFixture.h"

using Labelled = RecordingTest;

TEST_F(Labelled, NamesAndArmedFlagsComeBackPerInterface) {
    QStringList twelve;
    for (int i = 1; i <= 12; ++i) twelve << QString("In %1").arg(i);
    open(twelve, "scarlett-A");
    engine.setArmed(9, true);
    engine.setName(0, "Kick");
    engine.setName(1, "");
    // The stored document: one compact object keyed by channel id.
    const QByteArray stored = Settings().labels("scarlett-A");
    EXPECT_FALSE(stored.contains('\n'));
    const QJsonObject doc = QJsonDocument::fromJson(stored).object();
    EXPECT_EQ(doc.size(), 12);
    EXPECT_EQ(doc["1"].toObject(), (QJsonObject{{"name", ""}, {"armed", true}}));
    EXPECT_EQ(doc["9"].toObject(), (QJsonObject{{"name", "In 10"}, {"armed", true}}));
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
    Settings().setLabels("small", encodeLabels({{0, {"A", false}}, {5, {"Gone", true}}}));
    ch = startOn("small", 2);  // labels of inputs it lacks are ignored
    EXPECT_TRUE(ch.size() == 2 && !ch[0].armed && ch[1].armed);
    Settings().setLabels("bad", R"({"0":{"name":"Kick"},"1":{"name":"Sn","armed":false}})");
    ch = startOn("bad", 2);  // a document that does not decode: the defaults
    EXPECT_TRUE(ch[0].name == "In 1" && ch[1].armed);
}

TEST(LabelsDocument, OnlyTheExactShapeDecodes) {
    const Labels two{{0, {"Kick", true}}, {1, {"", false}}};
    EXPECT_EQ(decodeLabels(encodeLabels(two)), two);
    EXPECT_EQ(decodeLabels(R"({"3":{"name":"x","armed":false,"colour":"red"}})"),
              (Labels{{3, {"x", false}}}));
    for (const char* bad :
         {R"({"0":{"name":"Kick"}})", R"({"0":{"armed":true}})", R"({"0":{"name":"K","armed":1}})",
          R"({"0":{"name":null,"armed":true}})", R"({"zero":{"name":"K","armed":true}})",
          R"({"0":{"name":"a","armed":true},"1":"b"})", R"([{"name":"K","armed":true}])", "", "{"})
        EXPECT_FALSE(decodeLabels(bad).has_value()) << bad;
}
