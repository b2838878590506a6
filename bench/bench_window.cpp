// CPU used by the main thread with the window open on the simulated interface
// with 64 inputs and "Show all inputs" on, the meters moving at 20 Hz, on the
// offscreen platform (painting included). Goal: under 10 % of one core.
//
// TESSALY_BENCH_SECONDS sets the measured time (default 10).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>

#include "hardware/demo/DemoSystem.h"
#include "room/RoomEngine.h"
#include "ui/RootView.h"

namespace {

double threadCpu() {
    rusage use{};
    getrusage(RUSAGE_THREAD, &use);
    auto s = [](timeval t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return s(use.ru_utime) + s(use.ru_stime);
}

void runFor(double seconds) {
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

void BM_Window64Inputs(benchmark::State& state) {
    const int s = qEnvironmentVariableIntValue("TESSALY_BENCH_SECONDS");
    const double seconds = s > 0 ? s : 10;
    AudioSystem::install(std::make_unique<DemoSystem>(DemoSystem::Options{64, 20, 48000}));
    RoomEngine engine;
    RootView view(engine, engine);
    view.resize(1000, 600);
    view.show();
    engine.boot();
    runFor(0.5);
    engine.setShowAll(true);
    for (int i = 0; i < 64; ++i) engine.setArmed(i, i % 3 != 0);  // some rows faded
    runFor(0.5);
    double used = 0;
    for (auto _ : state) {
        const double before = threadCpu();
        runFor(seconds);
        used = threadCpu() - before;
    }
    state.counters["main_thread_cpu_percent"] = 100.0 * used / seconds;
    state.counters["rows"] = static_cast<double>(engine.channels().size());
    engine.stopEngine();
}

}  // namespace

BENCHMARK(BM_Window64Inputs)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

int main(int argc, char** argv) {
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    AudioSystem::install(nullptr);
}
