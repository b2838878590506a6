// Tessaly against jack_rec on a private jackd (dummy driver, 48 kHz, 256
// frames): both record the same 20 capture ports for 60 s, one after the
// other, in one run. Tessaly also meters, mixes, feeds the headphones and
// writes 21 files; jack_rec writes one 20-channel file. CPU time is each
// recorder's own (the server's is not counted for either). Server xruns are
// counted by a watching client during each recording.
//
// HeadphoneRoundTrip: a probe clicks into tessaly:in_1 and listens on the
// first headphone port; the round trip includes the probe's own loop (one
// period), so what Tessaly adds is the rest.
//
// TESSALY_BENCH_SECONDS shortens the recordings (default 60);
// TESSALY_BENCH_DIR chooses the folder (default: /tmp/tessaly-bench).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "base/Settings.h"
#include "hardware/jack/JackSystem.h"
#include "room/RoomEngine.h"
#include "support/ClickProbe.h"
#include "support/JackServer.h"

namespace {

constexpr int kInputs = 20;

int seconds() {
    const int s = qEnvironmentVariableIntValue("TESSALY_BENCH_SECONDS");
    return s > 0 ? s : 60;
}

QString folder() {
    const QByteArray dir = qgetenv("TESSALY_BENCH_DIR");
    return dir.isEmpty() ? QDir::tempPath() + "/tessaly-bench" : QString::fromLocal8Bit(dir);
}

double cpu(const rusage& use) {
    auto s = [](timeval t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return s(use.ru_utime) + s(use.ru_stime);
}

// Counts the server's xruns while it lives.
class XrunWatch {
public:
    XrunWatch() {
        jack_status_t status{};
        client = jack_client_open("xrun-watch", JackNoStartServer, &status);
        jack_set_xrun_callback(
            client,
            [](void* self) {
                static_cast<XrunWatch*>(self)->count++;
                return 0;
            },
            this);
        jack_activate(client);
    }
    ~XrunWatch() { jack_client_close(client); }
    std::atomic<int> count{0};

private:
    jack_client_t* client = nullptr;
};

std::unique_ptr<JackServer> server;
double tessalyCpu = 0;

void runEvents(double forSeconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(forSeconds);
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void BM_Tessaly(benchmark::State& state) {
    Settings().clear();
    RoomEngine engine;
    engine.setRoot(folder());
    engine.boot();
    runEvents(0.5);
    if (!engine.running()) {
        state.SkipWithError("the engine did not start on the bench server");
        return;
    }
    for (int i = 0; i < kInputs; ++i) engine.setArmed(i, true);
    XrunWatch watch;
    for (auto _ : state) {
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        engine.record();
        runEvents(seconds());
        engine.stopRecording();
        getrusage(RUSAGE_SELF, &after);
        tessalyCpu = cpu(after) - cpu(before);
    }
    state.counters["cpu_seconds"] = tessalyCpu;
    state.counters["server_xruns"] = watch.count.load();
    state.counters["capture_xruns"] = static_cast<double>(engine.xrunNotices());
    state.counters["dropped_blocks"] = static_cast<double>(engine.droppedBlocks());
    QDir(engine.recordingFolder()).removeRecursively();
    engine.stopEngine();
}

void BM_JackRec(benchmark::State& state) {
    QDir().mkpath(folder());
    const QByteArray file = (folder() + "/jack_rec.wav").toLocal8Bit();
    const QByteArray duration = QByteArray::number(seconds());
    std::vector<QByteArray> ports;
    for (int i = 1; i <= kInputs; ++i) ports.push_back("system:capture_" + QByteArray::number(i));
    XrunWatch watch;
    double used = 0;
    int status = 0;
    for (auto _ : state) {
        std::vector<char*> argv = {const_cast<char*>("jack_rec"),
                                   const_cast<char*>("-f"),
                                   const_cast<char*>(file.constData()),
                                   const_cast<char*>("-d"),
                                   const_cast<char*>(duration.constData()),
                                   const_cast<char*>("-b"),
                                   const_cast<char*>("24")};
        for (auto& p : ports) argv.push_back(p.data());
        argv.push_back(nullptr);
        const pid_t child = fork();
        if (child == 0) {
            execvp("jack_rec", argv.data());
            _exit(127);
        }
        rusage use{};
        wait4(child, &status, 0, &use);
        used = cpu(use);
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("jack_rec failed");
    state.counters["cpu_seconds"] = used;
    state.counters["server_xruns"] = watch.count.load();
    state.counters["tessaly_to_jack_rec_cpu"] = used > 0 ? tessalyCpu / used : 0;
    QFile::remove(QString::fromLocal8Bit(file));
}

void BM_HeadphoneRoundTrip(benchmark::State& state) {
    Settings().clear();
    RoomEngine engine;
    engine.boot();
    runEvents(0.5);
    if (!engine.running()) {
        state.SkipWithError("the engine did not start on the bench server");
        return;
    }
    for (int i = 1; i < engine.channels().size(); ++i) engine.setArmed(i, false);
    constexpr int kClicks = 40;
    long trips[kClicks] = {};
    jack_nframes_t period = 0;
    for (auto _ : state) {
        ClickProbe probe("tessaly:in_1", "tessaly:out_1");
        if (!probe.connected) {
            state.SkipWithError("the probe could not connect to tessaly:in_1 and tessaly:out_1");
            break;
        }
        period = probe.period;
        for (int tries = 0; probe.heard < kClicks && tries < 100; ++tries) runEvents(0.1);
        std::copy_n(probe.trips, kClicks, trips);
    }
    std::sort(trips, trips + kClicks);
    const double median = static_cast<double>(trips[kClicks / 2]);
    state.counters["round_trip_ms"] = median * 1000.0 / 48000.0;
    state.counters["round_trip_periods"] = median / period;
    state.counters["added_periods"] = median / period - 1.0;
    state.counters["slowest_periods"] = static_cast<double>(trips[kClicks - 1]) / period;
    engine.stopEngine();
}

}  // namespace

BENCHMARK(BM_HeadphoneRoundTrip)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_Tessaly)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_JackRec)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

int main(int argc, char** argv) {
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QCoreApplication app(argc, argv);
    server = std::make_unique<JackServer>(48000, 256, QStringLiteral("tessaly-bench"));
    if (!server->up()) {
        std::fprintf(stderr, "jackd did not start\n");
        return 1;
    }
    AudioSystem::install(std::make_unique<JackSystem>());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    AudioSystem::install(nullptr);
    server.reset();
}
