#pragma once

#include <cstdio>

#include "base/Clock.h"

class RoomEngine;

// A timed diagnostic run without a window or the link: boots the engine,
// reports what it sees after 2 s, plays the test tone for 1 s while recording
// for `seconds`, reports the levels during the tone and at the end, stops and
// lists the recorded files. Everything goes to `out`. The schedule follows
// `clock` (any length of time works, however long). Returns when the run is
// over (the process then exits with status 0).
void selfTest(RoomEngine& engine, double seconds, const Clock& clock = Clock::system(),
              FILE* out = stdout);
