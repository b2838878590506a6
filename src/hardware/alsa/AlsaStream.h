#pragma once

#include <poll.h>
#include <sys/types.h>

#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "hardware/AudioSystem.h"
#include "hardware/CallbackSlot.h"
#include "hardware/alsa/AlsaPcm.h"

// One card's capture, and the headphones on the same card, served by one
// real-time thread that waits in poll on the capture and on an eventfd that
// stops it. Each captured period goes to the render function, then the same
// period of headphone audio is pulled and written, adding no period. The two
// streams are not linked: an underrun of the headphones never stops the
// capture.
//
// The capture never stops by itself (see AlsaPcm), so its hardware pointer
// counts the frames of an overrun: what lies beyond the buffer is lost, and
// so is the period the card is writing into. Both are skipped and the frame
// counter handed with each buffer jumps by them: the engine counts the jump
// as a dropout and writes that much silence. A suspended card is resumed; a
// card that is gone (-ENODEV, POLLERR with the disconnected state, a failed
// prepare) ends the thread and is reported through `onGone`, never retried
// in a loop.
//
// The render and headphone sides are attached and detached by the main
// thread through callback slots, never a lock. Shared by the capture and
// headphone streams; the thread ends when the last goes.
class AlsaStream {
public:
    // Opens and starts the capture of `pcm`; nothing on failure, with the
    // negative errno and the step that failed.
    static std::shared_ptr<AlsaStream> open(const QString& pcm, std::function<void()> onGone,
                                            int& error, QString& step);
    ~AlsaStream();
    AlsaStream(const AlsaStream&) = delete;
    AlsaStream& operator=(const AlsaStream&) = delete;

    // Main thread. After detach returns, no call of that side runs.
    void attachCapture(RenderFn render, void* user);
    void detachCapture();
    // Opens `pcm` for playback with its full channel count, fed by `pull`
    // with `channels` channels; an error text when it cannot.
    QString attachHeadphones(const QString& pcm, int channels, PullFn pull, void* user);
    void detachHeadphones();

    const AlsaPcm::Setup& setup() const { return capture->setup(); }
    // Any thread.
    bool alive() const { return !gone.load(); }
    bool headphonesRunning() const;

private:
    struct Render {
        RenderFn render = nullptr;
        void* user = nullptr;
    };
    struct Headphones;
    enum class Served { ok, later, gone };

    AlsaStream(std::unique_ptr<AlsaPcm> pcm, std::function<void()> onGone);
    void run();
    Served serve();
    Served recover(snd_pcm_sframes_t error);
    int readPeriod();

    std::unique_ptr<AlsaPcm> capture;
    const std::function<void()> onGone;
    std::vector<pollfd> fds;  // the capture's, then the eventfd
    int stopFd = -1;
    std::vector<std::vector<float>> buffers;  // one period per channel
    std::vector<float*> pointers, shifted;
    std::vector<char> interleaved;  // a period, for read/write access
    std::uint64_t frame = 0;        // the card's frames since the start, skipped ones too
    CallbackSlot<Render> render;
    CallbackSlot<Headphones> headphones;
    std::atomic<bool> gone{false};
    std::atomic<pid_t> tid{0};
    std::thread thread;
};
