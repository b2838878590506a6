// tessaly: the windowed recorder, its headless and self-test modes. Every way
// out passes through finish(), so open recordings are closed exactly.

#include <unistd.h>

#include <QApplication>
#include <QDebug>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/LaunchOptions.h"
#include "app/MainWindow.h"
#include "app/ParentWatch.h"
#include "app/SelfTest.h"
#include "app/SignalBridge.h"
#include "app/SingleInstance.h"
#include "base/Instance.h"
#include "base/Settings.h"
#include "hardware/Permission.h"
#include "hardware/alsa/AlsaSystem.h"
#include "hardware/demo/DemoSystem.h"
#include "hardware/jack/JackSystem.h"
#include "link/RoomLink.h"
#include "room/RoomEngine.h"

namespace {

void installBackend(const LaunchOptions& o) {
    // The switch, else what the box keeps; JACK unless asked: a recorder
    // started before its sound server must not take the card from it.
    QString backend = o.backend.isEmpty() ? Settings().backend() : o.backend;
    if (!LaunchOptions::knownBackend(backend)) {
        if (!backend.isEmpty())
            qWarning().noquote()
                << QStringLiteral("settings: unknown backend \"%1\", using jack").arg(backend);
        backend = QStringLiteral("jack");
    }
    if (backend == u"demo") {
        qInfo().noquote() << QStringLiteral("audio: the simulated interface");
        DemoSystem::Options demo;
        demo.inputs = o.demoInputs;
        demo.rate = o.demoRate;
        demo.loseEvery = o.demoLoseEvery;
        AudioSystem::install(std::make_unique<DemoSystem>(demo));
    } else if (backend == u"alsa") {
        qInfo().noquote() << QStringLiteral("audio: ALSA, the cards opened directly");
        AudioSystem::install(std::make_unique<AlsaSystem>(o.alsaPcms));
    } else {
        qInfo().noquote() << QStringLiteral("audio: JACK (jackd, or PipeWire's JACK library)");
        AudioSystem::install(std::make_unique<JackSystem>());
    }
    // For trying the refusal path, as a user who denied access would see it.
    if (qEnvironmentVariable("TESSALY_MICROPHONE") == u"denied") Permission::setGranted(false);
}

// The end of every mode, once the window and the link are gone: the take
// ended and its files closed. A volume that does not answer within the limit
// must not hold the program: the log names the files whose syncs did not
// finish, their crash marker stays for the repair at the next start, and the
// program ends with 1 at once (a thread the kernel holds in a sync may still
// keep the process until the disk answers; nothing else does).
int finish(RoomEngine& engine) {
    engine.stopEngine();
    if (engine.waitForFiles(RoomEngine::filesWait)) return 0;
    std::_Exit(1);
}

// SIGTERM and SIGINT end every mode the same way: engine stopped, then finish().
SignalBridge* stopOnSignals(RoomEngine& engine) {
    return new SignalBridge([&engine](int) {
        engine.stopEngine();
        QCoreApplication::exit(0);
    });
}

bool haveDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

int windowed(int argc, char** argv, const LaunchOptions& o) {
    if (SingleInstance::handOff()) return 0;  // the running instance shows its window
    if (!haveDisplay()) {
        std::fputs("tessaly: no display to open a window on; use -headless or --selftest\n",
                   stderr);
        return 1;
    }
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);  // closing the window only hides it
    installBackend(o);
    RoomEngine& engine = RoomEngine::shared();
    MainWindow window(engine);
    SingleInstance instance;
    instance.listen([&window] { window.reveal(); });
    stopOnSignals(engine)->setParent(&app);
    if (!o.hidden) window.reveal();
    engine.boot();
    auto link = std::make_unique<RoomLink>(engine, engine);
    link->start();
    app.exec();
    window.hide();
    link.reset();  // the Control Room sees it go at once
    return finish(engine);
}

int headless(int argc, char** argv, const LaunchOptions& o, pid_t parent) {
    QCoreApplication app(argc, argv);
    installBackend(o);
    RoomEngine& engine = RoomEngine::shared();
    stopOnSignals(engine)->setParent(&app);
    ParentWatch watch(parent, [&engine] {
        engine.stopEngine();
        QCoreApplication::exit(0);
    });
    engine.boot();
    auto link = std::make_unique<RoomLink>(engine, engine);
    link->start();
    app.exec();
    link.reset();
    return finish(engine);
}

int runSelfTest(int argc, char** argv, const LaunchOptions& o) {
    QCoreApplication app(argc, argv);
    installBackend(o);
    RoomEngine& engine = RoomEngine::shared();
    stopOnSignals(engine)->setParent(&app);
    selfTest(engine, o.selfTestSeconds);
    return finish(engine);
}

}  // namespace

int main(int argc, char** argv) {
    const pid_t parent = ::getppid();  // before anything can make us an orphan unnoticed
    QStringList args;
    for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
    const LaunchOptions o = LaunchOptions::parse(args);
    if (!o.error.isEmpty()) {
        std::fprintf(stderr, "tessaly: %s\n", qUtf8Printable(o.error));
        return 2;
    }
    if (!o.instance.isEmpty()) instance::setName(o.instance);
    if (!o.server.isEmpty()) Settings::overrideServer(o.server);
    switch (o.mode) {
        case LaunchOptions::Mode::help:
            std::fputs(qUtf8Printable(usage()), stdout);
            return 0;
        case LaunchOptions::Mode::version:
            std::puts("tessaly " TESSALY_VERSION);
            return 0;
        case LaunchOptions::Mode::selfTest:
            return runSelfTest(argc, argv, o);
        case LaunchOptions::Mode::headless:
            return headless(argc, argv, o, parent);
        case LaunchOptions::Mode::windowed:
            return windowed(argc, argv, o);
    }
    return 0;
}
