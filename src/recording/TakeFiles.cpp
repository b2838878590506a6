#include "recording/TakeFiles.h"

void TakeFiles::write(const RecordBlock& block) {
    if (writers.empty()) return;
    const std::uint32_t frames = block.frames();
    for (std::uint32_t t = 0; t < block.tracks(); ++t) {
        auto found = writers.find(block.id(t));
        if (found != writers.end()) found->second->write(block.track(t), frames);
    }
    if (!mixWriter) return;
    stereo.resize(2 * std::size_t{frames});
    const float* mix = block.mix();
    for (std::uint32_t f = 0; f < frames; ++f) {
        stereo[2 * f] = mix[f];
        stereo[2 * f + 1] = mix[f];
    }
    mixWriter->write(stereo.data(), frames);
}

void TakeFiles::closeAll() {
    for (auto& [id, writer] : writers) writer->close();
    writers.clear();
    if (mixWriter) mixWriter->close();
    mixWriter.reset();
}
