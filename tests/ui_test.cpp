#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "base/RemainingTime.h"
#include "support/RecordingFixture.h"
#include "ui/ChannelRow.h"
#include "ui/Meter.h"
#include "ui/RootView.h"
#include "ui/ToggleSwitch.h"

// The window, on a fed interface once it is shown.
class Window : public RecordingTest {
protected:
    static void settle() { QCoreApplication::processEvents(); }
    void click(QWidget* w) {
        QTest::mouseClick(w, Qt::LeftButton);
        settle();
    }
    void shot(const QString& name) {
        QDir().mkpath(TESSALY_SCREENSHOTS);
        EXPECT_TRUE(view->grab().save(QString(TESSALY_SCREENSHOTS) + "/" + name));
    }
    std::unique_ptr<RootView> view;
};

TEST_F(Window, MetersTheStatusLineRowsTheRulesOfATakeAndTypingThatIsNeverInterrupted) {
    EXPECT_NEAR(Meter::fraction(0.001f), 0.0, 1e-6);
    EXPECT_NEAR(Meter::fraction(0.1f), 40.0 / 60, 1e-6);
    EXPECT_EQ(Meter::fraction(2.0f), 1.0);
    EXPECT_EQ(Meter::colour(Meter::fraction(0.9f)), QColor(Qt::red));
    EXPECT_EQ(Meter::colour(0.8), QColor(Qt::green));
    EXPECT_EQ(Meter::colour(0.97), QColor(Qt::yellow));
    Meter meter;  // drawn: the bar ends where the fraction says; the height stays
    meter.resize(400, 30);
    meter.setPeak(0.5f);
    const QImage drawn = meter.grab().toImage();
    EXPECT_EQ(drawn.pixelColor(300, 7), QColor(Qt::yellow));  // 0.75 of the width: the bar
    EXPECT_NE(drawn.pixelColor(380, 7), QColor(Qt::yellow));  // 0.95: the track
    EXPECT_EQ(remainingText(59.9) + "|" + remainingText(100 * 3600) + "|" + remainingText(15179),
              "less than a minute|more than 99 h left|4 h 12 min left");
    // The line is red when the engine reports a failure, whatever the words: a
    // device called "Failed Mic" that starts well is not an alarm.
    view = std::make_unique<RootView>(engine, engine);
    EXPECT_FALSE(view->recordButton()->isEnabled());  // nothing runs yet
    EXPECT_EQ(RootView::statusLine(false, "127.0.0.1:4777", "Ready"),
              "○ Control Room not linked (127.0.0.1:4777) · Ready");
    auto red = [&] {
        settle();
        return view->statusLabel()->palette().color(QPalette::WindowText) == QColor(Qt::red);
    };
    engine.setLinkConnected(true);
    engine.startEngine();  // no interface
    EXPECT_TRUE(red());
    EXPECT_TRUE(
        view->statusLabel()->text().startsWith("● Control Room linked · No audio interface"));
    plug({{1, "Failed Mic", "uid-1", 2, 2}});
    EXPECT_FALSE(red());
    QFile(root.path() + "/plain").open(QIODevice::WriteOnly);
    engine.setRoot(root.path() + "/plain");  // a day folder that cannot be made
    record();
    EXPECT_TRUE(red());
    engine.setRoot(root.path());
    view->resize(1000, 600);
    view->show();
    plug({{1, "Scarlett 18i20", "uid-1", 18, 20}, {2, "Speakers", "uid-2", 0, 2}});
    settle();
    EXPECT_EQ(view->rows().size(), 8u);
    EXPECT_EQ(view->inputPicker()->currentText(), "Scarlett 18i20 (18 in)");
    ASSERT_TRUE(
        waitFor([&] { return engine.tick(), settle(), !view->timeLeftLabel()->text().isEmpty(); }));
    shot("idle.png");
    click(view->showAllBox());
    EXPECT_EQ(view->rows().size(), 18u);
    EXPECT_FALSE(view->hearMixButton()->isEnabled());
    click(view->recordButton());
    answered(), settle();
    EXPECT_EQ(view->recordButton()->text() + view->folderLabel()->text(),
              "STOPRecording 1 - 2.15 PM");
    // The time left, from 8 armed inputs and the mix at 1,440,000 bytes a
    // second; the warning under 10 minutes goes only above 12.
    auto left = [&](double seconds, const QString& shown) {
        freeSpace = static_cast<std::uint64_t>(seconds * 1'440'000);
        return waitFor(
            [&] { return engine.tick(), settle(), view->timeLeftLabel()->text() == shown; });
    };
    ASSERT_TRUE(left(599, "9 min left"));
    EXPECT_EQ(view->timeLeftLabel()->palette().color(QPalette::WindowText), QColor(Qt::yellow));
    EXPECT_TRUE(engine.status().endsWith(" · Disk almost full — 9 min left"));
    shot("recording-disk-almost-full.png");
    ASSERT_TRUE(left(700, "11 min left") && engine.status().endsWith("full — 11 min left"));
    ASSERT_TRUE(left(730, "12 min left") && !engine.status().contains("Disk almost full"));
    diskHangs = true;  // a volume that stops answering is not waited for
    ASSERT_TRUE(waitFor([&] { return diskHung.load(); }));
    engine.tick();  // seen hanging from now
    clock.advance(1.5);
    ASSERT_TRUE(left(730, "disk not answering") && engine.remaining() < 0);
    EXPECT_EQ(view->timeLeftLabel()->palette().color(QPalette::WindowText), QColor(Qt::red));
    diskHangs = false;
    for (QWidget* w : QWidgetList{view->inputPicker(), view->outputPicker(), view->folderButton(),
                                  view->refreshButton(), view->rows()[0]->armedSwitch()})
        EXPECT_FALSE(w->isEnabled());
    EXPECT_TRUE(view->rows()[0]->nameField()->isEnabled() && view->showAllBox()->isEnabled());
    EXPECT_EQ(view->rows()[0]->opacity(), 1.0);
    EXPECT_EQ(view->rows()[10]->opacity(), 0.55);  // not armed
    // Solo toggles; "Hear mix" ends it; the tone plays.
    click(view->rows()[2]->soloButton());
    EXPECT_TRUE(engine.channels()[2].solo && view->hearMixButton()->isEnabled());
    shot("recording-one-solo.png");
    click(view->rows()[2]->soloButton());
    EXPECT_FALSE(engine.channels()[2].solo);
    click(view->rows()[5]->soloButton());
    click(view->hearMixButton());
    EXPECT_FALSE(engine.channels()[5].solo);
    click(view->toneButton());
    EXPECT_TRUE(toneHeard());
    // No label hides a letter or an ampersand behind a keyboard mnemonic.
    for (const QAbstractButton* b : view->findChildren<QAbstractButton*>())
        EXPECT_TRUE(QKeySequence::mnemonic(b->text()).isEmpty()) << b->text().toStdString();
    clock.advance(3725.9 - 1.5);
    engine.tick();
    settle();
    EXPECT_EQ(view->elapsedLabel()->text(), "01:02:05");
    click(view->recordButton());
    EXPECT_EQ(view->recordButton()->text() + view->elapsedLabel()->text(), "RECORD00:00:00");
    EXPECT_FALSE(view->folderLabel()->isVisible());
    // Typing a name is never interrupted, not by what the Control Room sends.
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
    settle();
    EXPECT_EQ(field->text() + QString::number(field->cursorPosition()), "Kick2");
    field->clearFocus();
    view->refresh();
    EXPECT_EQ(field->text(), "From the Control Room");
    ChannelRow ghost(engine, engine, 50);  // past the end of the list: shows nothing
    ghost.refresh();
    EXPECT_FALSE(ghost.nameField()->isVisibleTo(&ghost));
    view->chooseFolder = [](const QString&) { return QString(); };  // cancelled
    click(view->folderButton());
    EXPECT_EQ(engine.rootPath(), root.path());
    view->chooseFolder = [](const QString&) { return QStringLiteral("/srv/sessions"); };
    click(view->folderButton());
    EXPECT_EQ(engine.rootPath(), "/srv/sessions");
}
