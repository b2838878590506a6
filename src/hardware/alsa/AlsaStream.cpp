#include "hardware/alsa/AlsaStream.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>

#include "hardware/RealtimePriority.h"
#include "hardware/RealtimeScope.h"

namespace {

constexpr snd_pcm_uframes_t kHeadphonePeriods = 3;
constexpr snd_pcm_uframes_t kHeadphonePrefill = 1;  // periods of silence before it starts
constexpr int kWaitMs = 10;                         // between tries of a card that is not ready

// Where frame `offset` of an interleaved mmap ring begins.
char* at(const snd_pcm_channel_area_t* areas, snd_pcm_uframes_t offset) {
    return static_cast<char*>(areas[0].addr) + (areas[0].first + offset * areas[0].step) / 8;
}

}  // namespace

// The headphones: their PCM and what the audio thread needs for a period,
// all sized before they are attached.
struct AlsaStream::Headphones {
    std::unique_ptr<AlsaPcm> pcm;
    PullFn pull = nullptr;
    void* user = nullptr;
    int channels = 0;                         // what `pull` fills
    std::vector<std::vector<float>> buffers;  // max(channels, the card's), zeros beyond `channels`
    std::vector<float*> pointers;
    std::vector<char> interleaved, silence;
    bool started = false;
    std::atomic<bool> failed{false};

    // Audio thread: one period pulled and written; false once the card refused it.
    bool play(snd_pcm_uframes_t frames) {
        pull(user, pointers.data(), channels, static_cast<std::int64_t>(frames));
        const AlsaPcm::Setup& s = pcm->setup();
        interleave(s.format, pointers.data(), s.channels, static_cast<std::int64_t>(frames),
                   interleaved.data());
        if (!started && !restart()) return false;
        snd_pcm_sframes_t e = write(interleaved.data(), frames);
        if (e == -EPIPE && restart()) e = write(interleaved.data(), frames);
        // Full (-EAGAIN): the card is behind us; this period is not heard.
        return e >= 0 || e == -EAGAIN;
    }
    snd_pcm_sframes_t write(const char* data, snd_pcm_uframes_t frames) {
        return pcm->setup().mmap ? snd_pcm_mmap_writei(pcm->handle(), data, frames)
                                 : snd_pcm_writei(pcm->handle(), data, frames);
    }
    // After an underrun, or at first: a little silence ahead, then go.
    bool restart() {
        snd_pcm_t* h = pcm->handle();
        if (started && snd_pcm_prepare(h) < 0) return false;
        const snd_pcm_uframes_t period = pcm->setup().period;
        for (snd_pcm_uframes_t i = 0; i < kHeadphonePrefill; ++i) {
            if (write(silence.data(), period) < 0) return false;
        }
        started = snd_pcm_start(h) == 0;
        return started;
    }
};

std::shared_ptr<AlsaStream> AlsaStream::open(const QString& pcm, std::function<void()> onGone,
                                             int& error, QString& step) {
    step = QStringLiteral("open");
    auto opened = AlsaPcm::open(pcm, SND_PCM_STREAM_CAPTURE, error);
    if (!opened || (error = opened->configure(0, AlsaPcm::preferredRate, step)) < 0) return nullptr;
    std::shared_ptr<AlsaStream> s(new AlsaStream(std::move(opened), std::move(onGone)));
    const int count = snd_pcm_poll_descriptors_count(s->capture->handle());
    s->stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (count < 1 || s->stopFd < 0) {
        error = count < 0 ? count : count == 0 ? -EIO : -errno;
        step = QStringLiteral("find its poll descriptors");
        return nullptr;
    }
    s->fds.resize(static_cast<std::size_t>(count) + 1);
    snd_pcm_poll_descriptors(s->capture->handle(), s->fds.data(), static_cast<unsigned>(count));
    s->fds.back() = pollfd{s->stopFd, POLLIN, 0};
    if ((error = snd_pcm_start(s->capture->handle())) < 0) {
        step = QStringLiteral("start");
        return nullptr;
    }
    s->thread = std::thread([raw = s.get()] { raw->run(); });
    while (!s->tid.load()) std::this_thread::yield();  // its id, for RealtimeKit
    raiseToRealtime(s->thread.native_handle(), s->tid.load());
    return s;
}

AlsaStream::AlsaStream(std::unique_ptr<AlsaPcm> pcm, std::function<void()> gone_)
    : capture(std::move(pcm)), onGone(std::move(gone_)) {
    const AlsaPcm::Setup& s = capture->setup();
    buffers.assign(static_cast<std::size_t>(s.channels), std::vector<float>(s.period));
    for (auto& b : buffers) pointers.push_back(b.data());
    shifted = pointers;
    interleaved.resize(s.period * static_cast<std::size_t>(capture->frameBytes()));
}

AlsaStream::~AlsaStream() {
    if (thread.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(stopFd, &one, sizeof one);
        thread.join();
    }
    detachCapture();
    detachHeadphones();
    if (stopFd >= 0) ::close(stopFd);
}

void AlsaStream::attachCapture(RenderFn fn, void* user) {
    delete render.exchange(new Render{fn, user});
}

void AlsaStream::detachCapture() {
    delete render.exchange(nullptr);
}

QString AlsaStream::attachHeadphones(const QString& pcm, int channels, PullFn pull, void* user) {
    int error = 0;
    QString step = QStringLiteral("open");
    auto h = std::make_unique<Headphones>();
    h->pcm = AlsaPcm::open(pcm, SND_PCM_STREAM_PLAYBACK, error);
    if (!h->pcm || (error = h->pcm->configure(kHeadphonePeriods, setup().rate, step)) < 0)
        return QStringLiteral("%1 failed (%2)").arg(step, QString::fromUtf8(snd_strerror(error)));
    const AlsaPcm::Setup& s = h->pcm->setup();
    if (s.period != setup().period || s.rate != setup().rate)
        return QStringLiteral("it plays %1 frames a period at %2 Hz, the capture %3 at %4 Hz")
            .arg(s.period)
            .arg(s.rate)
            .arg(setup().period)
            .arg(setup().rate);
    h->pull = pull;
    h->user = user;
    h->channels = channels;
    h->buffers.assign(static_cast<std::size_t>(std::max(channels, s.channels)),
                      std::vector<float>(s.period));
    for (auto& b : h->buffers) h->pointers.push_back(b.data());
    const std::size_t bytes = s.period * static_cast<std::size_t>(h->pcm->frameBytes());
    h->interleaved.resize(bytes);
    h->silence.assign(bytes, 0);
    delete headphones.exchange(h.release());
    return {};
}

void AlsaStream::detachHeadphones() {
    delete headphones.exchange(nullptr);
}

bool AlsaStream::headphonesRunning() const {
    const Headphones* h = headphones.get();
    return h && !h->failed.load() && alive();
}

void AlsaStream::run() {
    tid.store(::gettid());
    while (true) {
        if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;
        if (fds.back().revents) return;  // asked to stop
        Served served;
        {
            RealtimeScope realtime;
            served = serve();
        }
        if (served == Served::gone) break;
        // Not ready yet (a card waking from a suspend): its descriptors would
        // wake us at once, so only the stop is heard for a moment.
        if (served == Served::later) ::poll(&fds.back(), 1, kWaitMs);
    }
    gone.store(true);
    onGone();
}

AlsaStream::Served AlsaStream::serve() {
    snd_pcm_t* pcm = capture->handle();
    unsigned short revents = 0;
    snd_pcm_poll_descriptors_revents(pcm, fds.data(), static_cast<unsigned>(fds.size() - 1),
                                     &revents);
    // A card that stopped wakes us at once, every time, until it is seen to.
    if (revents & (POLLERR | POLLNVAL)) {
        switch (snd_pcm_state(pcm)) {
            case SND_PCM_STATE_RUNNING:
                break;
            case SND_PCM_STATE_SUSPENDED:
                return recover(-ESTRPIPE);
            case SND_PCM_STATE_XRUN:
                return recover(-EPIPE);
            default:
                return Served::gone;  // disconnected, or nothing to go on with
        }
    }
    const AlsaPcm::Setup& s = capture->setup();
    for (snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm);;) {
        if (avail < 0) return recover(avail);
        auto frames = static_cast<snd_pcm_uframes_t>(avail);
        if (frames >= s.buffer) {
            // Overrun: what lies beyond the buffer was overwritten, and the
            // period the card writes into now (the oldest, once the buffer is
            // full) is going. Skipped in whole periods; the frames counted are
            // those the card says it moved past.
            const snd_pcm_uframes_t lost = frames - s.buffer + s.period;
            const snd_pcm_sframes_t moved =
                snd_pcm_forward(pcm, (lost + s.period - 1) / s.period * s.period);
            if (moved <= 0) return moved < 0 ? recover(moved) : Served::ok;
            frame += static_cast<std::uint64_t>(moved);
            avail -= moved;
            continue;
        }
        if (frames < s.period) return Served::ok;
        if (const int e = readPeriod(); e < 0) return recover(e);
        // Read as the card overwrote it (it had gone round the ring by the
        // end): lost too, so skipped like the rest.
        avail = snd_pcm_avail_update(pcm);
        if (avail >= 0 && static_cast<snd_pcm_uframes_t>(avail) + s.period > s.buffer) {
            frame += s.period;
            continue;
        }
        const BufferClock clock{static_cast<std::uint32_t>(frame), 0};
        render.use([&](Render& r) {
            r.render(r.user, pointers.data(), s.channels, static_cast<std::int64_t>(s.period),
                     clock);
        });
        frame += s.period;
        headphones.use([&](Headphones& h) {
            if (!h.failed.load(std::memory_order_relaxed) && !h.play(s.period))
                h.failed.store(true);
        });
    }
}

int AlsaStream::readPeriod() {
    snd_pcm_t* pcm = capture->handle();
    const AlsaPcm::Setup& s = capture->setup();
    if (!s.mmap) {
        const snd_pcm_sframes_t got = snd_pcm_readi(pcm, interleaved.data(), s.period);
        if (got < 0) return static_cast<int>(got);
        deinterleave(s.format, interleaved.data(), s.channels, got, pointers.data());
        return got == static_cast<snd_pcm_sframes_t>(s.period) ? 0 : -EIO;
    }
    // Straight from the card's ring, in as many pieces as it is cut into.
    for (snd_pcm_uframes_t done = 0; done < s.period;) {
        const snd_pcm_channel_area_t* areas = nullptr;
        snd_pcm_uframes_t offset = 0, frames = s.period - done;
        if (const int e = snd_pcm_mmap_begin(pcm, &areas, &offset, &frames); e < 0) return e;
        if (frames == 0) return -EIO;
        for (std::size_t c = 0; c < pointers.size(); ++c) shifted[c] = pointers[c] + done;
        deinterleave(s.format, at(areas, offset), s.channels, static_cast<std::int64_t>(frames),
                     shifted.data());
        const snd_pcm_sframes_t committed = snd_pcm_mmap_commit(pcm, offset, frames);
        if (committed < 0) return static_cast<int>(committed);
        done += frames;
    }
    return 0;
}

AlsaStream::Served AlsaStream::recover(snd_pcm_sframes_t error) {
    snd_pcm_t* pcm = capture->handle();
    if (error == -ESTRPIPE) {
        const int resumed = snd_pcm_resume(pcm);
        if (resumed == -EAGAIN) return Served::later;
        if (resumed == 0) return Served::ok;
    } else if (error != -EPIPE) {
        return Served::gone;  // -ENODEV, -EBADFD, -EIO: nothing to go on with
    }
    // Stopped by the driver, or not resumable: prepared and started again.
    // What it held unread is dropped by the prepare, and what passed while
    // it stood is known only from its stop's time (monotonic, see AlsaPcm):
    // both, in whole periods, are counted lost.
    snd_pcm_status_t* status = nullptr;
    snd_pcm_status_alloca(&status);
    double stood = 0.0;
    snd_pcm_uframes_t unread = 0;
    if (snd_pcm_status(pcm, status) == 0) {
        snd_htimestamp_t stopped{};
        timespec now{};
        snd_pcm_status_get_trigger_htstamp(status, &stopped);
        clock_gettime(CLOCK_MONOTONIC, &now);
        stood = static_cast<double>(now.tv_sec - stopped.tv_sec) +
                static_cast<double>(now.tv_nsec - stopped.tv_nsec) / 1e9;
        unread = snd_pcm_status_get_avail(status);
    }
    if (snd_pcm_prepare(pcm) < 0 || snd_pcm_start(pcm) < 0) return Served::gone;
    const AlsaPcm::Setup& s = capture->setup();
    const auto lost =
        unread + static_cast<std::uint64_t>(std::ceil(std::clamp(stood, 0.0, 3600.0) * s.rate));
    frame += (lost / s.period + 1) * s.period;
    return Served::ok;
}
