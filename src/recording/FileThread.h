#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <semaphore>
#include <thread>
#include <vector>

#include "recording/BlockQueue.h"
#include "recording/TakeFiles.h"

// The file thread ("tessaly.files"): it owns the open files of the take and
// is the only thread that touches them. Its two inputs:
//
// - recorded blocks from the audio thread, through the block queue: the
//   audio thread reserves a block, copies into it and publishes it without
//   ever waiting; when there is no room (the disk is too slow) it drops the
//   block and counts it;
// - jobs posted by the main thread (make folders, open a take, roll to a
//   new set, close), each of which runs only after every block published
//   before it was posted has been written (held back or not). Posting never
//   waits: a disk that stops answering holds this thread, never the main one.
//
// The thread polls the ring every few milliseconds rather than being woken by
// the audio thread, so the audio side never makes a system call.
class FileThread {
public:
    // Called on the file thread when files of set `generation` failed while
    // being written; `exhausted` says that no file of it is left to write.
    using FailureHandler = std::function<void(std::vector<FileFailure> failures, bool exhausted,
                                              std::uint64_t generation)>;

    explicit FileThread(BlockQueue& blocks, FailureHandler onFailure = {});
    ~FileThread();  // stop()
    // Runs the jobs posted and writes what is queued, then ends the thread.
    void stop();
    FileThread(const FileThread&) = delete;
    FileThread& operator=(const FileThread&) = delete;

    // Main thread: runs `job` on the file thread after every block already published.
    void post(std::function<void()> job);
    // Waits until every job posted so far has run, at most `limit`; false
    // when they have not (the disk does not answer). For tests, benchmarks
    // and the end of the program: the main thread never waits otherwise.
    bool waitIdle(std::chrono::milliseconds limit = std::chrono::hours(24));

    // Main thread, with no block in flight: the block ring becomes one of
    // `bytes`, after the file thread wrote what the old one holds.
    void resize(std::size_t bytes);

    // Any thread: the largest sample data of any open file, in bytes.
    std::uint64_t largestFile() const { return take.largestFile(); }
    // Any thread: a count of the pieces of work (a job, a block written, a
    // file opened or closed) begun, and whether a job or a block is under
    // way now. No progress for long: the disk does not answer.
    std::uint64_t workBegun() const { return begun.load(std::memory_order_acquire) + take.steps(); }
    bool working() const { return begun.load() != ended.load(std::memory_order_acquire); }

    // Any thread: the files whose closing sync has not finished.
    std::vector<std::string> unsynced() const { return take.unsynced(); }

    // File thread only (inside jobs): the open files of the take.
    TakeFiles& files() { return take; }

private:
    void run();
    static constexpr std::uint64_t kNoJob = ~std::uint64_t{0};
    // Writes the blocks published so far, up to the `upTo`th and never past
    // a job waiting; `all`: those held back too.
    void drain(bool all, std::uint64_t upTo = kNoJob);

    BlockQueue& blocks;
    TakeFiles take;
    const FailureHandler onFailure;
    std::atomic<std::uint64_t> begun{0}, ended{0};

    std::mutex lock;  // guards jobs and stopping
    struct Job {
        std::uint64_t after;  // the blocks published when it was posted
        std::function<void()> run;
    };
    std::deque<Job> jobs;
    std::atomic<std::uint64_t> firstJobAfter{kNoJob};  // of the first job waiting
    bool stopping = false;
    std::counting_semaphore<> wake{0};  // a job was posted, or the thread stops
    std::thread thread;
};
