// A whole session on the simulated interface, stepped buffer by buffer with a
// hand-driven clock, so that every byte is repeatable: the status texts, the
// log lines, the Control Room status messages and the recorded files. The
// record of the first run is kept in tests/golden/; a rebuild of the engine
// must reproduce it exactly. TESSALY_GOLDEN_UPDATE=1 writes it anew (only
// for a change of behaviour that is meant).
#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include "hardware/demo/DemoSystem.h"
#include "link/LinkMessages.h"
#include "support/LogCapture.h"
#include "support/RecordingFixture.h"

namespace {

class Golden : public RecordingTest {
protected:
    void SetUp() override {
        RecordingTest::SetUp();
        auto owned = std::make_unique<DemoSystem>(DemoSystem::Options{20, 20, 48000, false});
        demo = owned.get();
        AudioSystem::install(std::move(owned));
        QObject::connect(&engine, &RoomEngine::changed, &listening, [this] {
            if (engine.status() != lastStatus) {
                lastStatus = engine.status();
                note("status " + lastStatus);
            }
        });
    }
    void TearDown() override {
        engine.stopEngine();
        AudioSystem::install(nullptr);
    }
    void note(const QString& line) {
        for (const QString& l : log.take()) lines << "log " + l;
        lines << QString(line).replace(root.path(), "<root>");
    }
    // `buffers` buffers of the interface, with the meters' tick every 10.
    void play(int buffers) {
        for (int b = 0; b < buffers; ++b) {
            demo->step(1);
            clock.advance(DemoSystem::bufferFrames / 48000.0);
            if (++played % 10 == 0) engine.tick();
        }
    }
    void message(const char* when) {
        note("message " + QString(when) + " " + QString::fromUtf8(statusText(engine)));
    }
    void events() {
        for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    }
    QStringList files() const {
        QStringList out;
        QDirIterator it(root.path(), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile f(path);
            f.open(QIODevice::ReadOnly);
            const QByteArray hash =
                QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex();
            out << "file " + QDir(root.path()).relativeFilePath(path) + " " +
                       QString::number(f.size()) + " " + QString::fromLatin1(hash);
        }
        out.sort();
        return out;
    }

    DemoSystem* demo = nullptr;
    LogCapture log;
    QObject listening;
    QString lastStatus;
    QStringList lines;
    long played = 0;
};

// Compares with the kept record, or writes it.
void compare(const QString& name, const QStringList& lines) {
    const QString path = QString(TESSALY_GOLDEN_DIR) + "/" + name;
    QFile kept(path);
    if (qEnvironmentVariable("TESSALY_GOLDEN_UPDATE") == "1") {
        ASSERT_TRUE(kept.open(QIODevice::WriteOnly | QIODevice::Truncate));
        kept.write(lines.join('\n').toUtf8() + '\n');
        return;
    }
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly)) << path.toStdString();
    const QStringList want = QString::fromUtf8(kept.readAll()).split('\n', Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < std::max(want.size(), lines.size()); ++i) {
        ASSERT_EQ(lines.value(i).toStdString(), want.value(i).toStdString())
            << name.toStdString() << " line " << i + 1;
    }
}

}  // namespace

TEST_F(Golden, ASessionOnTheSimulatedInterface) {
    engine.refreshDevices();
    engine.startEngine();
    play(40);
    message("idle");

    engine.setName(0, "Kick");
    engine.setName(1, "Snare / Top");
    engine.setName(4, "%1 %2");
    engine.setArmed(3, false);
    engine.setArmed(9, true);
    engine.setSolo(2, true);
    engine.setSolo(19, true);
    play(40);
    message("soloed");

    engine.record();
    play(300);
    engine.testTone();
    play(150);
    message("tone");
    engine.testTone(0.1);
    play(20);
    engine.testTone(0.1);  // a repeated request starts the count again
    play(60);
    engine.clearSolo();
    play(50);
    message("mix");

    clock.advance(3600);  // the next hour's set
    play(130);
    message("next set");
    engine.stopRecording();
    message("stopped");

    engine.record(root.path() + "/Named Day");
    play(60);
    clock.advance(2.0);  // past the change guard
    demo->changeRate(96000);
    events();
    play(100);
    message("new rate");
    clock.advance(2.0);
    demo->unplug();
    events();
    play(10);
    message("unplugged");

    lines << files();
    compare("demo-session.txt", lines);
}

// The self-test's report, with what depends on the day and the machine's
// timing (digits, month, AM/PM, the home folder) masked.
TEST(GoldenSelfTest, TheReportOnTheSimulatedInterface) {
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.path() + "/config");
    env.insert("XDG_RUNTIME_DIR", home.path());
    env.insert("LANG", "en_US.UTF-8");
    QProcess tessaly;
    tessaly.setProcessEnvironment(env);
    tessaly.start(TESSALY_BINARY, {"--selftest", "2", "--backend", "demo"});
    ASSERT_TRUE(tessaly.waitForFinished(30000));
    EXPECT_EQ(tessaly.exitCode(), 0);
    QString out = QString::fromUtf8(tessaly.readAllStandardOutput());
    out.replace(home.path(), "~");
    out.replace(QRegularExpression("\\b(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)\\b"),
                "Mon");
    out.replace(QRegularExpression("\\b[AP]M\\b"), "XM");
    out.replace(QRegularExpression("[0-9]+"), "#");
    out.replace(QRegularExpression("^ +", QRegularExpression::MultilineOption), "  ");
    compare("selftest.txt", out.split('\n', Qt::SkipEmptyParts));
}
