#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "base/Clock.h"
#include "base/Status.h"
#include "recording/DateText.h"
#include "recording/OpenTakeMark.h"
#include "recording/TakeFiles.h"

// An armed input as a set of files needs it.
struct TakeInput {
    std::int64_t id;  // channel id: the key of its writer
    QString name;     // display name: its file's name and description
};

// Takes on disk, as the file thread makes them: a take folder in a day folder
// under the recording root (never one that exists), its open-take marker, one
// set of files when the take starts and a new one in the same folder for
// every roll, named and opened here; the closing of sets, and the count of
// the take's files that could not be written.
//
// File thread only: every call is a job of the file thread, so a recorded
// block never meets a half-changed set and no other thread waits on the disk.
class TakeSets {
public:
    // The free bytes of the volume that holds a folder; nothing when unknown.
    using FreeSpace = std::function<std::optional<std::uint64_t>(const std::string& folder)>;

    TakeSets(TakeFiles& files, const Clock& c) : take(files), clock(c) {}

    struct Request {
        QString root;
        std::optional<QString> dayFolder;  // a path; today's under the root when none
        std::vector<TakeInput> inputs;
        int rate = 48000;
        Clock::Instant at;     // names the folder and the files
        FreeSpace freeSpace;   // asked once, of the day folder
        double reserve = 0.0;  // bytes the volume must have free for the take to begin
    };
    struct Opened {
        QString folder;  // the take folder; empty when the take did not begin
        Status status;   // why not ("Recording not started: …"), files that failed, or empty
        std::uint64_t set = 0;
        std::optional<std::uint64_t> free;  // of the take's volume, as asked
    };
    Opened open(const Request& request);

    struct Rolled {
        Status status;       // empty: all is well
        bool ended = false;  // no file of the new set could be made: the take is over
        std::uint64_t set = 0;
    };
    // A new set of files at `at`: every block written so far went to the old one.
    Rolled roll(const std::vector<TakeInput>& inputs, int rate, Clock::Instant at);

    // Ends the take: every file closed with exact sizes; "Saved to …" (or
    // other words before the folder), how many files of the take could not
    // be written, and the files that failed to close. Nothing when no take
    // runs (one asked for did not begin).
    Status close(const QString& root, const Status& saying);
    // Files of the open set that failed while written.
    void count(std::size_t failures) { failedFiles += failures; }

    // "Recording error: <file>: <reason> (and N more files)".
    static Status failureStatus(const std::vector<FileFailure>& failures);
    // The take ended because its files failed.
    static Status stoppedAfter(const std::vector<FileFailure>& failures, const QString& folder);

private:
    struct Made {
        bool any = false;  // at least one file of the set is open
        std::vector<FileFailure> failures;
    };
    Made openSet(Clock::Instant at, const std::vector<TakeInput>& inputs, int rate);
    std::vector<FileFailure> closeSet();
    // A new take folder in `day`: its path, or the reason there is none.
    std::optional<QString> makeTakeFolder(const QString& day, Clock::WallTime now, Status& why);

    TakeFiles& take;
    const Clock& clock;
    DateText dayFmt{"MMM d"};
    DateText minuteFmt{"h.mm a"};
    DateText secondFmt{"h.mm.ss a"};
    QString takeFolder;
    bool running = false;                // a take has begun and not ended
    std::size_t failedFiles = 0;         // of this take: not made, or failed while written
    std::unique_ptr<OpenTakeMark> mark;  // while the take runs
};
