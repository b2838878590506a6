#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// The layout of one recorded block in the block ring: the samples of every
// armed input and the mono mix for a run of frames, copied by the audio thread
// and written by the file thread.
//
//   offset 0   frames, tracks, silence before (three uint32, one unused)
//   offset 16  position: the capture's frames recorded before it (uint64)
//   offset 24  channel id per track (int64 each)
//   then       track samples        (float, tracks × frames, track after track)
//   then       mix samples          (float, frames; both sides of the stereo mix)
//
// "Silence before" stands for audio lost just before the block (never
// received, or dropped while the disk was behind): it is written first, as
// silence in every file, so that the files stay as long as the time covered
// and the block keeps its place.
class RecordBlock {
public:
    static constexpr std::size_t bytesFor(std::uint32_t tracks, std::uint32_t frames) {
        return samplesOffset(tracks) + (std::size_t{tracks} + 1) * frames * sizeof(float);
    }

    // Lays a block out over `bytesFor(tracks, frames)` bytes at `at` (16-byte aligned).
    RecordBlock(std::byte* at, std::uint32_t tracks, std::uint32_t frames,
                std::uint32_t silenceBefore = 0, std::uint64_t position = 0)
        : base(at) {
        header()[0] = frames;
        header()[1] = tracks;
        header()[2] = silenceBefore;
        *reinterpret_cast<std::uint64_t*>(base + 16) = position;
    }
    // Reads a block that the producer laid out.
    explicit RecordBlock(std::span<const std::byte> block)
        : base(const_cast<std::byte*>(block.data())) {}

    std::uint32_t frames() const { return header()[0]; }
    std::uint32_t tracks() const { return header()[1]; }
    std::uint32_t silenceBefore() const { return header()[2]; }
    // Frames the capture recorded before this block, over every take: the
    // key by which a loss found later finds its place.
    std::uint64_t position() const { return *reinterpret_cast<const std::uint64_t*>(base + 16); }
    std::int64_t& id(std::uint32_t track) { return ids()[track]; }
    std::int64_t id(std::uint32_t track) const { return ids()[track]; }
    float* track(std::uint32_t t) { return samples() + std::size_t{t} * frames(); }
    const float* track(std::uint32_t t) const { return samples() + std::size_t{t} * frames(); }
    float* mix() { return track(tracks()); }
    const float* mix() const { return track(tracks()); }

private:
    static constexpr std::size_t samplesOffset(std::uint32_t tracks) {
        return (24 + std::size_t{tracks} * sizeof(std::int64_t) + 15) / 16 * 16;
    }
    std::uint32_t* header() const { return reinterpret_cast<std::uint32_t*>(base); }
    std::int64_t* ids() const { return reinterpret_cast<std::int64_t*>(base + 24); }
    float* samples() const { return reinterpret_cast<float*>(base + samplesOffset(header()[1])); }

    std::byte* base;
};
