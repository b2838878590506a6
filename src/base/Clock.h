#pragma once

#include <chrono>

// The one source of time for the engine and its writers. Wall time names and
// stamps files; steady time measures intervals (header rewrites, elapsed time,
// hourly file sets) so that a clock adjustment never stretches or skips them.
// Tests substitute a clock they advance by hand, so hour-long and midnight
// behaviour is checked without waiting.
//
// Implementations must be safe to call from any thread: the file thread reads
// the clock while the main thread does.
class Clock {
public:
    using WallTime = std::chrono::system_clock::time_point;
    using SteadyTime = std::chrono::steady_clock::time_point;

    virtual ~Clock() = default;
    virtual WallTime now() const = 0;
    virtual SteadyTime ticks() const = 0;

    // One moment read from both clocks.
    struct Instant {
        WallTime wall;
        SteadyTime steady;
    };
    Instant instant() const { return {now(), ticks()}; }

    // The real clocks of the machine.
    static const Clock& system();
};

// Seconds between two steady instants, as the engine counts them.
inline double secondsBetween(Clock::SteadyTime from, Clock::SteadyTime to) {
    return std::chrono::duration<double>(to - from).count();
}
