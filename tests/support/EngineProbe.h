#pragma once

#include <QStringList>
#include <functional>
#include <vector>

#include "engine/RoomEngine.h"

// Test access to the engine's private state: the steps the lifecycle takes
// when capture starts, and the audio thread's results.
struct RoomEngineProbe {
    // Prepares `engine` as a capture start would: format, then channels
    // (named "In N") with the given armed and solo flags.
    static void start(RoomEngine& engine, int channels, int hz, std::vector<bool> armedFlags = {},
                      std::vector<bool> soloFlags = {}) {
        engine.setCaptureFormat(channels, hz);
        QList<Channel> list;
        for (int i = 0; i < channels; ++i) {
            const auto at = static_cast<std::size_t>(i);
            list.append(Channel{i, QStringLiteral("In %1").arg(i + 1), QString(),
                                at < armedFlags.size() && armedFlags[at],
                                at < soloFlags.size() && soloFlags[at]});
        }
        engine.publishChannels(list);
    }
    // Opens a device as a capture start would, with the labels stored for `uid`,
    // and marks the engine running.
    static void open(RoomEngine& e, const QString& uid, const QStringList& hwNames,
                     int hz = 48000) {
        e.setCaptureFormat(static_cast<int>(hwNames.size()), hz);
        e.publishChannels(e.loadChannels(uid, hwNames));
        e.running_ = true;
    }
    static void setRecording(RoomEngine& e, bool on) { e.setCaptureRecording(on); }
    static void tick(RoomEngine& e) { e.tick(); }
    static void setMaxFileBytes(RoomEngine& e, std::uint64_t bytes) { e.maxFileBytes = bytes; }
    static void setInputUID(RoomEngine& e, const QString& uid) { e.inputUID_ = uid; }
    static std::uint64_t fileSet(RoomEngine& e) { return e.fileSet; }
    static void rollFiles(RoomEngine& e) { e.rollFiles(); }
    static void filesFailed(RoomEngine& e, const std::vector<FileFailure>& failures, bool exhausted,
                            std::uint64_t set) {
        e.filesFailed(failures, exhausted, set);
    }
    static std::vector<float> rawPeaks(RoomEngine& e) {
        std::vector<float> peaks;
        float mix, mon;
        e.meters.take(peaks, mix, mon);
        return peaks;
    }
    static float rawMixPeak(RoomEngine& e) {
        std::vector<float> peaks;
        float mix, mon;
        e.meters.take(peaks, mix, mon);
        return mix;
    }
    static float rawMonPeak(RoomEngine& e) {
        std::vector<float> peaks;
        float mix, mon;
        e.meters.take(peaks, mix, mon);
        return mon;
    }
    // The length of the last tone asked for, in frames.
    static std::int64_t toneLeft(RoomEngine& e) { return e.controls.toneFrames; }
    static RingBuffer& ring(RoomEngine& e) { return e.ring; }
    // Runs `job` on the file thread with the engine's open files.
    static void onFiles(RoomEngine& e, const std::function<void(TakeFiles&)>& job) {
        e.ioQ.sync([&] { job(e.ioQ.files()); });
    }
};
