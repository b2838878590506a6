#pragma once

#include <cstdint>

#include "base/BufferClock.h"

// Tells the audio lost between captured buffers from the capture's two clocks
// (BufferClock), each loss found after the buffer before which it happened:
//
// - Frames that jump past the previous buffer, with the time behind them,
//   are cycles we missed (our own overrun, or a cycle the server skipped):
//   lost at once; but within a hold (below), only once the next cycle does
//   not take the jump back (jackd2 may show a frame time a cycle early as it
//   resumes from a stall, then the same one again).
// - Time that passes while the frame counter moves one buffer a cycle
//   whatever happened (a server whose driver restarted after an overrun, or
//   that stalled) is owed: a debt of the time elapsed minus the frames the
//   counter moved. Jitter pays it back within a few cycles; a loss leaves a
//   lasting step. A step of at least one and a half buffers that holds for a
//   few steady cycles (or half a second, if it never steadies) is a loss,
//   before the buffer at which the step appeared. A smaller debt decays, so
//   that the two clocks may drift apart.
// - Frames that jump with no time behind them (none elapsed, none owed), or
//   go back, are a change of clock (another driver): nothing is lost, and
//   the count starts again; so it does when the buffers change size.
//
// Audio thread only; never allocates.
class LossClock {
public:
    struct Verdict {
        std::int64_t missed = 0;  // frames lost just before this buffer
        bool began = false;       // a loss may have happened just before this buffer
        bool holding = false;     // it is not decided yet
        std::int64_t found = 0;   // decided: frames lost where the last hold began
    };
    // The next buffer: `frames` long, at `clock`, at `rate` Hz.
    Verdict next(const BufferClock& clock, std::int64_t frames, int rate);

private:
    bool clocked = false;
    BufferClock last;
    std::int64_t lastFrames = 0;
    double debt = 0.0;        // frames of time owed
    std::int64_t jumped = 0;  // frames the counter jumped, not yet certain
    bool holding = false;
    int steady = 0;               // steady cycles in a row since the hold began
    std::int64_t heldFrames = 0;  // since it began
};
