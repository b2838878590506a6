#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "recording/RecordBlock.h"
#include "recording/WAVWriter.h"

// A file of a set that could not be created or written, and why.
struct FileFailure {
    std::string file;    // the file name, without its folder
    std::string reason;  // the system's words ("No space left on device")
};

// The open files of the current set: one writer per armed input, keyed by
// channel id, and the stereo mix writer.
//
// File thread only, except where a member says otherwise: the table is read
// and changed nowhere else, so a recorded block never meets a half-changed table.
class TakeFiles {
public:
    using Writers = std::map<std::int64_t, std::unique_ptr<WAVWriter>>;
    Writers writers;
    std::unique_ptr<WAVWriter> mixWriter;

    // Writes one recorded block: each input's samples to that input's writer,
    // then the mix to both sides of the mix file; silence before it in every
    // file when audio was lost before it. Writes nothing at all while
    // the set has no input file. A file whose write fails is closed (its
    // header then matches what reached the disk) and leaves the set.
    void write(const RecordBlock& block);
    // Writes `frames` of silence to every file of the set (audio lost).
    void silence(std::uint64_t frames);

    // Closes every writer (exact header sizes, data on stable storage) and
    // empties the table. Every header's sizes are written before the first
    // sync is waited for. Returns the files that failed to close cleanly.
    std::vector<FileFailure> closeAll();
    // The set is open: its files are those a quit waits for.
    void opened();
    // Any thread: the files opened and not yet closed (synced and closed).
    std::vector<std::string> unsynced() const {
        std::lock_guard guard(syncing);
        return unsyncedFiles;
    }
    // A file made or closed: progress, for the watch on a disk that hangs.
    void step() { stepped.fetch_add(1, std::memory_order_release); }
    std::uint64_t steps() const { return stepped.load(std::memory_order_acquire); }

    // Files that left the set since the last call, with the reason.
    std::vector<FileFailure> takeFailures();
    bool hasFailures() const { return !failures.empty(); }
    // No file of the set can be written any more.
    bool exhausted() const { return writers.empty() && !mixWriter; }
    // Armed inputs of the set whose files could not be made: the mix is
    // written all the same, though the set may have no input file at all.
    void inputsMissing() { lostInputs = true; }

    // Which set is open: counts the sets closed so far.
    std::uint64_t generation() const { return closed; }

    // Any thread: the largest sample data of any file of the set, in bytes.
    std::uint64_t largestFile() const { return largest.load(std::memory_order_relaxed); }

private:
    // Appends to one input's file, or to the mix file from `stereo`; a file
    // whose write fails leaves the set. Returns the next input's writer.
    Writers::iterator put(Writers::iterator writer, const float* samples, std::uint32_t frames);
    void putMix(std::uint32_t frames);
    // False when the write failed; else the largest size takes it in.
    bool grew(const WAVWriter& writer);
    void retire(std::unique_ptr<WAVWriter>& writer);
    void gone(const WAVWriter& writer);  // closed, and no longer waited for

    std::vector<FileFailure> failures;
    mutable std::mutex syncing;  // guards unsyncedFiles
    std::vector<std::string> unsyncedFiles;
    std::atomic<std::uint64_t> stepped{0};
    bool lostInputs = false;  // input files of this set failed; the mix goes on
    std::uint64_t closed = 0;
    std::atomic<std::uint64_t> largest{0};
    std::vector<float> stereo;  // reused buffer for the mix's two sides, or silence
};
