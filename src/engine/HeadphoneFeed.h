#pragma once

#include <cstdint>
#include <vector>

#include "engine/RingBuffer.h"

// What the headphone output's callback holds: the monitor ring, the ratio of
// the capture rate to the output rate, and a scratch block made once per
// start. It does not hold the engine.
struct HeadphoneFeed {
    static constexpr std::int64_t maxFrames = 8192;

    HeadphoneFeed(RingBuffer& r, double rateRatio)
        : ring(r), ratio(rateRatio), scratch(static_cast<std::size_t>(maxFrames), 0.0f) {}

    // Output thread: the same mono feed on every channel. Never allocates.
    static void pull(void* self, float* const* outputs, int channels, std::int64_t frames);

    RingBuffer& ring;
    const double ratio;
    std::vector<float> scratch;
    bool started = false;  // output thread: the first pull takes the newest samples
};
