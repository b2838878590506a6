#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "hardware/demo/DemoSystem.h"
#include "support/FakeAudio.h"
#include "support/RecordingFixture.h"
#include "ui/ChannelRow.h"
#include "ui/Meter.h"
#include "ui/RootView.h"
#include "ui/ToggleSwitch.h"

namespace {

// The window on a fed interface of `inputs` channels.
class Window : public RecordingTest {
protected:
    void open(int inputs) {
        audio->list = {{1, "Scarlett 18i20", "uid-1", inputs, 20}, {2, "Speakers", "uid-2", 0, 2}};
        view = std::make_unique<RootView>(engine, engine);
        view->resize(1000, 600);
        view->show();
        engine.refreshDevices();
        engine.startEngine();
        settle();
    }
    void settle() { QCoreApplication::processEvents(); }
    void TearDown() override {
        view.reset();
        RecordingTest::TearDown();
    }
    std::unique_ptr<RootView> view;
};

void saveShot(QWidget& w, const QString& name) {
    QDir().mkpath(TESSALY_SCREENSHOTS);
    EXPECT_TRUE(w.grab().save(QString(TESSALY_SCREENSHOTS) + "/" + name));
}

}  // namespace

TEST(MeterScale, FractionsAndStrictColours) {
    EXPECT_EQ(Meter::fraction(0.0f), 0.0);
    EXPECT_NEAR(Meter::fraction(0.001f), 0.0, 1e-6);
    EXPECT_NEAR(Meter::fraction(0.1f), (20 * std::log10(0.1) + 60) / 60, 1e-6);
    EXPECT_NEAR(Meter::fraction(0.5f), 0.90, 0.005);
    EXPECT_NEAR(Meter::fraction(0.9f), 0.985, 0.001);
    EXPECT_EQ(Meter::fraction(1.0f), 1.0);
    EXPECT_EQ(Meter::fraction(2.0f), 1.0);
    EXPECT_EQ(Meter::colour(Meter::fraction(0.1f)), QColor(Qt::green));
    EXPECT_EQ(Meter::colour(Meter::fraction(0.5f)), QColor(Qt::yellow));
    EXPECT_EQ(Meter::colour(Meter::fraction(0.9f)), QColor(Qt::red));
    EXPECT_EQ(Meter::colour(0.8), QColor(Qt::green));
    EXPECT_EQ(Meter::colour(0.97), QColor(Qt::yellow));

    // Drawn: the bar ends where the fraction says; the height never changes.
    Meter meter;
    meter.resize(400, 30);
    EXPECT_EQ(meter.height(), Meter::barHeight);
    meter.setPeak(0.5f);
    const QImage shot = meter.grab().toImage();
    EXPECT_EQ(shot.pixelColor(300, 7), QColor(Qt::yellow));  // 0.75 of the width: inside the bar
    EXPECT_NE(shot.pixelColor(380, 7), QColor(Qt::yellow));  // 0.95: the track
}

TEST_F(Window, RowsAndTheRulesOfATake) {
    open(18);
    EXPECT_EQ(view->rows().size(), 8u);
    EXPECT_EQ(view->inputPicker()->currentText(), "Scarlett 18i20 (18 in)");
    EXPECT_EQ(view->outputPicker()->count(), 2);
    QTest::mouseClick(view->showAllBox(), Qt::LeftButton);
    settle();
    EXPECT_TRUE(engine.showAll());
    EXPECT_EQ(view->rows().size(), 18u);
    saveShot(*view, "all-18-inputs.png");
    EXPECT_EQ(view->elapsedLabel()->text(), "00:00:00");
    EXPECT_TRUE(view->recordButton()->isEnabled());
    EXPECT_FALSE(view->hearMixButton()->isEnabled());

    QTest::mouseClick(view->recordButton(), Qt::LeftButton);
    settle();
    ASSERT_TRUE(engine.recording());
    EXPECT_EQ(view->recordButton()->text(), "STOP");
    EXPECT_TRUE(view->folderLabel()->isVisible());
    EXPECT_EQ(view->folderLabel()->text(), "Recording 1 - 2.15 PM");
    for (QWidget* w :
         std::initializer_list<QWidget*>{view->inputPicker(), view->outputPicker(),
                                         view->folderButton(), view->refreshButton()}) {
        EXPECT_FALSE(w->isEnabled());
    }
    ChannelRow* first = view->rows()[0];
    EXPECT_FALSE(first->armedSwitch()->isEnabled());
    QTest::mouseClick(first->armedSwitch(), Qt::LeftButton);
    EXPECT_TRUE(engine.channels()[0].armed);
    EXPECT_TRUE(first->nameField()->isEnabled());
    EXPECT_TRUE(view->showAllBox()->isEnabled());
    EXPECT_EQ(first->opacity(), 1.0);
    EXPECT_EQ(view->rows()[10]->opacity(), 0.55);  // not armed

    // Solo toggles; "Hear mix" ends it; the tone plays.
    QTest::mouseClick(view->rows()[2]->soloButton(), Qt::LeftButton);
    settle();
    EXPECT_TRUE(engine.channels()[2].solo);
    EXPECT_TRUE(view->rows()[2]->soloButton()->isChecked());
    EXPECT_TRUE(view->hearMixButton()->isEnabled());
    saveShot(*view, "recording-one-solo.png");
    QTest::mouseClick(view->rows()[2]->soloButton(), Qt::LeftButton);
    EXPECT_FALSE(engine.channels()[2].solo);
    engine.setSolo(5, true);
    settle();
    QTest::mouseClick(view->hearMixButton(), Qt::LeftButton);
    EXPECT_FALSE(engine.channels()[5].solo);
    QTest::mouseClick(view->toneButton(), Qt::LeftButton);
    EXPECT_TRUE(toneHeard());
    EXPECT_EQ(view->toneButton()->toolTip(), "Plays a short beep to the headphones");
    // No label hides a letter or an ampersand behind a keyboard mnemonic.
    for (const QAbstractButton* b : view->findChildren<QAbstractButton*>()) {
        EXPECT_TRUE(QKeySequence::mnemonic(b->text()).isEmpty()) << b->text().toStdString();
        EXPECT_EQ(shownText(b->text()), b->text());
    }

    clock.advance(3725.9);
    engine.tick();
    settle();
    EXPECT_EQ(view->elapsedLabel()->text(), "01:02:05");
    QTest::mouseClick(view->recordButton(), Qt::LeftButton);
    settle();
    EXPECT_FALSE(engine.recording());
    EXPECT_EQ(view->recordButton()->text(), "RECORD");
    EXPECT_EQ(view->elapsedLabel()->text(), "00:00:00");
    EXPECT_FALSE(view->folderLabel()->isVisible());
}

TEST_F(Window, TypingIsNeverInterrupted) {
    open(4);
    QLineEdit* field = view->rows()[0]->nameField();
    field->setFocus();
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QStringList seen;
    QObject listening;  // ends the connection with the test
    QObject::connect(&engine, &RoomEngine::changed, &listening, [&] {
        if (seen.isEmpty() || seen.back() != engine.channels()[0].name)
            seen << engine.channels()[0].name;
    });
    QTest::keyClicks(field, "Kick");
    EXPECT_EQ(seen, (QStringList{"K", "Ki", "Kic", "Kick"}));
    field->setCursorPosition(2);
    engine.setName(0, "From the Control Room");  // arrives while the user types
    engine.tick();
    settle();
    EXPECT_EQ(field->text(), "Kick");
    EXPECT_EQ(field->cursorPosition(), 2);
    field->clearFocus();
    settle();
    view->refresh();
    EXPECT_EQ(field->text(), "From the Control Room");

    // A row past the end of the list shows nothing and does not fail.
    ChannelRow ghost(engine, engine, 50);
    ghost.refresh();
    EXPECT_FALSE(ghost.nameField()->isVisibleTo(&ghost));

    // The folder chooser: a cancel changes nothing.
    const QString before = engine.rootPath();
    view->chooseFolder = [](const QString&) { return QString(); };
    QTest::mouseClick(view->folderButton(), Qt::LeftButton);
    EXPECT_EQ(engine.rootPath(), before);
    view->chooseFolder = [](const QString&) { return QStringLiteral("/srv/sessions"); };
    QTest::mouseClick(view->folderButton(), Qt::LeftButton);
    EXPECT_EQ(engine.rootPath(), "/srv/sessions");
}

// The line is red when the engine reports a failure, whatever the words: a
// device called "Failed Mic" that starts well is not an alarm.
TEST_F(Window, StatusLineAndTheRecordButtonBeforeAStart) {
    view = std::make_unique<RootView>(engine, engine);
    EXPECT_FALSE(view->recordButton()->isEnabled());  // nothing runs yet
    EXPECT_EQ(RootView::statusLine(false, "127.0.0.1:4777", "Ready"),
              "○ Control Room not linked (127.0.0.1:4777) · Ready");
    auto red = [&] {
        settle();
        return view->statusLabel()->palette().color(QPalette::WindowText) == QColor(Qt::red);
    };
    engine.setLinkConnected(true);
    engine.startEngine();  // no interface: "No audio interface found"
    EXPECT_TRUE(red());
    EXPECT_TRUE(
        view->statusLabel()->text().startsWith("● Control Room linked · No audio interface found"));
    audio->list = {{1, "Failed Mic", "uid-1", 2, 2}};
    engine.refreshDevices();
    engine.startEngine();
    EXPECT_EQ(engine.status(), "Failed Mic — 2 inputs at 48 kHz · headphones: Failed Mic");
    EXPECT_FALSE(red());
    QFile(root.path() + "/plain").open(QIODevice::WriteOnly);
    engine.record(root.path() + "/plain/day");  // a day folder that cannot be made
    EXPECT_TRUE(engine.status().endsWith(" — recording not started"));
    EXPECT_TRUE(red());
    audio->list.clear();
    clock.advance(2.0);
    audio->change(AudioChange::configuration);
    ASSERT_TRUE(waitFor([&] { return engine.status() == "Audio interface disconnected"; }));
    EXPECT_TRUE(red());
}

TEST_F(Window, TheDemoInterfaceInTheWindow) {
    AudioSystem::install(std::make_unique<DemoSystem>());
    view = std::make_unique<RootView>(engine, engine);
    view->resize(1000, 600);
    view->show();
    engine.boot();
    ASSERT_TRUE(waitFor([&] { return engine.running(); }));
    waitFor([] { return false; }, 30);  // let the meters move
    EXPECT_EQ(engine.channels().size(), 20);
    EXPECT_GT(view->rows()[0]->meter()->peak(), 0.1f);
    saveShot(*view, "idle-20-demo-inputs.png");
}
