// Cost of the audio thread's per-buffer step, in nanoseconds per channel-frame.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "engine/RoomEngine.h"
#include "support/EngineProbe.h"

namespace {

void BM_Process(benchmark::State& state) {
    const int channels = static_cast<int>(state.range(0));
    const int frames = static_cast<int>(state.range(1));
    const bool recording = state.range(2) != 0;
    RoomEngine engine;
    std::vector<bool> armed(static_cast<std::size_t>(channels), false);
    for (int i = 0; i < channels && i < 8; ++i) armed[static_cast<std::size_t>(i)] = true;
    RoomEngineProbe::start(engine, channels, 48000, armed);
    // While recording, the file thread drains the blocks; with no file open it
    // writes nothing, so this measures the audio side only.
    RoomEngineProbe::setRecording(engine, recording);

    // One buffer per channel, each starting on a cache line, as JACK's port
    // buffers do: otherwise the heap's layout decides the result.
    const std::size_t stride = (static_cast<std::size_t>(frames) + 15) / 16 * 16;
    std::unique_ptr<float, decltype(&std::free)> block(
        static_cast<float*>(
            std::aligned_alloc(64, stride * sizeof(float) * static_cast<std::size_t>(channels))),
        &std::free);
    std::vector<const float*> ptrs;
    unsigned seed = 1;
    for (int c = 0; c < channels; ++c) {
        float* ch = block.get() + stride * static_cast<std::size_t>(c);
        for (int f = 0; f < frames; ++f) {
            seed = seed * 1664525u + 1013904223u;
            ch[f] = static_cast<float>(seed >> 8) / 16777216.0f - 0.5f;
        }
        ptrs.push_back(ch);
    }
    std::int64_t n = 0;
    for (auto _ : state) {
        engine.process(ptrs.data(), channels, frames);
        benchmark::ClobberMemory();
        if (recording && ++n % 256 == 0) {
            // Far faster than real time: let the file thread catch up, untimed,
            // so that blocks are copied rather than dropped.
            state.PauseTiming();
            RoomEngineProbe::onFiles(engine, [](TakeFiles&) {});
            state.ResumeTiming();
        }
    }
    // Seconds per channel-frame, printed with an SI prefix (p = picoseconds).
    state.counters["per_channel_frame"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * channels * frames,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["dropped_blocks"] = static_cast<double>(engine.droppedBlocks());
}

}  // namespace

BENCHMARK(BM_Process)
    ->ArgNames({"ch", "frames", "rec"})
    ->Args({20, 256, 0})
    ->Args({20, 256, 1})
    ->Args({64, 64, 0})
    ->Args({64, 64, 1});

BENCHMARK_MAIN();
