#pragma once

#include <array>
#include <atomic>
#include <cstdint>

// Hands a value from one writer thread to one reader thread without a lock:
// the latest published value wins, older ones are skipped.
//
// Contract: exactly one writer (back, publish) and one reader (read). Both
// are wait-free; neither allocates. The reader's value stays untouched until
// its next read(), so it may be used for a whole audio buffer. Three slots:
// one the writer fills, one the reader holds, one in between.
template <typename T>
class TripleBuffer {
public:
    // Writer: the slot to fill; only the writer sees it until publish().
    T& back() { return slots[backIndex]; }
    // Writer: makes back() the newest value and gives the writer a free slot.
    void publish() {
        backIndex = middle.exchange(static_cast<std::uint8_t>(backIndex | kFresh),
                                    std::memory_order_acq_rel) &
                    kIndex;
    }
    // Reader: the newest published value, or the one it had when none is new.
    const T& read() {
        if (middle.load(std::memory_order_acquire) & kFresh) {
            frontIndex = middle.exchange(frontIndex, std::memory_order_acq_rel) & kIndex;
        }
        return slots[frontIndex];
    }
    // Only while neither side runs: every slot, to size them alike.
    std::array<T, 3>& all() { return slots; }

private:
    static constexpr std::uint8_t kIndex = 3;
    static constexpr std::uint8_t kFresh = 4;

    std::array<T, 3> slots{};
    std::uint8_t backIndex = 0;  // writer only
    alignas(64) std::atomic<std::uint8_t> middle{1};
    alignas(64) std::uint8_t frontIndex = 2;  // reader only
};
