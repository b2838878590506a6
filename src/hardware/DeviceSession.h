#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

#include "base/Status.h"
#include "hardware/AudioDev.h"
#include "hardware/AudioSystem.h"
#include "hardware/InputCapture.h"

// The audio hardware as the engine uses it: the device lists and the choice
// among them, the open input and headphone output, what a change of the
// hardware means for them, and the status texts that say so.
//
// Main thread only. stop() stops capture and headphones: after it returns no
// capture or headphone callback runs. Changes are heard from listen() until
// stopListening(), whether anything runs or not: a device that comes back
// is heard too.
class DeviceSession {
public:
    DeviceSession() = default;
    ~DeviceSession();
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    struct Devices {
        QList<AudioDev> all;  // every device of the reading, those not offered too
        QList<AudioDev> inputs;
        QList<AudioDev> outputs;
        QString inputUID;  // the choice, empty when there is nothing to choose
        QString outputUID;
    };
    // The devices of one reading (AudioDevices::all()), and the choice: the
    // given ones while present, else the first whose name contains
    // "scarlett" (any case), else the first; for the headphones, the chosen
    // input's own interface before those.
    static Devices list(const QList<AudioDev>& all, const QString& inputUID,
                        const QString& outputUID);

    struct Input {
        AudioDev device;
        std::optional<AudioDev> headphones;  // the output chosen, when present
        int channels = 0;
        int rate = 0;  // rounded to whole hertz
        int bufferFrames = 0;
        QStringList names;
    };
    // Stops, then opens the input `inputUID` as one reading of it shows it
    // (capture runs, no buffer is delivered yet). On failure, nothing and the
    // status that says why.
    std::optional<Input> open(const QString& inputUID, const QString& outputUID, Status& failure);
    // Delivers the captured buffers of `input` to `buffers` from now on, until stop().
    void run(const Input& input, InputCapture::BufferFn buffers);
    // Hardware changes reach `changed` from now on (the backend in use now).
    void listen(std::function<void()> changed);
    void stopListening();

    struct Format {
        int channels = 2;
        double rate = 0.0;
    };
    // What the headphones on `device` (or the default output) will run at.
    Format headphoneFormat(const std::optional<AudioDev>& device, int captureRate);
    // Starts them, each channel fed by `pull`, and completes the start.
    // Returns what failed (empty when nothing did); capture goes on either way.
    Status startHeadphones(const std::optional<AudioDev>& device, const Format& format, PullFn pull,
                           void* user);

    void stop();

    enum class Change { same, gone, differs };
    // What a change reported by the hardware means, from one reading of the
    // input: gone (or its server, under the capture); the same when what runs
    // still matches; different when the rate or input count changed, or the
    // headphones went down.
    Change judge(const QString& inputUID, int rate, int channels) const;

    // Any thread: the backend's notices of buffers lost while capturing.
    std::uint64_t xrunNotices() const { return capture.xrunNotices(); }

    static Status started(const Input& input);
    static Status noInterface();
    static Status denied();
    static Status disconnected();

private:
    InputCapture capture;
    std::unique_ptr<PlaybackStream> headphones;
    bool listening = false;
};
