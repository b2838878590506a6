// A recorder on the stepped, counting demo interface, killed (SIGKILL) at
// a moment of its take: "created" (its files just made), "written" (5.8 s
// in: data since the last header rewrite) or "roll" (the next set begun).
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <QCoreApplication>
#include <thread>

#include "hardware/demo/DemoSystem.h"
#include "room/RoomEngine.h"
#include "support/ManualClock.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    auto* demo = new DemoSystem({20, 20, 48000, false, "Demo", true});
    AudioSystem::install(std::unique_ptr<DemoSystem>(demo));
    ManualClock clock;
    RoomEngine engine(clock);
    engine.setRoot(argv[1]);
    engine.refreshDevices();
    engine.startEngine();
    engine.record();
    engine.waitForFiles();
    QCoreApplication::processEvents();  // the take's files are open
    const std::string moment = argv[2];
    if (moment == "created") ::raise(SIGKILL);
    // Each buffer written before the clock moves on: headers rewritten at fixed frames.
    for (int b = 0; b < 1087; ++b, clock.advance(DemoSystem::bufferFrames / 48000.0))
        demo->step(1), engine.waitForFiles();
    if (moment == "written") ::raise(SIGKILL);
    const int watch = inotify_init1(IN_CLOEXEC);
    inotify_add_watch(watch, engine.recordingFolder().toUtf8().constData(), IN_CREATE);
    std::thread([watch] {
        char event[4096];
        if (::read(watch, event, sizeof event) > 0) ::raise(SIGKILL);
    }).detach();
    clock.advance(3600);
    engine.tick();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    return 1;  // not killed: no new set began
}
