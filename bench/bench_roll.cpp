// The main thread while a take rolls over to a new set: 64 armed inputs at
// 96 kHz on the simulated interface (its own real-time clock), the engine's
// 0.05 s tick driven by a timer, and the hour made to pass at once. The
// longest gap between two ticks around the roll, less the 50 ms the timer
// waits, is how long the main thread was held: the window and the link stop
// for that long. roll_job_ms is how long the roll takes on the file thread:
// what a main thread that waited for it would lose. The take goes to TESSALY_BENCH_DIR (default
// /tmp/tessaly-bench) and is deleted afterwards.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>

#include "hardware/demo/DemoSystem.h"
#include "room/RoomEngine.h"
#include "support/ManualClock.h"

namespace {

// Runs the event loop for `ms`, the engine's tick every 50 ms; the longest
// gap between two ticks.
qint64 longestGap(RoomEngine& engine, int ms) {
    QTimer tick;
    QElapsedTimer since;
    qint64 last = -1, longest = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = since.nsecsElapsed();
        if (last >= 0) longest = std::max(longest, now - last);
        last = now;
        engine.tick();
    });
    since.start();
    tick.start(50);
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return longest;
}

void BM_RollStall64x96k(benchmark::State& state) {
    const QByteArray dir = qgetenv("TESSALY_BENCH_DIR");
    const QString root = dir.isEmpty() ? QDir::tempPath() + "/tessaly-bench" : QString(dir);
    AudioSystem::install(std::make_unique<DemoSystem>(DemoSystem::Options{64, 2, 96000}));
    ManualClock clock;
    clock.keepTime();
    RoomEngine engine(clock);
    engine.setRoot(root);
    engine.refreshDevices();
    engine.startEngine();
    for (int i = 0; i < 64; ++i) engine.setArmed(i, true);
    double before = 0, during = 0, job = 0;
    for (auto _ : state) {
        engine.record();
        before = static_cast<double>(longestGap(engine, 2000));
        clock.advance(TakeRecorder::rollover);
        during = static_cast<double>(longestGap(engine, 3000));
        // The next roll, waited for as the main thread once did.
        clock.advance(TakeRecorder::rollover);
        engine.tick();
        QElapsedTimer waited;
        waited.start();
        engine.waitForFiles();
        job = static_cast<double>(waited.nsecsElapsed());
        engine.stopRecording();
        engine.waitForFiles();
        QCoreApplication::processEvents();
        state.PauseTiming();
        QDir(engine.recordingFolder()).removeRecursively();
        state.ResumeTiming();
    }
    engine.stopEngine();
    state.counters["stall_ms_before_roll"] = (before - 50e6) / 1e6;
    state.counters["stall_ms_during_roll"] = (during - 50e6) / 1e6;
    state.counters["roll_job_ms"] = job / 1e6;
    state.counters["dropped_blocks"] = static_cast<double>(engine.droppedBlocks());
}
BENCHMARK(BM_RollStall64x96k)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
