#include "base/Clock.h"

namespace {

class SystemClock final : public Clock {
public:
    WallTime now() const override { return std::chrono::system_clock::now(); }
    SteadyTime ticks() const override { return std::chrono::steady_clock::now(); }
};

}  // namespace

const Clock& Clock::system() {
    // Never destroyed: threads that outlive main() (a disk read that hangs,
    // the audio server's) may still ask it the time at exit.
    static const Clock* clock = new SystemClock;
    return *clock;
}
