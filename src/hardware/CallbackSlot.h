#pragma once

#include <atomic>
#include <thread>

// An object that one real-time thread uses for the length of a call, and that
// the main thread replaces: the hand-over of a callback without a lock.
//
// Contract: one using thread (the audio thread of one stream) and one
// replacing thread. use() never waits or allocates; exchange() returns only
// when no call is using the old object any more, which takes at most one
// audio buffer, so the caller may then free it. The slot owns nothing.
template <typename T>
class CallbackSlot {
public:
    // Audio thread: runs `f` with the current object, if there is one.
    template <typename F>
    void use(F&& f) {
        busy.store(true, std::memory_order_seq_cst);
        if (T* object = current.load(std::memory_order_seq_cst)) f(*object);
        busy.store(false, std::memory_order_release);
    }

    // Main thread: installs `fresh` (or nothing) and returns the old object
    // once no call can still be using it.
    T* exchange(T* fresh) {
        T* old = current.exchange(fresh, std::memory_order_seq_cst);
        while (busy.load(std::memory_order_seq_cst)) std::this_thread::yield();
        return old;
    }

    // Main thread: the current object.
    T* get() const { return current.load(std::memory_order_relaxed); }

private:
    std::atomic<T*> current{nullptr};
    std::atomic<bool> busy{false};
};
