// What the start-up repair of takes cut off by a crash costs: with nothing to
// repair (no marker left, however many takes the recording root holds) and
// with 100 left-open takes of 21 files each (20 inputs and the mix), every
// file holding 2 s more than its header says. Each iteration lays the takes
// out again outside the timed part; the repair syncs every file it changes.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <cstdlib>
#include <filesystem>

#include "recording/OpenTakeMark.h"
#include "recording/TakeRepair.h"
#include "recording/WAVWriter.h"

namespace {

constexpr int kTakes = 100;
constexpr int kFiles = 21;

QString benchFolder() {
    const char* dir = std::getenv("TESSALY_BENCH_DIR");
    return QString::fromLocal8Bit(
               dir ? dir : (std::filesystem::temp_directory_path() / "tessaly-bench").c_str()) +
           "/repair";
}

// 100 takes whose headers describe no data; markers for them when `open`.
void layOut(bool open) {
    const QString root = benchFolder();
    QDir(root).removeRecursively();
    QDir().mkpath(root + "/state/Tessaly");
    qputenv("XDG_STATE_HOME", (root + "/state").toUtf8());
    const auto mono = WAVWriter::header(1, 48000, {}, "Tessaly", "Input");
    const auto stereo = WAVWriter::header(2, 48000, {}, "Tessaly", "Mix of all armed inputs");
    const QByteArray twoSeconds(2 * 48000 * 3, '\x11');
    for (int t = 0; t < kTakes; ++t) {
        const QString take = root + QString("/Dec 5/Recording %1 - 2.15 PM").arg(t + 1);
        QDir().mkpath(take);
        for (int f = 0; f < kFiles; ++f) {
            const auto& head = f == 0 ? stereo : mono;
            QFile file(take + QString("/Input %1.wav").arg(f));
            file.open(QIODevice::WriteOnly);
            file.write(reinterpret_cast<const char*>(head.data()), std::ssize(head));
            file.write(f == 0 ? twoSeconds + twoSeconds : twoSeconds);
        }
        if (!open) continue;
        QFile marker(OpenTakeMark::folder() + QString("/%1.take").arg(t));
        marker.open(QIODevice::WriteOnly);
        marker.write(take.toUtf8() + '\n');
    }
}

void BM_StartWithNothingToRepair(benchmark::State& state) {
    layOut(false);
    for (auto _ : state)
        benchmark::DoNotOptimize(TakeRepair::recoverOpenTakes(OpenTakeMark::folder()));
}
BENCHMARK(BM_StartWithNothingToRepair)->Unit(benchmark::kMicrosecond);

void BM_StartRepairing100Takes(benchmark::State& state) {
    int repaired = 0;
    for (auto _ : state) {
        state.PauseTiming();
        layOut(true);
        state.ResumeTiming();
        for (const auto& take : TakeRepair::recoverOpenTakes(OpenTakeMark::folder()))
            repaired += take.repaired;
    }
    state.counters["files"] = benchmark::Counter(repaired, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_StartRepairing100Takes)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_LOGGING_RULES", "*.info=false");  // one log line per take
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    QDir(benchFolder()).removeRecursively();
}
