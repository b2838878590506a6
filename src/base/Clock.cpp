#include "base/Clock.h"

namespace {

class SystemClock final : public Clock {
public:
    WallTime now() const override { return std::chrono::system_clock::now(); }
    SteadyTime ticks() const override { return std::chrono::steady_clock::now(); }
};

}  // namespace

const Clock& Clock::system() {
    static const SystemClock clock;
    return clock;
}
