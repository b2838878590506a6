#include <QJsonDocument>
#include <QJsonObject>

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
