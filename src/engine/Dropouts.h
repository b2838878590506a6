#pragma once

#include <algorithm>
#include <cstdint>

// What a take lost, as the audio thread counts it. Positions are frames of
// the take, lost frames included, so they are also its time.
struct Dropouts {
    struct Loss {
        std::uint64_t count = 0;    // separate losses
        std::int64_t frames = 0;    // frames lost in all
        std::int64_t firstAt = -1;  // where the first began; -1 before any
        std::int64_t lastAt = -1;   // where the latest began

        // `frames` lost at `at`: a loss of its own, or more of the latest one.
        void add(std::int64_t at, std::int64_t lost, bool separate) {
            if (separate || count == 0) {
                ++count;
                lastAt = std::max(lastAt, at);  // a loss found late may have begun earlier
                if (firstAt < 0 || at < firstAt) firstAt = at;
            }
            frames += lost;
        }
    };
    std::uint64_t take = 0;  // the take counted (AudioControls::take)
    Loss missed;             // never received: a gap in the capture's frame clock
    Loss disk;               // received, then dropped: the disk was behind
};
