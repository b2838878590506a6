#pragma once

#include <alsa/asoundlib.h>

#include <QString>
#include <memory>
#include <optional>

#include "hardware/alsa/AlsaSamples.h"

// One ALSA PCM stream, opened without blocking and set up as a recorder
// needs it: the card's full channel count, 48 kHz where it can, a format
// USB interfaces use, mmap where the card has it (read/write otherwise),
// short periods. Closed when destroyed. Main thread, but for the calls the
// audio thread makes on the handle.
class AlsaPcm {
public:
    struct Setup {
        AlsaFormat format = AlsaFormat::s32With24Bits;
        int channels = 0;
        unsigned rate = 0;
        snd_pcm_uframes_t period = 0;
        snd_pcm_uframes_t buffer = 0;
        snd_pcm_uframes_t boundary = 0;
        bool mmap = false;
    };
    // What a PCM offers, read without starting it.
    struct Caps {
        int channels = 0;
        unsigned rate = 0;
    };

    static constexpr unsigned preferredRate = 48000;
    static constexpr snd_pcm_uframes_t periodFrames = 256;
    // A PCM that says it takes any number of channels (a "plug") gets this many.
    static constexpr unsigned mostChannels = 128;

    // Nothing, and the negative errno, when it cannot be opened.
    static std::unique_ptr<AlsaPcm> open(const QString& name, snd_pcm_stream_t stream, int& error);
    static std::optional<Caps> probe(const QString& name, snd_pcm_stream_t stream, int& error);
    ~AlsaPcm();
    AlsaPcm(const AlsaPcm&) = delete;
    AlsaPcm& operator=(const AlsaPcm&) = delete;

    // At `rate` or the nearest the card takes. A capture (`periods` 0) takes
    // the largest buffer the card allows (more room for a late thread, no
    // more latency); the headphones take `periods`. 0, or the negative errno
    // of the step that failed, named in `step`.
    int configure(unsigned periods, unsigned rate, QString& step);
    const Setup& setup() const { return set; }
    snd_pcm_t* handle() const { return pcm; }
    int frameBytes() const { return set.channels * sampleBytes(set.format); }

private:
    explicit AlsaPcm(snd_pcm_t* opened, snd_pcm_stream_t s) : pcm(opened), stream(s) {}
    int hardware(unsigned periods, unsigned rate, QString& step);
    int software(QString& step);

    snd_pcm_t* const pcm;
    const snd_pcm_stream_t stream;
    Setup set;
};
