#include "recording/TakeFiles.h"

#include <algorithm>
#include <utility>

namespace {

constexpr std::uint64_t kSilenceFrames = 1024;  // written at a time

FileFailure failureOf(const WAVWriter& writer) {
    return {writer.url().filename().string(), writer.error().message()};
}

}  // namespace

void TakeFiles::silence(std::uint64_t frames) {
    if (writers.empty() && !lostInputs) return;
    // The same length of silence in every file of the set, mix included.
    for (std::uint64_t left = frames; left > 0;) {
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(left, kSilenceFrames));
        stereo.assign(2 * std::size_t{n}, 0.0f);
        for (auto w = writers.begin(); w != writers.end();) w = put(w, stereo.data(), n);
        putMix(n);
        left -= n;
    }
}

void TakeFiles::write(const RecordBlock& block) {
    if (writers.empty() && !lostInputs) return;
    silence(block.silenceBefore());  // audio lost before the block
    const std::uint32_t frames = block.frames();
    for (std::uint32_t t = 0; t < block.tracks(); ++t) {
        const auto found = writers.find(block.id(t));
        if (found != writers.end()) put(found, block.track(t), frames);
    }
    if (!mixWriter) return;
    stereo.resize(2 * std::size_t{frames});
    const float* mix = block.mix();
    for (std::uint32_t f = 0; f < frames; ++f) stereo[2 * f] = stereo[2 * f + 1] = mix[f];
    putMix(frames);
}

TakeFiles::Writers::iterator TakeFiles::put(Writers::iterator writer, const float* samples,
                                            std::uint32_t frames) {
    writer->second->write(samples, frames);
    if (!grew(*writer->second)) {
        retire(writer->second);
        lostInputs = true;
        return writers.erase(writer);
    }
    return std::next(writer);
}

void TakeFiles::putMix(std::uint32_t frames) {
    if (!mixWriter) return;
    mixWriter->write(stereo.data(), frames);
    if (!grew(*mixWriter)) {
        retire(mixWriter);
        mixWriter.reset();
    }
}

bool TakeFiles::grew(const WAVWriter& writer) {
    if (writer.failed()) return false;
    largest.store(std::max(writer.dataSize(), largestFile()), std::memory_order_relaxed);
    return true;
}

void TakeFiles::opened() {
    std::vector<std::string> names;
    for (const auto& [id, writer] : writers) names.push_back(writer->url().string());
    if (mixWriter) names.push_back(mixWriter->url().string());
    std::lock_guard guard(syncing);
    unsyncedFiles = std::move(names);
}

void TakeFiles::gone(const WAVWriter& writer) {
    step();
    std::lock_guard guard(syncing);
    std::erase(unsyncedFiles, writer.url().string());
}

void TakeFiles::retire(std::unique_ptr<WAVWriter>& writer) {
    writer->close();
    gone(*writer);
    failures.push_back(failureOf(*writer));
}

std::vector<FileFailure> TakeFiles::closeAll() {
    std::vector<WAVWriter*> all;
    for (auto& [id, writer] : writers) all.push_back(writer.get());
    if (mixWriter) all.push_back(mixWriter.get());
    // Sizes first, for every file: a sync that never comes back leaves the
    // others' headers written all the same.
    for (WAVWriter* writer : all) writer->writeSizes();
    std::vector<FileFailure> out;
    for (WAVWriter* writer : all) {
        writer->close();
        if (writer->failed()) out.push_back(failureOf(*writer));
        gone(*writer);
    }
    writers.clear();
    mixWriter.reset();
    lostInputs = false;
    largest.store(0, std::memory_order_relaxed);
    ++closed;
    return out;
}

std::vector<FileFailure> TakeFiles::takeFailures() {
    return std::exchange(failures, {});
}
