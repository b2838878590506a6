// The built program, run as a child process, in each of its modes.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

#include "app/LaunchOptions.h"
#include "app/MainWindow.h"
#include "app/SelfTest.h"
#include "app/SingleInstance.h"
#include "hardware/demo/DemoSystem.h"
#include "support/ControlRoom.h"
#include "support/FakeAudio.h"
#include "support/RecordingFixture.h"

namespace {

// A private home for each child: settings, recordings and the instance socket.
class Program : public testing::Test {
protected:
    void SetUp() override {
        QDir().mkpath(home.path() + "/config/Tessaly");
        QDir().mkpath(home.path() + "/runtime");
    }
    // The child's own settings.
    Settings settings() const { return Settings(home.path() + "/config/Tessaly/Tessaly.conf"); }
    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", home.path() + "/config");
        env.insert("XDG_RUNTIME_DIR", home.path() + "/runtime");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        return env;
    }
    void launch(QProcess& p, const QStringList& args, const QProcessEnvironment& extra = {}) {
        QProcessEnvironment env = environment();
        for (const QString& k : extra.keys()) env.insert(k, extra.value(k));
        p.setProcessEnvironment(env);
        p.start(TESSALY_BINARY, args);
        ASSERT_TRUE(p.waitForStarted());
    }
    // Runs to the end; returns standard output as lines.
    QStringList run(const QStringList& args, const QProcessEnvironment& extra = {}) {
        QProcess p;
        launch(p, args, extra);
        EXPECT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0);
        return QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }
    QString takeIn(const QString& root) const {
        const QStringList days = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        if (days.isEmpty()) return {};
        const QStringList takes =
            QDir(root + "/" + days[0]).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        return takes.isEmpty() ? QString() : root + "/" + days[0] + "/" + takes[0];
    }
    QTemporaryDir home;
};

bool waitUntil(const std::function<bool()>& done, int ms = 10000) {
    for (int waited = 0; waited < ms && !done(); waited += 20) {
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
    return done();
}

}  // namespace

TEST(Arguments, SelfTestSecondsAndWhatOverridesWhat) {
    auto parse = [](QStringList args) {
        return LaunchOptions::parse(QStringList{"tessaly"} + args);
    };
    EXPECT_EQ(parse({"--selftest"}).selfTestSeconds, 5.0);
    EXPECT_EQ(parse({"--selftest", "12"}).selfTestSeconds, 12.0);
    EXPECT_EQ(parse({"--selftest", "2.5"}).selfTestSeconds, 2.5);
    for (const char* odd : {"soon", "-1", "inf", "nan", "2s"}) {
        EXPECT_EQ(parse({"--selftest", odd}).selfTestSeconds, 5.0) << odd;
    }
    EXPECT_EQ(parse({"-headless", "--selftest", "-hidden"}).mode, LaunchOptions::Mode::selfTest);
    EXPECT_EQ(parse({"-hidden", "-headless"}).mode, LaunchOptions::Mode::headless);
    const LaunchOptions hidden = parse({"-hidden", "--whatever"});
    EXPECT_EQ(hidden.mode, LaunchOptions::Mode::windowed);
    EXPECT_TRUE(hidden.hidden);
    EXPECT_EQ(parse({"-HEADLESS"}).mode, LaunchOptions::Mode::windowed);  // case matters
    EXPECT_EQ(parse({"--backend", "demo"}).backend, "demo");
    EXPECT_FALSE(parse({"--backend", "alsa"}).error.isEmpty());
}

TEST_F(Program, SelfTestOnTheSimulatedInterface) {
    const QStringList out = run({"--selftest", "2", "--backend", "demo", "-headless"});
    ASSERT_GE(out.size(), 6);
    EXPECT_EQ(out[0],
              "status: Tessaly Demo Interface (simulated) — 20 inputs at 48 kHz · headphones: "
              "Tessaly Demo Interface (simulated)");
    EXPECT_EQ(out[1], "running: true  inputs: 20  armed: 8");
    ASSERT_TRUE(out[2].startsWith("recording → "));
    const QString take = out[2].mid(12);
    EXPECT_TRUE(take.startsWith(home.path() + "/Desktop/Tessaly/"));
    EXPECT_TRUE(
        QRegularExpression(R"(^during tone — peaks all 20 inputs: (\d\.\d{3} ){19}\d\.\d{3}$)")
            .match(out[3])
            .hasMatch())
        << out[3].toStdString();
    const auto tone =
        QRegularExpression(
            R"(^during tone — headphones meter: (\d\.\d{3})  loopback 19/20: (\d\.\d{3}) (\d\.\d{3})$)")
            .match(out[4]);
    ASSERT_TRUE(tone.hasMatch()) << out[4].toStdString();
    EXPECT_GT(tone.captured(2).toDouble(), 0.1);  // the tone came back through the headphone path
    EXPECT_GT(tone.captured(3).toDouble(), 0.1);
    EXPECT_TRUE(
        QRegularExpression(R"(^peaks \(first 8\): (\d\.\d{3} ){7}\d\.\d{3}   mix: \d\.\d{3}$)")
            .match(out[5])
            .hasMatch())
        << out[5].toStdString();
    const QStringList files = out.mid(6);
    QStringList names;
    for (const QString& line : files) {
        const auto m = QRegularExpression(R"(^  ([ \d]{9})  (.+)$)").match(line);
        ASSERT_TRUE(m.hasMatch()) << line.toStdString();
        EXPECT_EQ(m.captured(1).trimmed().toLongLong(),
                  QFileInfo(take + "/" + m.captured(2)).size());
        names << m.captured(2);
    }
    EXPECT_EQ(names.size(), 9);
    QStringList sorted = names;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(names, sorted);
    expectExactHeaders(take.toStdString());
}

TEST_F(Program, SelfTestWithEighteenInputsOrWithoutPermission) {
    QStringList out = run({"--selftest", "1", "--backend", "demo", "--demo-inputs", "18"});
    ASSERT_GE(out.size(), 5);
    EXPECT_EQ(out[1], "running: true  inputs: 18  armed: 8");
    EXPECT_TRUE(out[4].endsWith("  loopback 19/20: n/a")) << out[4].toStdString();

    QProcessEnvironment denied;
    denied.insert("TESSALY_MICROPHONE", "denied");
    out = run({"--selftest", "1", "--backend", "demo"}, denied);
    EXPECT_EQ(
        out,
        (QStringList{
            "status: Microphone access denied — System Settings → Privacy → Microphone → Tessaly",
            "running: false  inputs: 0  armed: 0"}));
}

TEST_F(Program, HeadlessStopsWithItsParent) {
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1),
              0);  // the orphan comes to us, so we can see how it ends
    QProcess parent;
    parent.setProcessEnvironment(environment());
    parent.start(
        "sh",
        {"-c", QString("'%1' -headless --backend demo & echo $!; sleep 1").arg(TESSALY_BINARY)});
    ASSERT_TRUE(parent.waitForReadyRead(5000));
    const pid_t recorder = static_cast<pid_t>(parent.readLine().trimmed().toInt());
    ASSERT_GT(recorder, 0);
    ASSERT_TRUE(parent.waitForFinished(5000));
    int status = 0;
    pid_t ended = 0;
    for (int waited = 0; waited < 3000 && ended == 0; waited += 20) {
        ended = waitpid(recorder, &status, WNOHANG);
        QThread::msleep(20);
    }
    ASSERT_EQ(ended, recorder) << "the recorder outlived its parent";
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    prctl(PR_SET_CHILD_SUBREAPER, 0);
}

TEST_F(Program, SignalsEndATakeCleanlyInEveryMode) {
    ControlRoom room;
    settings().setServer(room.address());
    const std::pair<QStringList, int> runs[] = {
        {{"-headless", "--backend", "demo"}, SIGTERM},
        {{"-headless", "--backend", "demo"}, SIGINT},
        {{"-hidden", "--backend", "demo"},
         SIGTERM},  // windowed, and records on command without a window
    };
    int connections = 0;
    for (const auto& [args, signal] : runs) {
        const QString root = home.path() + QString("/takes-%1").arg(++connections);
        settings().setRootPath(root);
        QProcess p;
        launch(p, args);
        ASSERT_TRUE(waitUntil([&] { return room.connections() == connections; }))
            << args.join(' ').toStdString();
        ASSERT_TRUE(waitUntil([&] {
            room.send(R"({"type":"record","on":true})");
            return !takeIn(root).isEmpty();
        }));
        QThread::msleep(700);
        ::kill(static_cast<pid_t>(p.processId()), signal);
        ASSERT_TRUE(p.waitForFinished(5000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0);
        expectExactHeaders(takeIn(root).toStdString());
    }
}

TEST_F(Program, ASecondLaunchShowsTheRunningWindow) {
    qputenv("XDG_RUNTIME_DIR", (home.path() + "/runtime").toUtf8());
    SingleInstance running;
    int shown = 0;
    ASSERT_TRUE(running.listen([&] { ++shown; }));
    QProcess second;
    launch(second, {"--backend", "demo"});
    ASSERT_TRUE(waitUntil([&] { return second.state() == QProcess::NotRunning; }, 5000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(waitUntil([&] { return shown == 1; }, 2000));
}

using SelfTestRun = RecordingTest;

// The run follows its clock, so any length ends when its time has come:
// 3,000,000 s is more milliseconds than a Qt timer can count.
TEST_F(SelfTestRun, AVeryLongRunEndsAfterItsTime) {
    AudioSystem::install(std::make_unique<DemoSystem>());
    ManualClock schedule;
    QTimer hours;  // time flies: 250,000 s every 10 ms
    QObject::connect(&hours, &QTimer::timeout, [&] { schedule.advance(250'000); });
    hours.start(10);
    const Clock::SteadyTime began = schedule.ticks();
    selfTest(engine, 3'000'000, schedule);
    const double took = secondsBetween(began, schedule.ticks());
    EXPECT_GE(took, 3'000'000 + 2.0);
    EXPECT_LE(took, 3'000'000 + 2.0 + 3 * 250'000);
    EXPECT_FALSE(engine.running());
    expectExactHeaders(engine.recordingFolder().toStdString(), false);
}

class QuitRule : public RecordingTest {};

TEST_F(QuitRule, AskingBeforeStoppingATake) {
    audio->list = {{1, "Scarlett 2i2", "uid-1", 2, 2}};
    engine.refreshDevices();
    engine.startEngine();
    MainWindow window(engine);
    window.close();  // closing only hides: the engine goes on
    EXPECT_TRUE(engine.running());

    engine.record();
    auto answer = [](const QString& button) {
        QTimer::singleShot(0, [button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_TRUE(box);
            EXPECT_EQ(box->text(), "Still recording");
            EXPECT_EQ(box->informativeText(), "Stop the recording and quit?");
            for (QAbstractButton* b : box->buttons()) {
                EXPECT_TRUE(QKeySequence::mnemonic(b->text()).isEmpty()) << b->text().toStdString();
                if (shownText(b->text()) == button) b->click();
            }
        });
    };
    answer("Cancel");
    EXPECT_FALSE(window.requestQuit());
    EXPECT_TRUE(engine.recording());
    answer("Stop & Quit");
    EXPECT_TRUE(window.requestQuit());
    EXPECT_FALSE(engine.recording());
    EXPECT_FALSE(engine.running());
    expectExactHeaders(engine.recordingFolder().toStdString(),
                       false);  // this interface delivers no audio
    // Not recording: no question, and the engine is still stopped.
    engine.startEngine();
    EXPECT_TRUE(window.requestQuit());
    EXPECT_FALSE(engine.running());
}
