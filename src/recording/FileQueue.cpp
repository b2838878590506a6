#include "recording/FileQueue.h"

#include <pthread.h>

#include <chrono>
#include <future>

namespace {
constexpr auto kPollInterval = std::chrono::milliseconds(10);
}

FileQueue::FileQueue(BlockQueue& queue, FailureHandler handler)
    : blocks(queue), onFailure(std::move(handler)) {
    thread = std::thread([this] { run(); });
    pthread_setname_np(thread.native_handle(), "tessaly.files");
}

FileQueue::~FileQueue() {
    {
        std::lock_guard guard(lock);
        stopping = true;
    }
    wake.release();
    thread.join();
}

void FileQueue::sync(const std::function<void()>& job) {
    std::promise<void> done;
    auto finished = done.get_future();
    {
        std::lock_guard guard(lock);
        jobs.emplace_back([&] {
            job();
            done.set_value();
        });
    }
    wake.release();
    finished.wait();
}

void FileQueue::resize(std::size_t bytes) {
    sync([&] { blocks.resize(bytes); });
}

void FileQueue::drain() {
    for (auto block = blocks.tryRead(); !block.empty(); block = blocks.tryRead()) {
        take.write(RecordBlock(block));
        blocks.endRead();
    }
    if (take.hasFailures() && onFailure) {
        onFailure(take.takeFailures(), take.exhausted(), take.generation());
    }
}

void FileQueue::run() {
    for (;;) {
        // Woken by a job, or every few milliseconds to drain the blocks.
        (void)wake.try_acquire_for(kPollInterval);
        std::unique_lock guard(lock);
        auto ready = std::move(jobs);
        jobs.clear();
        const bool last = stopping && ready.empty();
        guard.unlock();
        // Blocks published before a job was posted are written before it runs.
        drain();
        for (auto& job : ready) job();
        if (last) return;
    }
}
