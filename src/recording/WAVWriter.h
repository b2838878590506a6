#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "base/Clock.h"

// Writes one Broadcast-Wave file (RIFF/WAVE with a `bext` chunk) of 24-bit
// little-endian PCM from interleaved float samples.
//
// The header is complete from the start, with an empty data chunk; its two size
// fields are rewritten by a write that finds more than 2 s since the last
// rewrite, and at close, and each rewrite puts data and header on stable
// storage. So a file cut off by a crash or a power cut still reads back all
// but the last couple of seconds.
//
// Samples are gathered into page-aligned writes of up to 0.2 s of audio (at
// most 256 KiB), so a crash of the program loses at most that of what the
// kernel was not handed; the repair at the next start keeps the rest. They
// always reach the file before the header is rewritten, so the header never
// describes more than the file holds.
//
// A failed write or header update is sticky: the writer keeps the reason, stops
// writing, and leaves a header that describes exactly the whole frames that
// reached the file.
//
// Not thread-safe: every call for one writer comes from the file thread.
class WAVWriter {
public:
    static constexpr std::size_t headerBytes = 654;
    static constexpr int bytesPerSample = 3;
    // The most sample data the header's 32-bit sizes can describe.
    static constexpr std::uint64_t maxDataBytes = 0xFFFFFFFFull - (headerBytes - 8);

    struct Params {
        std::filesystem::path path;
        int channels = 1;
        int rate = 48000;
        Clock::WallTime start;
        std::string originator;   // UTF-8, cut to 32 bytes
        std::string description;  // UTF-8, cut to 256 bytes
    };

    // Creates the file, which must not exist yet, and writes its header.
    // Returns nothing when the file cannot be created (EEXIST: there is one),
    // or the parameters cannot be stored; `why` then says why.
    static std::unique_ptr<WAVWriter> create(const Params& params,
                                             const Clock& clock = Clock::system(),
                                             std::error_code* why = nullptr);
    ~WAVWriter();
    WAVWriter(const WAVWriter&) = delete;
    WAVWriter& operator=(const WAVWriter&) = delete;

    // Appends `frames` frames of `channels` interleaved samples.
    void write(const float* interleaved, std::int64_t frames);
    // Writes what is pending and the header's sizes, into the page cache:
    // no wait for the disk. False once the writer failed or is closed.
    bool writeSizes();
    // Brings the header up to date on stable storage and closes the file.
    // Nothing is written after.
    void close();

    const std::filesystem::path& url() const { return path; }
    int channels() const { return nch; }
    int rate() const { return sampleRate; }
    // Bytes of sample data appended so far.
    std::uint64_t dataSize() const { return dataBytes; }
    double seconds() const;

    // The first failure, if any: what failed ("write", "header update", …) and the error.
    bool failed() const { return static_cast<bool>(err); }
    const std::error_code& error() const { return err; }
    const char* failedStep() const { return errStep; }

    // The 654-byte header for an empty data chunk.
    static std::vector<std::uint8_t> header(int channels, int rate, Clock::WallTime start,
                                            const std::string& originator,
                                            const std::string& description);

private:
    WAVWriter(const Params& params, const Clock& clock, int fd);
    void patch();
    // Writes pending bytes: all of them, or only up to a page boundary of the file.
    bool flush(bool all);
    void fail(const char* step, int code);

    const std::filesystem::path path;
    const int nch;
    const int sampleRate;
    const Clock& clock;
    int fd;
    std::uint64_t dataBytes = 0;     // appended, pending bytes included
    std::uint64_t flushedBytes = 0;  // of those, the bytes in the file
    Clock::SteadyTime lastPatch;
    const std::size_t handOver;         // pending bytes that are written at once
    std::vector<std::uint8_t> pending;  // converted samples not yet written
    std::size_t pendingBytes = 0;
    bool reserving = false;  // reserve disk space ahead of the data
    std::uint64_t reserved = 0;
    std::error_code err;
    const char* errStep = "";
};

// One float sample as the writer stores it: clamped to ±1 (NaN counts as +1),
// scaled by 2^23 − 1 and truncated toward zero.
std::int32_t toPCM24(float x);
