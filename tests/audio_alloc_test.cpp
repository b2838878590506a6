// The audio path must never allocate. This binary replaces the global
// allocation functions with counting ones and counts only on the thread that
// plays the audio thread's part.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

#include "engine/RoomEngine.h"
#include "support/EngineProbe.h"

namespace {
thread_local bool counting = false;
std::atomic<long> allocations{0};

void* counted(std::size_t size) {
    if (counting) allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) {
    return counted(size);
}
void* operator new[](std::size_t size) {
    return counted(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

TEST(AudioThread, ProcessAllocatesNothingWhileRecordingSoloingAndPlayingTheTone) {
    QTemporaryDir dir;
    RoomEngine engine;
    constexpr int kChannels = 20;
    std::vector<bool> armed(kChannels, false), solo(kChannels, false);
    for (int i = 0; i < 8; ++i) armed[static_cast<std::size_t>(i)] = true;
    solo[3] = solo[12] = true;
    RoomEngineProbe::start(engine, kChannels, 48000, armed, solo);
    RoomEngineProbe::onFiles(engine, [&](TakeFiles& files) {
        for (int i = 0; i < 8; ++i) {
            const auto name = (dir.path() + QString("/in%1.wav").arg(i)).toStdString();
            files.writers[i] = WAVWriter::create({name, 1, 48000, {}, "Tessaly", "x"});
        }
        files.mixWriter =
            WAVWriter::create({(dir.path() + "/mix.wav").toStdString(), 2, 48000, {}, "", ""});
    });
    RoomEngineProbe::setRecording(engine, true);
    engine.testTone(0.05);

    std::vector<std::vector<float>> data(kChannels, std::vector<float>(2048, 0.1f));
    std::vector<const float*> ptrs;
    for (auto& ch : data) ptrs.push_back(ch.data());
    std::vector<float> out(2048);

    std::int64_t total = 0;
    std::thread audio([&] {
        counting = true;
        for (int i = 0; i < 2000; ++i) {
            const int frames = (i % 3 == 0) ? 2048 : 256;  // long buffers are split internally
            total += frames;
            engine.process(ptrs.data(), kChannels, frames);
            RoomEngineProbe::ring(engine).pop(out.data(), frames, i % 2 ? 1.0 : 48000.0 / 44100.0);
        }
        counting = false;
    });
    audio.join();
    EXPECT_EQ(allocations.load(), 0);

    std::uint64_t written = 0;
    RoomEngineProbe::onFiles(engine, [&](TakeFiles& files) {
        written = files.writers.at(0)->dataSize();
        files.closeAll();
    });
    // The recording really ran.
    EXPECT_GT(written, 0u);
    if (engine.droppedBlocks() == 0) {
        EXPECT_EQ(written, static_cast<std::uint64_t>(total) * 3);
    }
}
