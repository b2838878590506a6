#pragma once

#include <cstdint>

// Where a captured buffer stands on its device's two clocks, as the backend
// read them on entering its audio callback: the device's frame counter at
// the buffer's first frame (it wraps), and a monotonic clock in
// microseconds. A backend with no such clock leaves `micros` at 0: then the
// frames alone tell what was lost.
struct BufferClock {
    std::uint32_t frame = 0;
    std::uint64_t micros = 0;
};
