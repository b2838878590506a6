#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "recording/RecordBlock.h"
#include "recording/WAVWriter.h"

// The open files of the current set: one writer per armed input, keyed by
// channel id, and the stereo mix writer.
//
// File thread only: the table is read and changed nowhere else, so a recorded
// block never meets a half-changed table.
class TakeFiles {
public:
    std::map<std::int64_t, std::unique_ptr<WAVWriter>> writers;
    std::unique_ptr<WAVWriter> mixWriter;

    // Writes one recorded block: each input's samples to that input's writer,
    // then the mix to both sides of the mix file. Writes nothing at all while
    // no input file is open.
    void write(const RecordBlock& block);

    // Closes every writer (exact header sizes) and empties the table.
    void closeAll();

private:
    std::vector<float> stereo;  // reused interleaving buffer for the mix
};
