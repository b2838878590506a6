#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

// Plays the audio thread's part: hands buffers of a known signal, where every
// sample can be told from every other, to a capture callback, and keeps count.
class Feed {
public:
    using Sink = std::function<void(const float* const*, std::int64_t, std::int64_t)>;
    Feed(Sink s, int channels) : sink(std::move(s)), data(static_cast<std::size_t>(channels)) {}
    // The sample of `channel` at frame `frame` since the start of the feed.
    static float sample(int channel, std::int64_t frame) {
        return static_cast<float>((frame * 7 + channel * 1000) % 20000 - 10000) / 16384.0f;
    }
    // What the mix carries at frame `f` when inputs 0 and 1 are armed: both at 1/√2.
    static float mixOfTwo(std::int64_t f) {
        return (sample(0, f) + sample(1, f)) * (1.0f / std::sqrt(2.0f));
    }
    void buffers(int count, int frames = 256) {
        std::vector<const float*> ptrs;
        for (auto& d : data) d.resize(static_cast<std::size_t>(frames)), ptrs.push_back(d.data());
        for (int b = 0; b < count; ++b, done += frames) {
            for (std::size_t c = 0; c < data.size(); ++c)
                for (int f = 0; f < frames; ++f) data[c][f] = sample(static_cast<int>(c), done + f);
            sink(ptrs.data(), std::ssize(ptrs), frames);
        }
    }
    std::int64_t frames() const { return done; }

private:
    Sink sink;
    std::vector<std::vector<float>> data;
    std::int64_t done = 0;
};
