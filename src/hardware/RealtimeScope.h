#pragma once

// Marks the stretch of a backend's audio callback in which our code runs (the
// capture and headphone callbacks, the simulated interface's buffer), so that
// checks can tell when the real-time rules apply: nothing there allocates,
// locks, waits, sleeps, logs or touches a file. Costs one thread-local
// increment. The backend's own waiting between cycles lies outside it.
class RealtimeScope {
public:
    RealtimeScope() { ++depth; }
    ~RealtimeScope() { --depth; }
    RealtimeScope(const RealtimeScope&) = delete;
    RealtimeScope& operator=(const RealtimeScope&) = delete;

    // Whether the calling thread is inside one of our audio callbacks.
    static bool active() { return depth > 0; }

private:
    static inline thread_local int depth = 0;
};
