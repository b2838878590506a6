#pragma once

#include <cstdint>
#include <vector>

#include "engine/RoomEngine.h"
#include "support/EngineProbe.h"

// Plays the audio thread's part: feeds an engine buffers of a known signal,
// where every sample can be told from every other, and keeps count.
class Feed {
public:
    Feed(RoomEngine& e, int channels) : engine(e), data(static_cast<std::size_t>(channels)) {}

    // The sample of `channel` at frame `frame` since the start of the feed.
    static float sample(int channel, std::int64_t frame) {
        return static_cast<float>((frame * 7 + channel * 1000) % 20000 - 10000) / 16384.0f;
    }

    void buffers(int count, int frames = 256) {
        std::vector<const float*> ptrs;
        for (int b = 0; b < count; ++b) {
            ptrs.clear();
            for (std::size_t c = 0; c < data.size(); ++c) {
                data[c].resize(static_cast<std::size_t>(frames));
                for (int f = 0; f < frames; ++f) data[c][f] = sample(static_cast<int>(c), done + f);
                ptrs.push_back(data[c].data());
            }
            engine.process(ptrs.data(), static_cast<std::int64_t>(ptrs.size()), frames);
            done += frames;
        }
    }
    // Waits until the file thread has written everything fed so far.
    void settle() {
        RoomEngineProbe::onFiles(engine, [](TakeFiles&) {});
    }

    std::int64_t frames() const { return done; }

private:
    RoomEngine& engine;
    std::vector<std::vector<float>> data;
    std::int64_t done = 0;
};
