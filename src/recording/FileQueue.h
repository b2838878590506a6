#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <semaphore>
#include <thread>
#include <vector>

#include "recording/BlockQueue.h"
#include "recording/TakeFiles.h"

// The file thread ("tessaly.files") and its two inputs:
//
// - recorded blocks from the audio thread, through the block queue: the
//   audio thread reserves a block, copies into it and publishes it without
//   ever waiting; when there is no room (the disk is too slow) it drops the
//   block and counts it;
// - synchronous jobs from the main thread (open, roll, close), each of which
//   runs only after every block published before it was posted has been
//   written (held back or not), while the main thread waits for it.
//
// The thread polls the ring every few milliseconds rather than being woken by
// the audio thread, so the audio side never makes a system call.
class FileQueue {
public:
    // Called on the file thread when files of set `generation` failed while
    // being written; `exhausted` says that no file of it is left to write.
    using FailureHandler = std::function<void(std::vector<FileFailure> failures, bool exhausted,
                                              std::uint64_t generation)>;

    explicit FileQueue(BlockQueue& blocks, FailureHandler onFailure = {});
    ~FileQueue();  // writes what is queued, then ends the thread
    FileQueue(const FileQueue&) = delete;
    FileQueue& operator=(const FileQueue&) = delete;

    // Main thread: runs `job` on the file thread after every block already
    // published, and returns when it has run. Never call it from the file thread.
    void sync(const std::function<void()>& job);

    // Main thread, with no audio thread producing: replaces the block ring by
    // one of `bytes`, after writing what the old one holds.
    void resize(std::size_t bytes);

    // Any thread: the largest sample data of any open file, in bytes.
    std::uint64_t largestFile() const { return take.largestFile(); }

    // File thread only (inside sync jobs): the open files of the take.
    TakeFiles& files() { return take; }

private:
    void run();
    // Writes the blocks published so far; `all`: those held back too.
    void drain(bool all);

    BlockQueue& blocks;
    TakeFiles take;
    const FailureHandler onFailure;

    std::mutex lock;  // guards jobs and stopping
    std::deque<std::function<void()>> jobs;
    bool stopping = false;
    std::counting_semaphore<> wake{0};  // a job was posted, or the queue stops
    std::thread thread;
};
