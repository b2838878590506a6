#include "engine/HeadphoneFeed.h"

#include <algorithm>

void HeadphoneFeed::pull(void* self, float* const* outputs, int channels, std::int64_t frames) {
    auto* feed = static_cast<HeadphoneFeed*>(self);
    float* const* end = outputs + std::max(channels, 0);
    float* const* first = std::find_if(outputs, end, [](float* out) { return out != nullptr; });
    if (first == end || frames < 1) return;
    if (!feed->started) {
        // Whatever the capture pushed before the output ran is already late.
        feed->ring.catchUp();
        feed->started = true;
    }
    // Straight into the first output, whatever the period; the rest copy it.
    feed->ring.pop(*first, static_cast<int>(frames), feed->ratio);
    for (float* const* out = first + 1; out != end; ++out) {
        if (*out) std::copy_n(*first, frames, *out);
    }
}
