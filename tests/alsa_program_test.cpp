// The ALSA backend through the built program, on the pretend card: every
// frame the card delivers reaches the files bit for bit, or is counted lost
// and stands there as silence of exactly its length; a card that vanishes
// mid-take, is busy or forbidden says so.
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSettings>
#include <set>

#include "support/ControlRoom.h"
#include "support/PretendCard.h"
#include "support/Program.h"
#include "support/RecordingFixture.h"

class AlsaCard : public Program {
protected:
    void SetUp() override { ASSERT_TRUE(pretend::declare(home.path() + "/config", control)); }
    QStringList on(const char* pcm) const { return {"--backend", "alsa", "--alsa-pcm", pcm}; }
    // Every input file of `folder` holds its own channel's counter, frame
    // after frame, all from the same frame of the card; a frame that is not
    // is silence. The silent frames (the same in every file, at the same
    // places), and the longest run of them.
    struct Silence {
        std::int64_t total = -1, longest = -1, where = -1;  // where the longest begins
        auto operator<=>(const Silence&) const = default;
    };
    Silence expectCounters(const QString& folder, int bits) {
        std::set<Silence> silent;
        std::set<std::int64_t> first;
        const std::int64_t span = bits == 16 ? 65535 : 16777215;
        for (QDirIterator it(folder, {"Input *.wav"}); it.hasNext();) {
            const SndRead r = readWithSndfile(it.next().toStdString());
            EXPECT_TRUE(r.ok && r.info.frames > 24000) << it.fileName().toStdString();
            const unsigned ch = it.fileName().section(' ', 1, 1).toUInt() - 1;
            const int scale = bits == 16 ? 256 : 1;
            // The frame its first sample stands for (modulo the counter's span).
            const std::int64_t at =
                ((r.samples[0] / scale - pretend::counter(0, ch, bits)) % span + span) % span;
            Silence quiet{0, 0, 0};
            for (sf_count_t f = 0, run = 0; f < r.info.frames; ++f) {
                if (r.samples[f] == pretend::counter(at + f, ch, bits) * scale) {
                    run = 0;
                    continue;
                }
                if (run + 1 > quiet.longest) quiet.where = f - run;
                if (r.samples[f] != 0) {
                    ADD_FAILURE() << it.fileName().toStdString() << " @" << f;
                    return {};
                }
                ++quiet.total;
                quiet.longest = std::max(quiet.longest, ++run);
            }
            silent.insert(quiet);
            first.insert(at);
        }
        EXPECT_EQ(silent.size(), 1u);
        EXPECT_EQ(first.size(), 1u) << "the inputs start at different frames";
        return silent.empty() ? Silence{} : *silent.begin();
    }
    QString control = home.path() + "/card";
};

TEST_F(AlsaCard, EveryFrameReachesTheFilesOrIsCountedLost) {
    for (const auto& [pcm, bits, name] : {std::tuple{"card", 24, "Pretend Card"},
                                          {"card24", 24, "Card 24"},
                                          {"card16", 16, "Card 16"}}) {
        QFile::remove(control + "/played");
        QProcess recorder;
        launch(recorder, on(pcm) << "--selftest"
                                 << "2");
        QByteArray out;
        const bool stopped = pcm == std::string("card");
        double stood = 0;
        if (stopped) {  // the recorder stands still for 0.3 s mid-take
            ASSERT_TRUE(waitFor([&] { return (out += recorder.readAll()).contains("recording"); }));
            runFor(0.5);
            QElapsedTimer clock;
            clock.start();
            ::kill(static_cast<pid_t>(recorder.processId()), SIGSTOP);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            ::kill(static_cast<pid_t>(recorder.processId()), SIGCONT);
            stood = clock.nsecsElapsed() / 1e9 * 48000;
        }
        ASSERT_TRUE(recorder.waitForFinished(30000));
        const QStringList lines = QString(out + recorder.readAll()).split('\n');
        EXPECT_EQ(lines.value(0),
                  QString("status: %1 — 20 inputs at 48 kHz · headphones: %1").arg(name));
        // Most of it was heard, whatever the load; and all that was not is
        // what the log counts.
        const Silence silent = expectCounters(lines.value(2).section(" → ", 1), bits);
        EXPECT_LT(silent.total - silent.longest * stopped, 48000 / 10) << pcm;
        const QString log = recorder.readAllStandardError();
        const auto told = QRegularExpression(R"(· \d+ dropouts? \(([\d.]+) s\))").match(log);
        EXPECT_NEAR(told.captured(1).toDouble(), silent.total / 48000.0, 0.011)
            << log.toStdString();
        if (!stopped) continue;
        // What the card overwrote (the stop less its buffer of 1024 frames)
        // and the period it was writing into, in whole periods: between one
        // and two periods more than was overwritten (10 ms either way for
        // the stop's own timing).
        EXPECT_GE(silent.longest, stood - 1024 + 256 - 480);
        EXPECT_LE(silent.longest, stood - 1024 + 512 + 480);
        EXPECT_EQ(silent.longest % 256, 0);
        QFile played(control + "/played");  // the headphones, written on the card
        ASSERT_TRUE(played.open(QIODevice::ReadOnly));
        const QList<QByteArray> heard = played.readAll().trimmed().split(' ');
        EXPECT_GT(heard.value(0).toLongLong(), 48000 * 3);
        EXPECT_GT(heard.value(1).toDouble(), 0.2);
    }
}

TEST_F(AlsaCard, AVanishedBusyOrForbiddenCardSaysSo) {
    for (const auto& [file, status] :
         {std::pair{"busy", "status: Pretend Card is in use by another program"},
          {"forbidden",
           "status: Pretend Card: no permission to open it (is the user in the audio group?)"}}) {
        QFile(control + "/" + file).open(QIODevice::WriteOnly);
        QProcess recorder;
        launch(recorder, on("card") << "--selftest"
                                    << "1");
        ASSERT_TRUE(recorder.waitForFinished(30000));
        EXPECT_EQ(QString(recorder.readAll()).section('\n', 0, 0), status);
        QFile::remove(control + "/" + file);
    }
    ControlRoom room;
    settings().setServer(room.address());
    // The box keeps its backend in the settings.
    QSettings(home.path() + "/config/Tessaly/Tessaly.conf", QSettings::IniFormat)
        .setValue("backend", "alsa");
    QProcess recorder;
    launch(recorder, {"--alsa-pcm", "card", "-headless"});
    auto says = [&](const char* key, const QString& value) {
        return waitFor([&] { return room.latest(key).contains(value); });
    };
    ASSERT_TRUE(says("status", "Pretend Card — 20 inputs"));
    ASSERT_TRUE(waitFor(
        [&] { return room.send({R"({"type":"record","on":true})"}), says("recording", "true"); }));
    runFor(0.5);
    QFile(control + "/gone").open(QIODevice::WriteOnly);
    EXPECT_TRUE(says("status", "Audio interface disconnected"));
    QFile::remove(control + "/gone");
    EXPECT_TRUE(says("status", " · recording resumed after the interface came back"));
    runFor(1);
    ::kill(static_cast<pid_t>(recorder.processId()), SIGTERM);
    EXPECT_TRUE(recorder.waitForFinished(10000) && recorder.exitCode() == 0);
    EXPECT_TRUE(
        recorder.readAllStandardError().startsWith("audio: ALSA, the cards opened directly"));
    int takes = 0;
    for (QDirIterator it(home.path(), {"Recording *"}, QDir::Dirs, QDirIterator::Subdirectories);
         it.hasNext(); ++takes) {
        const QString take = it.next();
        EXPECT_EQ(expectExactHeaders(take.toStdString()), 9);  // 8 inputs and the mix
        EXPECT_LT(expectCounters(take, 24).total, 48000 / 10);
    }
    EXPECT_EQ(takes, 2);
}

// RealtimeKit as a desktop runs it on the system bus: it makes the thread it
// is asked for real-time, within its own limits.
class RealtimeKit : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.RealtimeKit1")
    Q_PROPERTY(int MaxRealtimePriority MEMBER most)
    Q_PROPERTY(qlonglong RTTimeUSecMax MEMBER rttime)
public Q_SLOTS:
    void MakeThreadRealtime(qulonglong thread, uint priority) {
        tid = static_cast<pid_t>(thread);
        sched_param p{};
        p.sched_priority = static_cast<int>(priority);
        EXPECT_EQ(sched_setscheduler(tid, SCHED_FIFO, &p), 0);
    }

public:
    int most = 15;  // less than the recorder would take by itself
    qlonglong rttime = 100000;
    pid_t tid = 0;
};

// Where the user may not have SCHED_FIFO, RealtimeKit gives it to the audio
// thread: asked by that thread's id, at its own maximum, once the process
// cannot keep the CPU longer than it allows; the log says so.
TEST_F(AlsaCard, RealTimeFromRealtimeKitWhenSchedFifoIsRefused) {
    QProcess bus;
    bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    ASSERT_TRUE(bus.waitForReadyRead(5000));
    const QByteArray address = bus.readLine().trimmed();
    RealtimeKit rtkit;
    QDBusConnection system = QDBusConnection::connectToBus(address, "rtkit");
    ASSERT_TRUE(system.registerService("org.freedesktop.RealtimeKit1"));
    system.registerObject("/org/freedesktop/RealtimeKit1", &rtkit,
                          QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
    // No real-time limit, and for root no CAP_SYS_NICE either.
    QStringList command = {"prlimit", "--rtprio=0", TESSALY_BINARY};
    if (::geteuid() == 0)
        command =
            QStringList{"setpriv", "--bounding-set=-sys_nice", "--inh-caps=-sys_nice"} + command;
    QProcess recorder;
    launch(recorder,
           command.mid(1) + on("card") << "--selftest"
                                       << "2",
           command[0]);
    ASSERT_TRUE(waitFor([&] { return rtkit.tid != 0; }));
    const QString pid = QString::number(recorder.processId());
    EXPECT_NE(rtkit.tid, recorder.processId());  // a thread of its own, not the main one
    EXPECT_TRUE(QFile::exists(QString("/proc/%1/task/%2").arg(pid).arg(rtkit.tid)));
    EXPECT_EQ(sched_getscheduler(rtkit.tid), SCHED_FIFO);
    QFile limits("/proc/" + pid + "/limits");
    ASSERT_TRUE(limits.open(QIODevice::ReadOnly));
    EXPECT_TRUE(
        QString(limits.readAll()).simplified().contains("Max realtime timeout 100000 100000 us"));
    ASSERT_TRUE(recorder.waitForFinished(30000));
    qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    EXPECT_TRUE(recorder.readAllStandardError().contains(
        "audio thread: real-time priority 15 from RealtimeKit\n"));
    bus.kill();
    bus.waitForFinished();
}

#include "alsa_program_test.moc"
