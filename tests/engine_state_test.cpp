#include <gtest/gtest.h>

#include <QDir>
#include <QSettings>
#include <cmath>

#include "engine/RoomEngine.h"
#include "support/EngineProbe.h"

namespace {

QSettings store() {
    return QSettings(QStringLiteral("Tessaly"), QStringLiteral("Tessaly"));
}

class EngineState : public testing::Test {
protected:
    void SetUp() override { store().clear(); }
    void TearDown() override { store().clear(); }
};

}  // namespace

TEST_F(EngineState, EmptyStoreGivesTheInitialState) {
    RoomEngine engine;
    EXPECT_TRUE(engine.inputs().isEmpty());
    EXPECT_TRUE(engine.outputs().isEmpty());
    EXPECT_EQ(engine.inputUID(), "");
    EXPECT_EQ(engine.outputUID(), "");
    EXPECT_TRUE(engine.channels().isEmpty());
    EXPECT_EQ(engine.monLabel(), "Mix");
    EXPECT_FALSE(engine.running());
    EXPECT_FALSE(engine.recording());
    EXPECT_EQ(engine.status(), "");
    EXPECT_EQ(engine.folderName(), "");
    EXPECT_EQ(engine.rootPath(), QDir::homePath() + "/Desktop/Tessaly");
    EXPECT_FALSE(engine.linkConnected());
    EXPECT_FALSE(engine.showAll());
    EXPECT_EQ(engine.hwRate(), 48000);
    EXPECT_EQ(engine.droppedBlocks(), 0u);
    // The store is read, never written, by a new engine.
    EXPECT_TRUE(store().allKeys().isEmpty());
}

TEST_F(EngineState, StoredChoicesComeBackAndSettersStoreThem) {
    {
        QSettings s = store();
        s.setValue("inputUID", "scarlett-in");
        s.setValue("outputUID", "scarlett-out");
        s.setValue("rootPath", "/srv/takes");
        s.setValue("showAll", true);
    }
    RoomEngine engine;
    EXPECT_EQ(engine.inputUID(), "scarlett-in");
    EXPECT_EQ(engine.outputUID(), "scarlett-out");
    EXPECT_EQ(engine.rootPath(), "/srv/takes");
    EXPECT_TRUE(engine.showAll());

    engine.setRoot("/home/sam/Sessions");
    engine.setShowAll(false);
    RoomEngine reopened;
    EXPECT_EQ(reopened.rootPath(), "/home/sam/Sessions");
    EXPECT_FALSE(reopened.showAll());
    EXPECT_EQ(store().value("showAll").typeId(), QMetaType::Bool);
}

TEST_F(EngineState, EveryAssignmentAnnouncesAChangeEvenWithTheSameValue) {
    RoomEngine engine;
    int changes = 0;
    QObject::connect(&engine, &RoomEngine::changed, [&] { ++changes; });
    engine.setLinkConnected(false);
    engine.setLinkConnected(false);
    engine.setShowAll(engine.showAll());
    engine.setRoot(engine.rootPath());
    EXPECT_EQ(changes, 4);
    RoomEngineProbe::start(engine, 3, 48000);
    EXPECT_EQ(changes, 5);  // one published channel list
    EXPECT_EQ(engine.channels().size(), 3);
}

TEST_F(EngineState, ToneLengthIsTruncatedNotRounded) {
    RoomEngine engine;
    engine.testTone();
    EXPECT_EQ(RoomEngineProbe::toneLeft(engine), 33600);
    RoomEngineProbe::start(engine, 2, 44100);
    engine.testTone();
    // 44100 × 0.7 falls just short of 30870 in binary floating point.
    EXPECT_EQ(RoomEngineProbe::toneLeft(engine), 30869);
    engine.testTone(0.001);
    EXPECT_EQ(RoomEngineProbe::toneLeft(engine), 44);  // a new tone restarts the count
    for (double bad : {-1.0, 0.0, std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        engine.testTone(bad);
        EXPECT_EQ(RoomEngineProbe::toneLeft(engine), 0) << bad;
    }
}
