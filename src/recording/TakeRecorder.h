#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "base/Clock.h"
#include "base/Status.h"
#include "recording/BlockQueue.h"
#include "recording/DateText.h"
#include "recording/FileQueue.h"
#include "recording/OpenTakeMark.h"

// An armed input as a set of files needs it.
struct TakeInput {
    std::int64_t id;  // channel id: the key of its writer
    QString name;     // display name: its file's name and description
};

// Takes and their sets of files: a take folder in a day folder under the
// recording root, one set of files when the take starts and a new one in the
// same folder every hour (or before a file outgrows its header), and the
// failures of files. Folders and names are decided on the main thread; files
// are opened, written and closed only on the file thread, so a recorded block
// never meets a half-changed set.
//
// Main thread, except blocks() (the audio thread's way in) and what the
// failure handler is called with (the file thread).
class TakeRecorder {
public:
    // The length of one set of files, seconds.
    static constexpr double rollover = 3600.0;

    // `onFailure` runs on the file thread when files of the open set failed;
    // it carries the report to the main thread's filesFailed().
    TakeRecorder(const Clock& clock, FileQueue::FailureHandler onFailure);

    // Audio thread: where recorded blocks go.
    BlockQueue& blocks() { return queue; }
    // No audio running: room for several seconds of `channels` inputs at
    // `rate`, and always for a few blocks of `blockFrames`.
    void prepare(int channels, int rate, int blockFrames = 1024);

    bool recording() const { return active; }
    // The current or last take folder; empty before the first take.
    const QString& folder() const { return takeFolder; }
    // Seconds since the take began.
    double elapsed() const;

    // Whether the volume that holds `folder` has room for a take to begin.
    using RoomFor = std::function<bool(const QString& folder)>;
    // Starts a take in `dayFolder` (a path), or in today's under `root`: a new
    // take folder, never one that exists, and one set of files. Not recording
    // afterwards when the folder could not be made, `roomFor` says no, or no
    // file could be made; the status then says why ("Recording not started:
    // …"). An empty status: all is well.
    Status start(const QString& root, const std::optional<QString>& dayFolder,
                 const std::vector<TakeInput>& inputs, int rate, const RoomFor& roomFor = {});
    // Ends the take: every file closed with exact sizes; "Saved to …" (or
    // other words before the folder), how many files of the take could not
    // be written, and the files that failed to close.
    Status stop(const QString& root,
                const Status& saying = Status::ok(QStringLiteral("Saved to ")));
    // A new set of files now. An empty status: all is well. When no file of
    // the new set could be made, the take has ended and the status says so.
    Status roll(const std::vector<TakeInput>& inputs, int rate);
    // Every tick while recording: whether the set is due to roll over.
    bool rollDue(int rate) const;
    // Main thread: a report from the file thread. A report about a set that
    // has since been replaced says nothing about the one now open; the take
    // ends only when no file of the open set is left.
    Status filesFailed(const std::vector<FileFailure>& failures, bool exhausted, std::uint64_t set);

    // Any thread: blocks lost because the file thread fell behind.
    std::uint64_t droppedBlocks() const { return queue.droppedBlocks(); }
    // A smaller limit than the header's, to try the roll without 4 GiB files.
    void setMaxFileBytes(std::uint64_t bytes) { maxFileBytes = bytes; }
    // Waits until the file thread has written every block queued so far.
    void waitForFiles();

private:
    struct Opened {
        bool any = false;  // at least one file of the set is open
        std::vector<FileFailure> failures;
        std::uint64_t set = 0;
    };
    Opened openSet(Clock::Instant at, const std::vector<TakeInput>& inputs, int rate);
    std::vector<FileFailure> closeSet();
    // A new take folder in `day`: its path, or the reason there is none.
    std::optional<QString> makeTakeFolder(const QString& day, Clock::WallTime now, Status& why);
    Status endAfter(const std::vector<FileFailure>& failures, const QString& root);
    void count(const std::vector<FileFailure>& failures) { failedFiles += failures.size(); }

    const Clock& clock;
    BlockQueue queue;
    FileQueue files;
    DateText dayFmt{"MMM d"};
    DateText minuteFmt{"h.mm a"};
    DateText secondFmt{"h.mm.ss a"};
    bool active = false;
    QString takeFolder;
    Clock::Instant takeStart;
    Clock::Instant setStart;
    std::uint64_t openSetNumber = 0;
    std::size_t failedFiles = 0;  // of this take: not made, or failed while written
    std::uint64_t maxFileBytes = WAVWriter::maxDataBytes;
    std::unique_ptr<OpenTakeMark> mark;  // while the take runs
};
