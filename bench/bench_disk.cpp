// What watching the free disk space costs: one read of the volume (statvfs,
// on the disk thread once a second), and what the main thread does on each
// 0.05 s tick (hand over the folder to watch, take the latest figure, word it).
#include <benchmark/benchmark.h>

#include <QDir>
#include <filesystem>

#include "base/RemainingTime.h"
#include "recording/DiskSpace.h"

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

}  // namespace

BENCHMARK_MAIN();
