#include "recording/BlockRing.h"

#include <cstring>

namespace {

constexpr std::size_t roundUp(std::size_t n, std::size_t to) {
    return (n + to - 1) / to * to;
}

void putHeader(std::byte* at, std::uint32_t size) {
    std::memcpy(at, &size, sizeof size);
}

std::uint32_t getHeader(const std::byte* at) {
    std::uint32_t size;
    std::memcpy(&size, at, sizeof size);
    return size;
}

}  // namespace

BlockRing::BlockRing(std::size_t capacity)
    : cap(roundUp(capacity < 4 * kHeader ? 4 * kHeader : capacity, 2 * kHeader)),
      store(new std::byte[cap]()) {}  // zeroing touches every page now, not on the audio thread

std::byte* BlockRing::tryBeginWrite(std::size_t bytes) {
    if (bytes == 0 || bytes > maxBlock() || bytes >= kWrap) return nullptr;
    const std::size_t total = kHeader + roundUp(bytes, kHeader);
    const std::uint64_t w = writePos.load(std::memory_order_relaxed);
    const std::uint64_t used = w - readPos.load(std::memory_order_acquire);
    const std::size_t free = cap - static_cast<std::size_t>(used);
    const std::size_t offset = static_cast<std::size_t>(w % cap);
    const std::size_t tail = cap - offset;

    std::uint64_t start = w;
    if (tail < total) {
        // Skip the end of the store; the skipped bytes count as used.
        if (free < tail + total) return nullptr;
        putHeader(store.get() + offset, kWrap);
        start = w + tail;
    } else if (free < total) {
        return nullptr;
    }
    pendingStart = start;
    pendingSize = static_cast<std::uint32_t>(bytes);
    pendingWrite = start + total;
    return store.get() + static_cast<std::size_t>(start % cap) + kHeader;
}

void BlockRing::endWrite() {
    putHeader(store.get() + static_cast<std::size_t>(pendingStart % cap), pendingSize);
    writePos.store(pendingWrite, std::memory_order_release);
}

std::span<const std::byte> BlockRing::tryRead() {
    std::uint64_t r = readPos.load(std::memory_order_relaxed);
    if (r == writePos.load(std::memory_order_acquire)) return {};
    std::size_t offset = static_cast<std::size_t>(r % cap);
    std::uint32_t size = getHeader(store.get() + offset);
    if (size == kWrap) {
        // The marker and the block after it were published together.
        r += cap - offset;
        offset = 0;
        size = getHeader(store.get());
    }
    pendingRead = r + kHeader + roundUp(size, kHeader);
    return {store.get() + offset + kHeader, size};
}

void BlockRing::endRead() {
    readPos.store(pendingRead, std::memory_order_release);
}
