// Cost of the audio thread's per-buffer step, in nanoseconds per channel-frame.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "engine/BufferProcessor.h"
#include "recording/BlockQueue.h"

namespace {

void BM_Process(benchmark::State& state) {
    const int channels = static_cast<int>(state.range(0));
    const int frames = static_cast<int>(state.range(1));
    const bool recording = state.range(2) != 0;
    BlockQueue blocks;
    BufferProcessor processor(blocks);
    processor.prepare(channels);
    AudioControls controls{channels, 48000, {}, {}, recording};
    controls.armed.assign(static_cast<std::size_t>(channels), 0);
    controls.solo.assign(static_cast<std::size_t>(channels), 0);
    for (int i = 0; i < channels && i < 8; ++i) controls.armed[static_cast<std::size_t>(i)] = 1;
    processor.publish(controls);

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
        processor.process(ptrs.data(), channels, frames);
        benchmark::ClobberMemory();
        if (recording && ++n % 64 == 0) {
            // Far faster than real time: take the blocks as the file thread
            // would, untimed, so that they are copied rather than dropped.
            state.PauseTiming();
            for (auto b = blocks.tryRead(); !b.empty(); b = blocks.tryRead()) blocks.endRead();
            state.ResumeTiming();
        }
    }
    // Seconds per channel-frame, printed with an SI prefix (p = picoseconds).
    state.counters["per_channel_frame"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * channels * frames,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["dropped_blocks"] = static_cast<double>(blocks.droppedBlocks());
}

}  // namespace

BENCHMARK(BM_Process)
    ->ArgNames({"ch", "frames", "rec"})
    ->Args({20, 256, 0})
    ->Args({20, 256, 1})
    ->Args({64, 64, 0})
    ->Args({64, 64, 1});

BENCHMARK_MAIN();
