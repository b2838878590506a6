#include "recording/FileThread.h"

#include <pthread.h>

#include <future>
#include <memory>

namespace {
constexpr auto kPollInterval = std::chrono::milliseconds(10);
}

FileThread::FileThread(BlockQueue& queue, FailureHandler handler)
    : blocks(queue), onFailure(std::move(handler)) {
    thread = std::thread([this] { run(); });
    pthread_setname_np(thread.native_handle(), "tessaly.files");
}

FileThread::~FileThread() {
    stop();
}

void FileThread::stop() {
    {
        std::lock_guard guard(lock);
        stopping = true;
    }
    wake.release();
    if (thread.joinable()) thread.join();
}

void FileThread::post(std::function<void()> job) {
    {
        std::lock_guard guard(lock);
        const std::uint64_t after = blocks.published();
        if (jobs.empty()) firstJobAfter.store(after, std::memory_order_release);
        jobs.push_back({after, std::move(job)});
    }
    wake.release();
}

bool FileThread::waitIdle(std::chrono::milliseconds limit) {
    // Shared: a job that runs after the wait gave up still has its promise.
    auto done = std::make_shared<std::promise<void>>();
    post([done] { done->set_value(); });
    return done->get_future().wait_for(limit) == std::future_status::ready;
}

void FileThread::resize(std::size_t bytes) {
    post([this, bytes] { blocks.resize(bytes); });
}

void FileThread::drain(bool all, std::uint64_t upTo) {
    // A job posted meanwhile takes the blocks that came after it.
    auto before = [&] {
        return blocks.read() < std::min(upTo, firstJobAfter.load(std::memory_order_acquire));
    };
    for (auto bytes = blocks.tryRead(); before() && !bytes.empty(); bytes = blocks.tryRead()) {
        const RecordBlock block(bytes);
        // A loss before it may still be found: it waits, unless a job needs
        // every block written now (then a loss found later goes further on).
        if (!all && block.position() >= blocks.heldFrom()) break;
        begun.fetch_add(1, std::memory_order_release);
        take.silence(blocks.takeGapsUpTo(block.position()));
        take.write(block);
        ended.fetch_add(1, std::memory_order_release);
        blocks.endRead();
    }
    // A job that follows collects them itself: a take that ends counts them.
    if (!all && take.hasFailures() && onFailure) {
        onFailure(take.takeFailures(), take.exhausted(), take.generation());
    }
}

void FileThread::run() {
    for (;;) {
        // Woken by a job, or every few milliseconds to drain the blocks.
        (void)wake.try_acquire_for(kPollInterval);
        std::unique_lock guard(lock);
        auto ready = std::move(jobs);
        jobs.clear();
        firstJobAfter.store(kNoJob, std::memory_order_release);
        const bool last = stopping && ready.empty();
        guard.unlock();
        for (Job& job : ready) {
            // Blocks published before it was posted are written before it
            // runs, and those after it, after: a roll splits the take exactly.
            drain(true, job.after);
            begun.fetch_add(1, std::memory_order_release);
            job.run();
            ended.fetch_add(1, std::memory_order_release);
        }
        drain(last, firstJobAfter.load(std::memory_order_acquire));
        if (last) return;
    }
}
