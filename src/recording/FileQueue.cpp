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

void FileQueue::drain(bool all) {
    for (auto bytes = blocks.tryRead(); !bytes.empty(); bytes = blocks.tryRead()) {
        const RecordBlock block(bytes);
        // A loss before it may still be found: it waits, unless a job needs
        // every block written now (then a loss found later goes further on).
        if (!all && block.position() >= blocks.heldFrom()) break;
        take.silence(blocks.takeGapsUpTo(block.position()));
        take.write(block);
        blocks.endRead();
    }
    // A job that follows collects them itself: a take that ends counts them.
    if (!all && take.hasFailures() && onFailure) {
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
        drain(!ready.empty() || last);
        for (auto& job : ready) job();
        if (last) return;
    }
}
