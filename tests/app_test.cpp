// The shell: its arguments, the built program as a child in each mode, the
// self-test report, the quit rule.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStorageInfo>
#include <QTimer>
#include <set>

#include "app/LaunchOptions.h"
#include "app/MainWindow.h"
#include "app/SelfTest.h"
#include "hardware/Permission.h"
#include "hardware/demo/DemoSystem.h"
#include "recording/TakeRepair.h"
#include "support/ControlRoom.h"
#include "support/Program.h"
#include "support/RecordingFixture.h"

TEST(Arguments, SelfTestSecondsAndWhatOverridesWhat) {
    auto parse = [](QStringList a) { return LaunchOptions::parse(QStringList{"tessaly"} + a); };
    EXPECT_EQ(parse({"--selftest"}).selfTestSeconds, 5.0);
    EXPECT_EQ(parse({"--selftest", "2.5"}).selfTestSeconds, 2.5);
    for (const char* odd : {"soon", "-1", "inf", "nan", "2s"})
        EXPECT_EQ(parse({"--selftest", odd}).selfTestSeconds, 5.0) << odd;
    EXPECT_EQ(parse({"-headless", "--selftest", "-hidden"}).mode, LaunchOptions::Mode::selfTest);
    EXPECT_EQ(parse({"-hidden", "-headless"}).mode, LaunchOptions::Mode::headless);
    EXPECT_TRUE(parse({"-hidden", "--whatever"}).hidden);
    EXPECT_EQ(parse({"-HEADLESS"}).mode, LaunchOptions::Mode::windowed);  // case matters
    EXPECT_FALSE(parse({"--backend", "pulse"}).error.isEmpty());
    EXPECT_EQ(parse({"--alsa-pcm", "a", "--alsa-pcm", "b"}).alsaPcms, (QStringList{"a", "b"}));
    EXPECT_FALSE(parse({"--alsa-pcm", "--selftest"}).error.isEmpty());
}

// A take ends with exact files and exit status 0 in every mode: headless when its parent ends (the
// kernel then sends SIGTERM), hidden on SIGINT. The hidden window records on the Control Room's
// command, and a second launch hands over to it (to show its window) and ends.
TEST_F(Program, EveryModeEndsATakeCleanly) {
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);  // orphans come to us, to see them end
    ControlRoom room;
    settings().setServer(room.address());
    for (const QString mode : {"-headless", "-hidden"}) {
        const QString root = home.path() + "/takes" + mode;
        settings().setRootPath(root);
        QProcess parent;  // a shell that starts the recorder and ends with its input
        launch(parent, {"-c", "\"$0\" $1 --backend demo & echo $!; read x", TESSALY_BINARY, mode},
               "sh");
        ASSERT_TRUE(parent.waitForReadyRead(5000));
        const auto recorder = static_cast<pid_t>(parent.readLine().trimmed().toInt());
        ASSERT_GT(recorder, 0);  // never 0: kill() would take the whole process group
        int status = -1;         // until the recorder is reaped
        const auto stray = qScopeGuard([&] { status == -1 ? ::kill(recorder, SIGKILL) : 0; });
        auto take = [&] {  // the folder of the first file recorded
            QDirIterator it(root, {"*.wav"}, QDir::Files, QDirIterator::Subdirectories);
            return it.hasNext() ? QFileInfo(it.next()).path() : QString();
        };
        ASSERT_TRUE(waitFor([&] {  // once it is linked, the Control Room starts a take
            room.send({R"({"type":"record","on":true})"});
            return !take().isEmpty();
        })) << mode.toStdString();
        QThread::msleep(700);
        if (mode == "-headless") {  // the link as it runs: 5 messages a second, a retry in 2 s
            const qsizetype before = room.messages().size();
            runFor(1.0);
            EXPECT_NEAR(room.messages().size() - before, 5, 1);
            const int linked = room.connections();
            QElapsedTimer lost;
            lost.start();
            room.closeClient();
            ASSERT_TRUE(waitFor([&] { return room.connections() > linked; }));
            EXPECT_NEAR(lost.elapsed(), 2000, 400);
        }
        if (mode == "-hidden") {
            QProcess second;
            launch(second, {"--backend", "demo"});
            EXPECT_TRUE(second.waitForFinished(5000) && second.exitCode() == 0);
            ::kill(recorder, SIGINT);
        }
        parent.closeWriteChannel();
        EXPECT_TRUE(waitFor(
            [&] { return status != -1 || waitpid(recorder, &status, WNOHANG) == recorder; }, 500));
        EXPECT_EQ(status, 0) << mode.toStdString();  // a normal exit, with 0
        expectExactHeaders(take().toStdString());
    }
}

// Installable: the desktop entry and the metainfo pass their validators, the man page says what
// --help says, and the Debian package installs into a scratch root and runs from there, its JACK
// library among its dependencies.
TEST_F(Program, ThePackageInstallsAndRunsFromAScratchRoot) {
    auto output = [&](const QString& program, const QStringList& args) {
        QProcess p;
        launch(p, args, program);
        EXPECT_TRUE(p.waitForFinished(120000) && p.exitCode() == 0) << program.toStdString();
        return QString::fromUtf8(p.readAllStandardOutput());
    };
    const QString scratch = home.path() + "/scratch", share = scratch + "/root/usr/share/";
    output("cpack", {"-G", "DEB", "-B", scratch, "--config", TESSALY_BUILD "/CPackConfig.cmake"});
    const QString deb = QDir(scratch).entryInfoList({"*.deb"}).value(0).filePath();
    EXPECT_TRUE(
        output("dpkg-deb", {"-f", deb, "Depends"}).contains("libjack-jackd2-0 | pipewire-jack"));
    output("dpkg", {"-x", deb, scratch + "/root"});
    output("desktop-file-validate", {share + "applications/org.tessaly.Tessaly.desktop"});
    output("appstreamcli",
           {"validate", "--no-net", share + "metainfo/org.tessaly.Tessaly.metainfo.xml"});
    EXPECT_TRUE(QFile::exists(share + "icons/hicolor/scalable/apps/org.tessaly.Tessaly.svg"));
    const QString manual =
        output("man", {"--nh", "--nj", "-l", share + "man/man1/tessaly.1"}).simplified();
    const QString installed = scratch + "/root/usr/bin/tessaly",
                  help = output(installed, {"--help"});
    const auto options =
        help.mid(help.indexOf("\n\n  ") + 4).split(QRegularExpression("\n  (?! )"));
    EXPECT_EQ(options.size(), 12);
    for (const QString& option : options)
        EXPECT_TRUE(manual.contains(option.simplified())) << option.toStdString();
    EXPECT_EQ(output(installed, {"--version"}) + output(installed + "-room", {"--version"}),
              "tessaly 0.1.0\ntessaly-room 0.1.0\n");
    for (const char* unit : {"tessaly-recorder.service", "tessaly-room.service"})
        EXPECT_TRUE(QFile::exists(scratch + "/root/usr/lib/systemd/user/" + unit)) << unit;
    EXPECT_TRUE(
        output(installed, {"--backend", "demo", "--selftest", "1"}).contains("running: true"));
}

// logind on the system bus, as the recorder meets it: Inhibit hands out the
// write end of a pipe, whose read end hangs up once the lock is given back.
class Login1 : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public Q_SLOTS:
    QDBusUnixFileDescriptor Inhibit(QString what, QString who, QString why, QString mode) {
        asked = QStringList{what, who, why, mode}.join(u'|');
        int ends[2] = {-1, -1};
        EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        const QDBusUnixFileDescriptor given(ends[1]);  // a copy goes out
        return readEnd = ends[0], ::close(ends[1]), given;
    }

public:
    bool held() const {
        return readEnd >= 0 && ::poll(std::array{pollfd{readEnd, 0, 0}}.data(), 1, 0) == 0;
    }
    QString asked;
    int readEnd = -1;
};

// PipeWire as a desktop runs it, no wrapper: a private pipewire, wireplumber and session bus, one
// card's 20-in source (playing a file through ALSA's file plugin: channel c carries frame + 1000 c,
// modulo 65536) and 20-out sink, and default speakers. Found through PipeWire's JACK library, the
// card's samples are recorded exactly and in step; with no output device the headphones play on the
// default sink; the take goes on after the source went and came back, holding logind's lock (a
// stand-in on the bus) throughout.
TEST_F(Program, PipeWireWithoutAWrapper) {
    // Its wireplumber without Bluetooth, which would want logind's session folders.
    const QString noBluez = home.path() + "/config/wireplumber/bluetooth.lua.d";
    QFile raw(home.path() + "/capture.raw"), alsa(home.path() + "/.asoundrc"),
        bluez(noBluez + "/51-off.lua");
    ASSERT_TRUE(raw.open(QIODevice::WriteOnly) && alsa.open(QIODevice::WriteOnly) &&
                QDir().mkpath(noBluez) && bluez.open(QIODevice::WriteOnly) &&
                bluez.write("bluez_monitor.enabled = false\n"));
    std::vector<std::uint32_t> samples(10 * 48000 * 20);  // 10 s
    for (std::uint32_t i = 0; i < samples.size(); ++i)
        samples[i] = ((i / 20 + 1000 * (i % 20)) % 65536) << 16;
    raw.write(reinterpret_cast<const char*>(samples.data()), std::ssize(samples) * 4);
    alsa.write("pcm.card { type file slave.pcm null file /dev/null format raw infile \"" +
               raw.fileName().toUtf8() + "\" }\n");
    raw.close(), alsa.close(), bluez.close();
    QProcess bus, pipewire, wireplumber, recorder;
    bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    ASSERT_TRUE(bus.waitForReadyRead(5000));
    const QByteArray address = bus.readLine().trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
    Login1 logind;
    QDBusConnection stand = QDBusConnection::connectToBus(address, "login1");
    ASSERT_TRUE(stand.registerService("org.freedesktop.login1"));
    stand.registerObject("/org/freedesktop/login1", &logind, QDBusConnection::ExportAllSlots);
    launch(pipewire, {}, "pipewire");
    ASSERT_TRUE(waitFor([&] { return QFile::exists(home.path() + "/runtime/pipewire-0"); }));
    launch(wireplumber, {}, "wireplumber");
    auto pw = [&](const QStringList& args, const QString& tool = "pw-cli") {  // "ok": it succeeded
        QProcess p;
        launch(p, args, tool);
        return p.waitForFinished(10000) && p.exitCode() == 0 ? p.readAll() + "ok" : QByteArray();
    };
    const QString name = "alsa_input.usb-Focusrite_Scarlett_18i20_USB_P9AB-00.pro-input-0";
    auto node = [&](const QString& kind, const QString& id, int channels = 20,
                    const QString& description = "Scarlett 18i20 USB Pro") {  // and its ports
        pw({"create-node", "adapter",
            QString("{ factory.name = api.alsa.pcm.%1 node.name = %2 media.class = Audio/%3 "
                    "node.description = \"%4\" api.alsa.path = card audio.channels = %5 "
                    "api.alsa.disable-mmap = true audio.format = S32LE audio.rate = 48000 "
                    "object.linger = true }")
                .arg(kind.toLower(), id, kind, description)
                .arg(channels)});
        return waitFor([&] { return pw({"ls", "Port"}).contains(description.toUtf8() + ":"); });
    };
    const QString speakers = "alsa_output.pci-0000_00_1f.3.analog-stereo";  // the default sink
    ASSERT_TRUE(node("Source", name) && node("Sink", QString(name).replace("input", "output")) &&
                node("Sink", speakers, 2, "Built-in Audio Analog Stereo"));
    for (const QString key : {"default.configured.audio.sink", "default.audio.sink"})
        pw({"0", key, QString(R"({"name":"%1"})").arg(speakers)}, "pw-metadata");
    launch(recorder, {"--selftest", "1"});
    ASSERT_TRUE(recorder.waitForFinished(30000));
    EXPECT_TRUE(recorder.readAllStandardError().contains("server: PipeWire, through "));
    const QStringList out = QString(recorder.readAllStandardOutput()).split('\n');
    EXPECT_EQ(out.value(0),
              "status: Scarlett 18i20 USB Pro — 20 inputs at 48 kHz · headphones: "
              "Scarlett 18i20 USB Pro");
    std::set<int> channels;
    for (int line = 6, first = -1; line < 14; ++line) {  // the eight inputs' files
        const SndRead r = readWithSndfile(
            (out.value(2).section(" → ", 1) + "/" + out.value(line).mid(13)).toStdString());
        ASSERT_TRUE(r.ok && r.info.frames > 24000) << out.value(line).toStdString();
        // To the nearest step: full scale is 2^23 - 1.
        auto count = [&](sf_count_t f) { return ((r.samples[f] + 128) >> 8) & 0xFFFF; };
        const int at = count(0);
        first = first < 0 ? at : first;
        channels.insert((at - first + 65536) % 65536);
        for (sf_count_t f = 0, next = at; f < r.info.frames; ++f) {
            // Time a loaded server lost stands as silence; this card keeps its samples.
            if (count(f) == next % 65536)
                ++next;
            else
                ASSERT_EQ(r.samples[f], 0) << line << " @" << f;
        }
    }
    EXPECT_EQ(channels, (std::set{0, 1000, 2000, 3000, 4000, 5000, 6000, 7000}));
    ControlRoom room;
    settings().setServer(room.address());
    launch(recorder, {"-headless"});
    auto says = [&](const char* key, const QString& value) {  // the latest status message
        return waitFor([&] { return room.latest(key).contains(value); });
    };
    ASSERT_TRUE(waitFor([&] {
        return room.send({R"({"type":"device","output":"none"})"}), says("outputUID", "none");
    }));
    EXPECT_TRUE(waitFor([&] {  // pw-link may list only some of the links: seen once is enough
        const QByteArray links = pw({"-l"}, "pw-link"), to = speakers.toUtf8() + ":playback_F";
        return links.contains(to + "L\n  |<- ") && links.contains(to + "R\n  |<- ");
    }));
    ASSERT_TRUE(waitFor(
        [&] { return room.send({R"({"type":"record","on":true})"}), says("recording", "true"); }));
    EXPECT_TRUE(waitFor([&] { return logind.held(); }));
    ASSERT_TRUE(!pw({"destroy", name}).isEmpty() && says("status", "Audio interface disconnected"));
    EXPECT_TRUE(logind.held());  // the take waits to go on: the machine stays awake
    ASSERT_TRUE(node("Source", name) &&
                says("status", " · recording resumed after the interface came back"));
    runFor(2);  // past the guard after the start: nothing is left to restart for
    EXPECT_TRUE(says("inputUID", "Scarlett 18i20 USB Pro") && says("folder", "Recording 3 - "));
    EXPECT_TRUE(waitFor([&] { return logind.held(); }) &&
                logind.asked == "sleep:idle|Tessaly|Recording|block");
    ::kill(static_cast<pid_t>(recorder.processId()), SIGTERM);
    EXPECT_TRUE(recorder.waitForFinished(10000) && recorder.exitCode() == 0 && !logind.held());
    for (QDirIterator it(home.path(), {"Recording *"}, QDir::Dirs, QDirIterator::Subdirectories);
         it.hasNext();)
        EXPECT_EQ(expectExactHeaders(it.next().toStdString()), 9);  // 8 inputs and the mix
}

// The self-test on a stepped interface, its schedule on a clock that moves
// with the audio: the report is exact and quick, however long the run.
class SelfTestRun : public RecordingTest {
protected:
    // `perTick` seconds of schedule pass with every 4 buffers (default: their length).
    QStringList run(double seconds, DemoSystem::Options options, double perTick = 4 * 256 / 48e3) {
        auto* demo = new DemoSystem(options);
        AudioSystem::install(std::unique_ptr<DemoSystem>(demo));
        ManualClock schedule;
        QTimer buffers;
        int ticks = 0;
        QObject::connect(&buffers, &QTimer::timeout, [&] {
            demo->step(4);
            schedule.advance(perTick);
            if (++ticks % 2 == 0) engine.tick();  // the meters' tick, every 8 buffers
        });
        buffers.start(1);
        char text[1 << 14] = {};  // the report, however long the run, and a nul after it
        FILE* out = fmemopen(text, sizeof text - 1, "w");
        selfTest(engine, seconds, schedule, out);
        std::fclose(out);
        return QString(text).replace(root.path(), "<root>").split('\n', Qt::SkipEmptyParts);
    }
};

TEST_F(SelfTestRun, TheReportOnTheSimulatedInterface) {
    Permission::setGranted(false);
    QStringList out = run(1.0, {20, 20, 48000, false});
    Permission::setGranted(true);
    EXPECT_EQ(out, (QStringList{"status: Microphone access denied — System Settings → Privacy → "
                                "Microphone → Tessaly",
                                "running: false  inputs: 0  armed: 0"}));
    out = run(2.0, {20, 20, 48000, false});
    ASSERT_EQ(out.size(), 6 + 9);
    EXPECT_EQ(out[0],
              "status: Tessaly Demo Interface (simulated) — 20 inputs at 48 kHz · "
              "headphones: Tessaly Demo Interface (simulated)");
    EXPECT_EQ(out[1], "running: true  inputs: 20  armed: 8");
    EXPECT_EQ(out[2], "recording → <root>/Dec 5/Recording 1 - 2.15 PM");
    // Levels print as N.NNN: every input during the tone, the headphones and
    // the loopback pair, then the first 8 inputs and the mix.
    auto match = [](const QString& line, QString pattern) {
        const auto m =
            QRegularExpression("^" + pattern.replace("N", R"((\d\.\d{3}))") + "$").match(line);
        EXPECT_TRUE(m.hasMatch()) << line.toStdString();
        return m;
    };
    match(out[3], "during tone — peaks all 20 inputs: (N ){19}N");
    const auto tone = match(out[4], "during tone — headphones meter: N  loopback 19/20: N N");
    EXPECT_NEAR(tone.captured(1).toDouble(), 0.25, 0.01);  // the tone in the headphones
    EXPECT_NEAR(tone.captured(2).toDouble(), 0.25, 0.01);  // and back through the loopback
    match(out[5], "peaks \\(first 8\\): (N ){7}N   mix: N");
    const QString take = root.path() + "/Dec 5/Recording 1 - 2.15 PM/";
    const QString mix = "Mix - Dec 5 - 2.15.07 PM.wav";
    EXPECT_EQ(out[6], QString::asprintf("  %9lld  ", QFileInfo(take + mix).size()) + mix);
    for (int i = 7; i < out.size(); ++i) EXPECT_LT(out[i - 1].mid(13), out[i].mid(13));  // sorted
    expectExactHeaders(take.toStdString());
    // A device name that looks like a text template stays what it is; a take
    // that cannot start says why.
    QFile(root.path() + "/plain").open(QIODevice::WriteOnly);
    engine.setRoot(root.path() + "/plain");
    out = run(1.0, {18, 20, 48000, false, "%1 %2 Box (simulated)"});
    EXPECT_TRUE(out[0].startsWith("status: %1 %2 Box (simulated) — 18 inputs at 48 kHz"));
    EXPECT_EQ(out[2], "recording → Recording not started: <root>/plain/Dec 5: Not a directory");
    EXPECT_TRUE(out[4].endsWith("  loopback 19/20: n/a")) << out[4].toStdString();
    engine.setRoot(root.path());
    // 3,000,000 s is more milliseconds than a Qt timer can count.
    EXPECT_EQ(run(3'000'000, {20, 20, 48000, false}, 250'000).size(), 6 + 9);
}

using QuitRule = RecordingTest;

TEST_F(QuitRule, AskingBeforeStoppingATake) {
    open({"In 1", "In 2"});
    MainWindow window(engine);
    window.close();  // closing only hides: the engine goes on
    EXPECT_TRUE(engine.running());
    record();
    auto answer = [](const QString& button) {
        QTimer::singleShot(0, [button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_TRUE(box);
            EXPECT_EQ(box->text() + " " + box->informativeText(),
                      "Still recording Stop the recording and quit?");
            for (QAbstractButton* b : box->buttons()) {
                // What it shows: no mnemonic hides a letter, "&&" draws an ampersand.
                EXPECT_TRUE(QKeySequence::mnemonic(b->text()).isEmpty()) << b->text().toStdString();
                if (QString(b->text()).replace("&&", "&") == button) b->click();
            }
        });
    };
    answer("Cancel");
    EXPECT_TRUE(!window.requestQuit() && engine.recording());
    answer("Stop & Quit");
    EXPECT_TRUE(window.requestQuit() && !engine.running() && !engine.recording());
    engine.startEngine();
    EXPECT_TRUE(window.requestQuit());  // not recording: no question
    EXPECT_FALSE(engine.running());
}

using Crash = RecordingTest;  // not with the recording tests: TSan is wrong about forks

// A recorder killed at named moments of its take, and files cut as a power cut leaves them: the
// next start makes every file describe its whole frames, each sample kept as it was written, and
// says so; a second start finds nothing to do; a take still being written, or on a volume not
// mounted now, is left alone.
TEST_F(Crash, TakesCutOffAreRepairedAtTheNextStart) {
    for (const QString moment : {"created", "written", "roll"})
        EXPECT_EQ(QProcess::execute(TESSALY_TAKE_CHILD, {root.path() + "/" + moment, moment}), -1);
    const QString sine =
        root.path() + "/written/Dec 5/Recording 1 - 2.15 PM/Sine %1 Hz - Dec 5 - 2.15.07 PM.wav";
    ASSERT_TRUE(QFile::resize(sine.arg(110), 654 + 3 * 1000 + 2));  // mid-frame
    ASSERT_TRUE(QFile::resize(sine.arg(131), 300));                 // inside the header: left alone
    const QString copy = root.path() + "/running/copy.wav";  // a stale file of a running take
    QDir().mkpath(root.path() + "/running");
    QFile::copy(sine.arg(370), copy);
    const auto mark = OpenTakeMark::create(root.path() + "/running");
    QFile unmounted(OpenTakeMark::folder() + "/unmounted.take");
    EXPECT_TRUE(unmounted.open(QIODevice::WriteOnly) && unmounted.write("/media/gone/take\n") &&
                unmounted.flush());
    std::map<QString, std::vector<std::uint8_t>> before;
    int stale = 0;
    for (QDirIterator it(root.path(), {"*.wav"}, QDir::Files, QDirIterator::Subdirectories);
         it.hasNext();) {
        const QString file = it.next();
        before[file] = readBytes(file.toStdString());
        stale += before[file].size() >= 654 && !exactHeader(before[file]) && file != copy;
    }
    ASSERT_GT(stale, 4) << "the crash left every header exact";
    audio->list = {{1, "Box", "box", 1, 0}};
    engine.boot();
    ASSERT_TRUE(waitFor([&] { return engine.running(); }));
    // Only the take killed between two header rewrites had files to repair.
    EXPECT_EQ(engine.status().toStdString(), "Box — 1 inputs at 48 kHz · recovered " +
                                                 std::to_string(stale) +
                                                 " files of Recording 1 - 2.15 PM");
    for (const auto& [name, bytes] : before) {
        const auto now = readBytes(name.toStdString());
        stale -= now != bytes;
        if (bytes.size() < 654 || name == copy) {
            EXPECT_EQ(now, bytes) << name.toStdString();
            continue;
        }
        EXPECT_TRUE(exactHeader(now)) << name.toStdString();
        if (name.contains("/written/") && !name.contains("110 Hz")) {  // at most 0.25 s lost
            EXPECT_GE((now.size() - 654) / (3 * now[632]), 1087 * 256 - 12000)
                << name.toStdString();
        }
        EXPECT_TRUE(std::equal(now.begin() + 8, now.begin() + 650, bytes.begin() + 8) &&
                    std::equal(now.begin() + 654, now.end(), bytes.begin() + 654));
    }
    EXPECT_EQ(stale, 0);
    EXPECT_TRUE(TakeRepair::recoverOpenTakes(OpenTakeMark::folder()).empty() && unmounted.exists());
}

using Card = RecordingTest;  // it forks, like the crash test

// A real exFAT volume, as on cards and sticks: an image on a loop device, mounted with exfat-fuse.
// Labels carrying each character it refuses still give every armed input a file, exact and
// described as typed.
TEST_F(Card, AnExfatCardTakesEveryLabel) {
    QTemporaryDir volume;
    auto run = [](const QString& tool, const QStringList& args) {  // its output, when it succeeds
        QProcess p;
        p.start(tool, args);
        const bool ok = p.waitForFinished(20000) && p.exitCode() == 0;
        return ok ? std::optional(QString(p.readAll()).trimmed()) : std::nullopt;
    };
    QFile image(volume.path() + ".img");
    const auto cleanup = qScopeGuard([&] { image.remove(); });
    if (::geteuid() != 0 || !QFile::exists("/dev/fuse") || !image.open(QIODevice::WriteOnly) ||
        !image.resize(32 << 20) || !run("mkfs.exfat", {image.fileName()}))
        GTEST_SKIP() << "needs root, /dev/fuse, mkfs.exfat and mount.exfat-fuse";
    const auto loop = run("losetup", {"--find", "--show", image.fileName()});
    if (!loop || !run("mount.exfat-fuse", {*loop, volume.path()}))
        GTEST_SKIP() << "no free loop device, or exfat-fuse could not mount it";
    const auto detach = qScopeGuard([&] {
        run("umount", {volume.path()}), run("losetup", {"-d", *loop});
    });
    ASSERT_TRUE(QStorageInfo(volume.path()).fileSystemType().startsWith("fuse"));
    engine.setRoot(volume.path());
    open(QString("12345678").split("", Qt::SkipEmptyParts));
    const QStringList labels{"Vox?",  "Gtr \"L\"", "Kick*",   "a\\b",
                             "<Amb>", "x|y",       "Cue\x01", "CON"};
    for (int i = 0; i < 8; ++i) engine.setName(i, labels[i]);
    record();
    capture(8).buffers(40);
    stop();
    EXPECT_EQ(engine.status(), "Saved to " + engine.recordingFolder());
    ASSERT_EQ(expectExactHeaders(engine.recordingFolder().toStdString()), 9);
    EXPECT_FALSE(takeFiles().join('|').contains("Input ")) << "a name needed its fallback";
    QStringList described;
    for (const QString& name : takeFiles()) {
        const SndRead r = readWithSndfile(inTake(name));
        EXPECT_EQ(r.info.frames, 40 * 256) << name.toStdString();
        described << r.bext.description;
    }
    EXPECT_EQ(QSet(described.begin(), described.end()), QSet(labels.begin(), labels.end())
                                                            << "Mix of all armed inputs");
}

#include "app_test.moc"
