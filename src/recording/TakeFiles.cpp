#include "recording/TakeFiles.h"

#include <algorithm>
#include <utility>

namespace {

FileFailure failureOf(const WAVWriter& writer) {
    return {writer.url().filename().string(), writer.error().message()};
}

}  // namespace

void TakeFiles::write(const RecordBlock& block) {
    if (writers.empty() && !lostInputs) return;
    const std::uint32_t frames = block.frames();
    std::uint64_t biggest = 0;
    for (std::uint32_t t = 0; t < block.tracks(); ++t) {
        auto found = writers.find(block.id(t));
        if (found == writers.end()) continue;
        found->second->write(block.track(t), frames);
        if (found->second->failed()) {
            retire(found->second);
            writers.erase(found);
            lostInputs = true;
            continue;
        }
        biggest = std::max(biggest, found->second->dataSize());
    }
    if (mixWriter) {
        stereo.resize(2 * std::size_t{frames});
        const float* mix = block.mix();
        for (std::uint32_t f = 0; f < frames; ++f) stereo[2 * f] = stereo[2 * f + 1] = mix[f];
        mixWriter->write(stereo.data(), frames);
        if (mixWriter->failed()) {
            retire(mixWriter);
            mixWriter.reset();
        } else {
            biggest = std::max(biggest, mixWriter->dataSize());
        }
    }
    largest.store(std::max(biggest, largestFile()), std::memory_order_relaxed);
}

void TakeFiles::retire(std::unique_ptr<WAVWriter>& writer) {
    writer->close();
    failures.push_back(failureOf(*writer));
}

std::vector<FileFailure> TakeFiles::closeAll() {
    std::vector<FileFailure> out;
    auto close = [&out](WAVWriter& writer) {
        writer.close();
        if (writer.failed()) out.push_back(failureOf(writer));
    };
    for (auto& [id, writer] : writers) close(*writer);
    writers.clear();
    if (mixWriter) close(*mixWriter);
    mixWriter.reset();
    lostInputs = false;
    largest.store(0, std::memory_order_relaxed);
    ++closed;
    return out;
}

std::vector<FileFailure> TakeFiles::takeFailures() {
    return std::exchange(failures, {});
}
