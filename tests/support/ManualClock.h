#pragma once

#include <atomic>

#include "base/Clock.h"

// A clock that moves only when the test says so; safe to read from any thread.
class ManualClock final : public Clock {
public:
    explicit ManualClock(WallTime start = WallTime(std::chrono::seconds(1'765'000'000)))
        : wall(start.time_since_epoch().count()) {}
    WallTime now() const override { return WallTime(WallTime::duration(wall.load())); }
    SteadyTime ticks() const override { return SteadyTime(SteadyTime::duration(steady.load())); }
    void advance(double seconds) {
        const std::chrono::duration<double> d(seconds);
        wall += std::chrono::duration_cast<WallTime::duration>(d).count();
        steady += std::chrono::duration_cast<SteadyTime::duration>(d).count();
    }

private:
    std::atomic<WallTime::rep> wall;
    std::atomic<SteadyTime::rep> steady{0};
};
