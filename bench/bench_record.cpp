// Recording throughput: 64 inputs at 96 kHz through the audio thread's
// hand-off, the file thread and the WAV writers to disk, with the header
// rewrites and their fdatasync. CPU time covers every thread of the process.
//
// FastAsPossible feeds 30 s of audio, waiting for the file thread only so
// that no block is dropped; RealTimePace feeds 10 s at the pace of the
// hardware. The take is deleted afterwards. TESSALY_BENCH_DIR chooses the
// folder (default: /tmp/tessaly-bench).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QDir>
#include <chrono>
#include <thread>

#include "engine/BufferProcessor.h"
#include "recording/TakeRecorder.h"
#include "support/Feed.h"

namespace {

constexpr int kChannels = 64;
constexpr int kRate = 96000;
constexpr int kFrames = 256;

double cpuSeconds() {
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    auto seconds = [](timeval t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(use.ru_utime) + seconds(use.ru_stime);
}

QString benchFolder() {
    const QByteArray dir = qgetenv("TESSALY_BENCH_DIR");
    return dir.isEmpty() ? QDir::tempPath() + "/tessaly-bench" : QString::fromLocal8Bit(dir);
}

void record(benchmark::State& state, double audioSeconds, bool realTime) {
    // The processor and the take recorder, as the engine wires them.
    TakeRecorder recorder(Clock::system(), [](std::function<void()> answer) { answer(); }, {});
    BufferProcessor processor(recorder.blocks());
    processor.prepare(kChannels);
    recorder.prepare(kChannels, kRate);
    AudioControls controls{kChannels, kRate, std::vector<std::uint8_t>(kChannels, 1),
                           std::vector<std::uint8_t>(kChannels, 0)};
    std::vector<TakeInput> inputs;
    for (int i = 0; i < kChannels; ++i) inputs.push_back({i, QString("In %1").arg(i + 1)});
    // One buffer of signal made in advance, so that only the recorder is measured.
    std::vector<std::vector<float>> data(kChannels, std::vector<float>(kFrames));
    std::vector<const float*> ptrs;
    for (int c = 0; c < kChannels; ++c) {
        for (int f = 0; f < kFrames; ++f) data[c][f] = Feed::sample(c, f);
        ptrs.push_back(data[c].data());
    }
    const int buffers = static_cast<int>(audioSeconds * kRate / kFrames);
    double cpu = 0;
    for (auto _ : state) {
        recorder.start(
            {benchFolder(), std::nullopt, inputs, kRate, Clock::system().instant(), {}, 0.0}, {});
        recorder.waitForFiles();
        controls.recording = true;
        processor.publish(controls);
        const double cpuBefore = cpuSeconds();
        auto next = std::chrono::steady_clock::now();
        for (int b = 0; b < buffers; ++b) {
            processor.process(ptrs.data(), kChannels, kFrames);
            if (realTime) {
                next += std::chrono::microseconds(kFrames * 1'000'000LL / kRate);
                std::this_thread::sleep_until(next);
            } else if (b % 500 == 499) {
                // About 1.3 s of audio, far less than the ring holds: wait for the disk.
                recorder.waitForFiles();
            }
        }
        controls.recording = false;
        processor.publish(controls);
        recorder.stop(benchFolder(), Status::ok("Saved to "));
        recorder.waitForFiles();
        cpu = cpuSeconds() - cpuBefore;
        state.PauseTiming();
        QDir(recorder.folder()).removeRecursively();
        state.ResumeTiming();
    }
    const double written = static_cast<double>(buffers) * kFrames / kRate;  // seconds of audio
    state.counters["channel_hours_per_cpu_s"] = kChannels * written / 3600.0 / cpu;
    state.counters["cpu_percent_at_real_time"] = 100.0 * cpu / written;
    state.counters["dropped_blocks"] = static_cast<double>(recorder.droppedBlocks());
}

void BM_Record64x96k_FastAsPossible(benchmark::State& state) {
    record(state, 30.0, false);
}
void BM_Record64x96k_RealTimePace(benchmark::State& state) {
    record(state, 10.0, true);
}

}  // namespace

BENCHMARK(BM_Record64x96k_FastAsPossible)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_Record64x96k_RealTimePace)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
