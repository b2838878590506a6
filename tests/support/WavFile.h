#pragma once

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

// Reads files back the way other programs will: raw bytes, and through libsndfile.
inline std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | std::uint32_t(b.at(at + 3)) << 24;
}

struct SndRead {
    bool ok = false;
    SF_INFO info{};
    std::vector<int> samples;  // 24-bit values, interleaved
    SF_BROADCAST_INFO bext{};
};
inline SndRead readWithSndfile(const std::string& path) {
    SndRead r;
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &r.info);
    if (!f) return r;
    r.samples.resize(static_cast<std::size_t>(r.info.frames * r.info.channels));
    const sf_count_t got = sf_readf_int(f, r.samples.data(), r.info.frames);
    for (int& s : r.samples) s >>= 8;  // libsndfile delivers 24-bit samples in the top bits
    sf_command(f, SFC_GET_BROADCAST_INFO, &r.bext, sizeof r.bext);
    sf_close(f);
    r.ok = got == r.info.frames;
    return r;
}

// Whether a file's header describes exactly the whole frames it holds.
inline bool exactHeader(const std::vector<std::uint8_t>& b) {
    return b.size() >= 654 && le32(b, 650) == b.size() - 654 && le32(b, 4) == b.size() - 8 &&
           le32(b, 650) % (3 * b[632]) == 0;
}

// Every .wav file in `folder` holds some audio and has header sizes that match its length exactly;
// checked with GoogleTest expectations. Returns how many files there were.
inline int expectExactHeaders(const std::string& folder) {
    int files = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.path().extension() != ".wav") continue;
        ++files;
        const auto bytes = readBytes(entry.path().string());
        EXPECT_TRUE(bytes.size() > 654u && exactHeader(bytes)) << entry.path().filename();
    }
    EXPECT_GT(files, 0) << folder;
    return files;
}

// Limits the size of every file this process writes until the guard it
// returns ends: writes past it fail exactly as on a full disk.
[[nodiscard]] inline std::shared_ptr<void> fileSizeLimit(rlim_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const rlimit limited{bytes, old.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limited);
    return {nullptr, [old](void*) { setrlimit(RLIMIT_FSIZE, &old); }};
}
