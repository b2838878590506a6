#pragma once

#include <atomic>

#include "base/Clock.h"

// 2026-12-05 14:15:07.25 in Berlin (UTC+1), the test binaries' time zone.
inline const Clock::WallTime kAfternoon{std::chrono::milliseconds(1'796'476'507'250LL)};

// A clock that moves only when the test says so; safe to read from any thread.
class ManualClock final : public Clock {
public:
    explicit ManualClock(WallTime start = kAfternoon)
        : origin(start.time_since_epoch().count()), wall(origin) {}
    WallTime now() const override { return WallTime(WallTime::duration(wall.load())); }
    SteadyTime ticks() const override {
        const auto kept =
            keeping.load() ? std::chrono::steady_clock::now() - keptFrom : SteadyTime::duration{};
        return SteadyTime(WallTime::duration(wall - origin)) + kept;
    }
    void advance(double seconds) { wall += WallTime::rep(seconds * WallTime::period::den); }
    // Once: steady time also moves as the machine's does from now on, the
    // wall stays where it is (against a real server).
    void keepTime() { keptFrom = std::chrono::steady_clock::now(), keeping.store(true); }

private:
    const WallTime::rep origin;  // the steady ticks start at 0
    std::atomic<WallTime::rep> wall;
    std::atomic<bool> keeping{false};
    SteadyTime keptFrom;
};
