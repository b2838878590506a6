// A hundred thousand hostile frames from a Control Room (valid commands with
// bytes changed, noise, well-formed JSON of every type) as fast as it sends
// them; then an ordinary command must still be obeyed. Measures how fast the
// link digests them and that it survives.
#include "QtBenchMain.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <chrono>
#include <thread>

#include "HostileFrames.h"
#include "base/Settings.h"
#include "link/RoomLink.h"
#include "room/RoomEngine.h"
#include "support/ControlRoom.h"
#include "support/FakeAudio.h"

namespace {

bool waitFor(const std::function<bool()>& done, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done() && std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

void BM_HostileFrames(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    QTemporaryDir root;
    auto audio = std::make_unique<FakeAudio>();
    audio->list = {{1, "Scarlett 4i4", "uid-1", 4, 4}, {2, "Headphone Amp", "uid-2", 0, 2}};
    AudioSystem::install(std::move(audio));
    RoomEngine engine;
    engine.setRoot(root.path());
    engine.refreshDevices();
    engine.startEngine();
    ControlRoom room;
    Settings().setServer(room.address());
    RoomLink link(engine, engine);
    link.start();
    if (!waitFor([&] { return engine.linkConnected(); }, 10)) {
        state.SkipWithError("the link did not connect");
        return;
    }
    const QList<QByteArray> frames = hostileFrames(count);
    bool survived = false;
    for (auto _ : state) {
        room.send(frames);
        room.send({R"({"type":"record","on":false})", R"({"type":"device","input":"uid-1"})",
                   R"({"type":"set","i":1,"name":"after the storm"})"});
        survived = waitFor(
            [&] {
                return engine.channels().size() == 4 &&
                       engine.channels()[1].name == "after the storm";
            },
            120);
    }
    if (!survived || !engine.linkConnected()) state.SkipWithError("the link did not survive");
    state.counters["frames_per_second"] =
        benchmark::Counter(static_cast<double>(count), benchmark::Counter::kIsRate);
    engine.stopEngine();
}

}  // namespace

BENCHMARK(BM_HostileFrames)->Arg(100'000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

int main(int argc, char** argv) {
    return qtBenchMain(argc, argv);
}
