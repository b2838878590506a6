#pragma once

#include <cstdint>
#include <vector>

#include "base/NominalRate.h"

// Everything the audio thread needs from the main thread for one buffer, as
// one consistent set: it is published whole through a TripleBuffer, never
// changed in place while the audio thread may read it.
struct AudioControls {
    int channels = 0;                 // inputs of the open device
    int rate = kNominalRate;          // their rate, Hz
    std::vector<std::uint8_t> armed;  // per channel, as the channel list has them
    std::vector<std::uint8_t> solo;
    bool recording = false;         // hand recorded blocks to the file thread
    std::uint64_t take = 0;         // a new number for every take: its losses count from 0
    std::uint64_t toneRequest = 0;  // a new number for every tone request
    std::int64_t toneFrames = 0;    // length of the latest request
};
