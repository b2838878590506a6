#include "engine/LossClock.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr double kStepBuffers = 1.5;  // a debt this many buffers long may be a loss
constexpr int kSteadyCycles = 4;      // it is one once it holds this many steady cycles
constexpr double kDecay = 1.0 / 64;   // of a smaller debt, every cycle: the clocks' drift

}  // namespace

LossClock::Verdict LossClock::next(const BufferClock& now, std::int64_t frames, int rate) {
    Verdict v;
    const BufferClock before = std::exchange(last, now);
    const std::int64_t expected = std::exchange(lastFrames, frames);
    if (!std::exchange(clocked, true) || frames != expected) {
        debt = 0.0;
        holding = false;
        return v;
    }
    const std::int64_t step = static_cast<std::int32_t>(now.frame - before.frame);
    const double elapsed = now.micros && before.micros
                               ? static_cast<double>(now.micros - before.micros) * rate / 1e6
                               : static_cast<double>(step);
    // Time owed counts as time behind a jump: a server that resumes may skip
    // a cycle just after the one that came late. A counter that moved less
    // than a buffer (jackd2 may repeat one as it catches up) owes the rest.
    if (step < 0 || (step > expected &&
                     elapsed + std::max(debt, 0.0) < static_cast<double>(expected + step) / 2)) {
        // Back, or ahead with no time behind it: another clock.
        debt = 0.0;
        holding = false;
        return v;
    }
    v.missed = std::max<std::int64_t>(step - expected, 0);
    const double buffer = static_cast<double>(frames);
    const double late = elapsed - static_cast<double>(step);  // this cycle's share of the debt
    debt = std::max(debt + late, -buffer);
    if (debt < kStepBuffers * buffer) {
        holding = false;  // jitter, paid back
        debt -= debt * kDecay;
    } else if (!holding) {
        holding = v.began = true;
        steady = 0;
    } else if (std::abs(late) >= buffer / 2) {
        steady = 0;  // catching up, or late again
    } else if (++steady >= kSteadyCycles) {
        v.found = std::llround(debt);
        debt -= static_cast<double>(v.found);
        holding = false;
    }
    v.holding = holding;
    return v;
}
