// A whole session on the simulated interface, stepped buffer by buffer with a
// hand-driven clock, so that every byte is repeatable: status texts, log
// lines, Control Room status messages and the recorded files. golden/ keeps
// the record of the run before the engine was rebuilt from parts; the
// rebuild reproduces it. TESSALY_GOLDEN_UPDATE=1 writes it anew, for a
// change of behaviour that is meant.
#include <QCryptographicHash>
#include <QDirIterator>

#include "hardware/demo/DemoSystem.h"
#include "link/LinkMessages.h"
#include "support/LogCapture.h"
#include "support/RecordingFixture.h"

namespace {

class Golden : public RecordingTest {
protected:
    void note(const QString& line) {
        for (const QString& l : LogCapture::take()) lines << "log " + l;
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
    DemoSystem* demo = nullptr;
    LogCapture log;
    QStringList lines;
    long played = 0;
};

}  // namespace

TEST_F(Golden, ASessionOnTheSimulatedInterface) {
    auto owned = std::make_unique<DemoSystem>(DemoSystem::Options{20, 20, 48000, false});
    demo = owned.get();
    AudioSystem::install(std::move(owned));
    QString last;
    QObject listening;
    QObject::connect(&engine, &RoomState::changed, &listening, [&] {
        if (engine.status() != last) note("status " + (last = engine.status()));
    });
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
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    play(100);
    message("new rate");
    clock.advance(2.0);
    demo->unplug();
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    play(10);
    message("unplugged");
    for (QDirIterator it(root.path(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        QFile f(it.next());
        f.open(QIODevice::ReadOnly);
        const QByteArray hash =
            QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex();
        lines << "file " + QDir(root.path()).relativeFilePath(f.fileName()) + " " +
                     QString::number(f.size()) + " " + QString::fromLatin1(hash);
    }
    std::sort(
        std::find_if(lines.begin(), lines.end(), [](auto& l) { return l.startsWith("file"); }),
        lines.end());

    QFile kept(QString(TESSALY_GOLDEN_DIR) + "/demo-session.txt");
    if (qEnvironmentVariable("TESSALY_GOLDEN_UPDATE") == "1") {
        ASSERT_TRUE(kept.open(QIODevice::WriteOnly | QIODevice::Truncate));
        kept.write(lines.join('\n').toUtf8() + '\n');
        return;
    }
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    const QStringList want = QString::fromUtf8(kept.readAll()).split('\n', Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < std::max(want.size(), lines.size()); ++i)
        ASSERT_EQ(lines.value(i).toStdString(), want.value(i).toStdString()) << "line " << i + 1;
}
