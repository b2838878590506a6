#pragma once

#include <sndfile.h>
#include <sys/resource.h>

#include <csignal>

#include <cstdint>
#include <string>
#include <vector>

// Reads files back the way other programs will: raw bytes, and through libsndfile.
std::vector<std::uint8_t> readBytes(const std::string& path);
std::uint32_t le32(const std::vector<std::uint8_t>& bytes, std::size_t at);

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

// Limits the size of every file this process writes while it lives: writes
// past it fail exactly as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit limited = old;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old); }

private:
    rlimit old{};
};
