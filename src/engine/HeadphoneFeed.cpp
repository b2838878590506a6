#include "engine/HeadphoneFeed.h"

#include <algorithm>

void HeadphoneFeed::pull(void* self, float* const* outputs, int channels, std::int64_t frames) {
    auto* feed = static_cast<HeadphoneFeed*>(self);
    if (frames > maxFrames) {
        // Nothing is taken from the ring; and silence rather than whatever the
        // output buffers last held.
        for (int c = 0; c < channels; ++c) std::fill_n(outputs[c], frames, 0.0f);
        return;
    }
    if (!feed->started) {
        // Whatever the capture pushed before the output ran is already late.
        feed->ring.catchUp();
        feed->started = true;
    }
    feed->ring.pop(feed->scratch.data(), static_cast<int>(frames), feed->ratio);
    for (int c = 0; c < channels; ++c) {
        if (outputs[c]) std::copy_n(feed->scratch.data(), frames, outputs[c]);
    }
}
