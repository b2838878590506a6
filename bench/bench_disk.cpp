// What watching the free disk space costs: one read of the volume (statvfs,
// on the disk thread once a second), and what the main thread does on each
// 0.05 s tick (hand over the folder to watch, take the latest figure, word it).
// And the tick's share of the dropout bookkeeping: take the audio thread's
// latest counts and the block ring's fill, and word the note when they moved.
#include <benchmark/benchmark.h>

#include <QDir>
#include <filesystem>

#include "base/RemainingTime.h"
#include "engine/BufferProcessor.h"
#include "recording/BlockQueue.h"
#include "recording/DiskSpace.h"
#include "room/DropoutReport.h"

namespace {

const std::string kFolder = std::filesystem::temp_directory_path().string();

void BM_FreeSpaceRead(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(DiskSpace::freeBytes(kFolder));
}
BENCHMARK(BM_FreeSpaceRead);

void BM_TickDiskBookkeeping(benchmark::State& state) {
    DiskSpace disk(Clock::system());
    const QString folder = QString::fromStdString(kFolder) + "/Dec 5/Recording 3 - 2.15 PM";
    for (auto _ : state) {
        disk.watch(folder);
        const DiskSpace::Reading now = disk.latest();
        const double left = now.free ? static_cast<double>(*now.free) / 1'440'000.0 : -1.0;
        benchmark::DoNotOptimize(remainingText(left));
    }
}
BENCHMARK(BM_TickDiskBookkeeping);

// range(0): 0, nothing lost (the usual tick); 1, a new dropout before every
// tick (the note is worded again each time, a log line once a second).
void BM_TickDropoutBookkeeping(benchmark::State& state) {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    BlockQueue queue;
    BufferProcessor processor(queue);
    DropoutReport report(Clock::system());
    report.begin(1);
    Dropouts counts;
    counts.take = 1;
    std::int64_t at = 0;
    for (auto _ : state) {
        if (state.range(0) == 1) counts.missed.add(at += 48000, 256, true);
        const Dropouts& latest = state.range(0) == 1 ? counts : processor.dropouts();
        benchmark::DoNotOptimize(report.update(latest, queue.fill(), 48000));
    }
    qInstallMessageHandler(nullptr);
}
BENCHMARK(BM_TickDropoutBookkeeping)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
