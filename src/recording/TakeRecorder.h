#pragma once

#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "base/Clock.h"
#include "base/Status.h"
#include "recording/BlockQueue.h"
#include "recording/FileThread.h"
#include "recording/TakeSets.h"

// Takes as the main thread runs them: it asks the file thread to open a
// take, roll to a new set and close it (TakeSets, each a posted job), and
// hears the outcome as an event on the main thread. It never waits for the
// disk: a volume that stops answering holds the file thread only, and shows
// here as not answering.
//
// Main thread, except blocks() (the audio thread's way in) and the failure
// handler (called on the file thread).
class TakeRecorder {
public:
    // The length of one set of files, seconds.
    static constexpr double rollover = 3600.0;

    // Runs a function on the main thread, later (an event).
    using ToMain = std::function<void(std::function<void()>)>;
    // What a job came to, on the main thread.
    using Done = std::function<void(const Status&)>;

    // `onFailure` runs on the file thread when files of the open set failed;
    // it carries the report to the main thread's filesFailed().
    TakeRecorder(const Clock& clock, ToMain toMain, FileThread::FailureHandler onFailure);
    ~TakeRecorder();
    TakeRecorder(const TakeRecorder&) = delete;
    TakeRecorder& operator=(const TakeRecorder&) = delete;

    // Audio thread: where recorded blocks go.
    BlockQueue& blocks() { return queue; }
    // No block in flight: room for several seconds of `channels` inputs at
    // `rate`, and always for a few blocks of `blockFrames`.
    void prepare(int channels, int rate, int blockFrames = 1024);

    bool recording() const { return phase == Phase::recording; }
    // A take was asked for and is being opened.
    bool starting() const { return phase == Phase::starting; }
    // The current or last take folder; empty before the first take.
    const QString& folder() const { return takeFolder; }
    // Seconds since the take began.
    double elapsed() const;

    // Starts a take (see TakeSets::open). `done` hears the status once the
    // file thread tried: recording() then says whether the take runs; an
    // empty status, all is well. A stop before then: the take is closed as
    // soon as it is open, and `done` is not called.
    void start(TakeSets::Request request, std::function<void(const TakeSets::Opened&)> done);
    // Ends the take now: no block is taken from here on; the files are
    // closed on the file thread, and `done` hears "Saved to …".
    void stop(const QString& root, const Status& saying, Done done = {});
    // A new set of files now; `done` hears failures, or that the take ended.
    void roll(const std::vector<TakeInput>& inputs, int rate, Done done);
    // Every tick while recording: whether the set is due to roll over.
    bool rollDue(int rate) const;
    // Main thread: a report from the file thread. A report about a set that
    // has since been replaced says nothing about the one now open; the take
    // ends only when no file of the open set is left.
    Status filesFailed(const std::vector<FileFailure>& failures, bool exhausted, std::uint64_t set);

    // Every tick: false once one piece of file work (a job, a block) has
    // been under way for `answerWithin()` of real time (5 s).
    bool answering();
    void answerWithin(std::chrono::duration<double> limit) { answerWithin_ = limit; }
    // Any thread: blocks lost because the file thread fell behind.
    std::uint64_t droppedBlocks() const { return queue.droppedBlocks(); }
    // A smaller limit than the header's, to try the roll without 4 GiB files.
    void setMaxFileBytes(std::uint64_t bytes) { maxFileBytes = bytes; }
    // Waits until the file thread has done all it was asked, at most
    // `limit`; false when it has not. Tests, and the end of the program.
    bool waitForFiles(std::chrono::milliseconds limit = std::chrono::hours(24)) {
        return files.waitIdle(limit);
    }
    // Any thread: the files whose closing sync has not finished.
    std::vector<std::string> unsynced() const { return files.unsynced(); }

private:
    enum class Phase { idle, starting, recording };

    const Clock& clock;
    const ToMain toMain;
    BlockQueue queue;
    FileThread files;
    TakeSets sets;  // file thread only
    Phase phase = Phase::idle;
    std::uint64_t takes = 0;  // counts the takes asked for: a late answer finds it moved on
    bool rolling = false;
    QString takeFolder;
    Clock::Instant takeStart;
    Clock::Instant setStart;
    std::uint64_t openSet = 0;
    std::uint64_t maxFileBytes = WAVWriter::maxDataBytes;
    std::chrono::duration<double> answerWithin_{5.0};
    std::uint64_t workSeen = 0;         // the piece of file work seen under way
    Clock::SteadyTime workSeenSince{};  // since when
};
