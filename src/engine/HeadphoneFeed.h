#pragma once

#include <cstdint>

#include "engine/RingBuffer.h"

// What the headphone output's callback holds: the monitor ring and the ratio
// of the capture rate to the output rate. It does not hold the engine.
struct HeadphoneFeed {
    HeadphoneFeed(RingBuffer& r, double rateRatio) : ring(r), ratio(rateRatio) {}

    // Output thread: the same mono feed on every channel. Never allocates.
    static void pull(void* self, float* const* outputs, int channels, std::int64_t frames);

    RingBuffer& ring;
    const double ratio;
    bool started = false;  // output thread: the first pull takes the newest samples
};
