// Our WAV writer against libsndfile writing the same 24-bit file from the
// same float data into the same folder. Each iteration writes one new
// 10-second stereo file at 48 kHz in 1024-frame buffers, as the file thread
// does; the previous file is removed outside the timed part. Both end with
// data and header on stable storage: our writer syncs when it closes, and
// libsndfile is asked to (header update, then sf_write_sync).
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "recording/WAVWriter.h"

namespace {

constexpr int kRate = 48000;
constexpr int kChannels = 2;
constexpr int kFrames = 10 * kRate;
constexpr int kBuffer = 1024;

const std::vector<float>& signal() {
    static const std::vector<float> data = [] {
        std::vector<float> v(static_cast<std::size_t>(kFrames) * kChannels);
        for (std::size_t i = 0; i < v.size(); ++i)
            v[i] = 0.8f * std::sin(0.0137f * static_cast<float>(i));
        return v;
    }();
    return data;
}

std::filesystem::path target(const char* name) {
    const char* dir = std::getenv("TESSALY_BENCH_DIR");
    std::filesystem::path folder =
        dir ? dir : std::filesystem::temp_directory_path() / "tessaly-bench";
    std::filesystem::create_directories(folder);
    return folder / name;
}

// Removes the last iteration's file without timing it.
void removeUntimed(benchmark::State& state, const std::filesystem::path& path) {
    state.PauseTiming();
    std::filesystem::remove(path);
    state.ResumeTiming();
}

void setBytes(benchmark::State& state) {
    state.SetBytesProcessed(state.iterations() * kFrames * kChannels * 3);
}

void BM_TessalyWAVWriter(benchmark::State& state) {
    const auto path = target("tessaly.wav");
    const auto& data = signal();
    for (auto _ : state) {
        auto w = WAVWriter::create({path, kChannels, kRate, Clock::WallTime{}, "Tessaly", "bench"});
        for (int f = 0; f < kFrames; f += kBuffer) w->write(data.data() + f * kChannels, kBuffer);
        w->close();
        removeUntimed(state, path);
    }
    setBytes(state);
}

void BM_LibsndfileWritefFloat(benchmark::State& state) {
    const auto path = target("libsndfile.wav");
    const auto& data = signal();
    for (auto _ : state) {
        SF_INFO info{};
        info.samplerate = kRate;
        info.channels = kChannels;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
        SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
        if (!f) {
            state.SkipWithError("libsndfile could not open the file");
            return;
        }
        for (int i = 0; i < kFrames; i += kBuffer)
            sf_writef_float(f, data.data() + i * kChannels, kBuffer);
        sf_command(f, SFC_UPDATE_HEADER_NOW, nullptr, 0);
        sf_write_sync(f);
        sf_close(f);
        removeUntimed(state, path);
    }
    setBytes(state);
}

}  // namespace

BENCHMARK(BM_TessalyWAVWriter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibsndfileWritefFloat)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
