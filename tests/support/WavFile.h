#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>
#include <vector>

// Reads files back the way other programs will: raw bytes, and through libsndfile.
std::vector<std::uint8_t> readBytes(const std::string& path);
std::uint32_t le32(const std::vector<std::uint8_t>& bytes, std::size_t at);
std::uint16_t le16(const std::vector<std::uint8_t>& bytes, std::size_t at);
std::string field(const std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t width);

struct SndRead {
    bool ok = false;
    SF_INFO info{};
    std::vector<int> samples;  // 24-bit values, interleaved
    SF_BROADCAST_INFO bext{};
    bool hasBext = false;
};
SndRead readWithSndfile(const std::string& path);

// Every .wav file in `folder` has header sizes that match its length exactly
// (and, `withAudio`, some audio); checked with GoogleTest expectations.
// Returns how many files there were.
int expectExactHeaders(const std::string& folder, bool withAudio = true);
