#include "engine/LossClock.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr double kStepBuffers = 1.5;      // a debt this many buffers long may be a loss
constexpr int kSteadyCycles = 4;          // it is one once it holds this many steady cycles
constexpr double kDecay = 1.0 / 64;       // of a smaller debt, every cycle: the clocks' drift
constexpr double kMostHeldSeconds = 0.5;  // a debt that never steadies is decided all the same

}  // namespace

LossClock::Verdict LossClock::next(const BufferClock& now, std::int64_t frames, int rate) {
    Verdict v;
    const BufferClock before = std::exchange(last, now);
    const std::int64_t expected = std::exchange(lastFrames, frames);
    const std::int64_t step = static_cast<std::int32_t>(now.frame - before.frame);
    const double elapsed = now.micros && before.micros
                               ? static_cast<double>(now.micros - before.micros) * rate / 1e6
                               : static_cast<double>(step);
    // Time owed counts as time behind a jump: a server that resumes may skip
    // a cycle just after the one that came late.
    const bool anotherClock =
        step < 0 || (step > expected &&
                     elapsed + std::max(debt, 0.0) < static_cast<double>(expected + step) / 2);
    if (!std::exchange(clocked, true) || frames != expected || anotherClock) {
        *this = LossClock{};
        clocked = true;
        last = now;
        lastFrames = frames;
        return v;
    }
    // Within a hold a jump is certain only once the next cycle does not take
    // it back: jackd2 may show a frame time a cycle early as it resumes from
    // a stall, then the same one again.
    jumped = std::max<std::int64_t>(jumped + step - expected, 0);
    const double buffer = static_cast<double>(frames);
    const double late = elapsed - static_cast<double>(step);  // this cycle's share of the debt
    debt += late;
    const bool owing = debt >= kStepBuffers * buffer;
    if (!holding) {
        if (owing) {
            holding = v.began = true;
            steady = 0;
            heldFrames = 0;
        } else {
            v.missed = std::exchange(jumped, 0);
            debt -= debt * kDecay;
        }
        v.holding = holding;
        return v;
    }
    steady = std::abs(late) < buffer / 2 ? steady + 1 : 0;  // not catching up, nor late again
    heldFrames += frames;
    if (owing && steady < kSteadyCycles && heldFrames < rate * kMostHeldSeconds) {
        v.holding = true;
        return v;
    }
    // Decided: what the time owes (or nothing, when jitter paid it back) and
    // the cycles missed.
    const std::int64_t owed = owing ? std::llround(debt) : 0;
    debt -= static_cast<double>(owed);
    v.found = owed + std::exchange(jumped, 0);
    holding = false;
    return v;
}
