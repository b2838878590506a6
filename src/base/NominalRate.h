#pragma once

// The studio's sample rate, Hz: what the video is cut at, the rate the engine
// assumes while nothing runs, and the only one without a warning.
inline constexpr int kNominalRate = 48000;
