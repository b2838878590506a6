#include "hardware/alsa/AlsaPcm.h"

#include <array>
#include <utility>

namespace {

// In the order taken: every 24-bit one before 16 bits, float last.
constexpr std::array<std::pair<snd_pcm_format_t, AlsaFormat>, 5> kFormats = {{
    {SND_PCM_FORMAT_S32_LE, AlsaFormat::s32With24Bits},
    {SND_PCM_FORMAT_S24_3LE, AlsaFormat::s24InThree},
    {SND_PCM_FORMAT_S24_LE, AlsaFormat::s24InFour},
    {SND_PCM_FORMAT_S16_LE, AlsaFormat::s16},
    {SND_PCM_FORMAT_FLOAT_LE, AlsaFormat::float32},
}};

struct HwParams {
    HwParams() { snd_pcm_hw_params_malloc(&p); }
    ~HwParams() { snd_pcm_hw_params_free(p); }
    snd_pcm_hw_params_t* p = nullptr;
};

// The channel count to ask for: all the PCM has.
unsigned fullChannels(snd_pcm_hw_params_t* p) {
    unsigned most = 0, least = 0;
    snd_pcm_hw_params_get_channels_max(p, &most);
    snd_pcm_hw_params_get_channels_min(p, &least);
    return most > AlsaPcm::mostChannels ? std::max(least, 2u) : most;
}

}  // namespace

std::unique_ptr<AlsaPcm> AlsaPcm::open(const QString& name, snd_pcm_stream_t stream, int& error) {
    snd_pcm_t* pcm = nullptr;
    // Never blocks: a busy card answers at once instead of waiting for its owner.
    error = snd_pcm_open(&pcm, name.toUtf8().constData(), stream, SND_PCM_NONBLOCK);
    if (error < 0) return nullptr;
    return std::unique_ptr<AlsaPcm>(new AlsaPcm(pcm, stream));
}

std::optional<AlsaPcm::Caps> AlsaPcm::probe(const QString& name, snd_pcm_stream_t stream,
                                            int& error) {
    const auto pcm = open(name, stream, error);
    if (!pcm) return std::nullopt;
    HwParams hw;
    if ((error = snd_pcm_hw_params_any(pcm->pcm, hw.p)) < 0) return std::nullopt;
    Caps caps;
    caps.channels = static_cast<int>(fullChannels(hw.p));
    snd_pcm_hw_params_set_rate_resample(pcm->pcm, hw.p, 0);
    caps.rate = preferredRate;
    int dir = 0;
    if (snd_pcm_hw_params_set_rate_near(pcm->pcm, hw.p, &caps.rate, &dir) < 0) caps.rate = 0;
    return caps;
}

AlsaPcm::~AlsaPcm() {
    snd_pcm_close(pcm);
}

int AlsaPcm::configure(unsigned periods, unsigned rate, QString& step) {
    if (const int error = hardware(periods, rate, step); error < 0) return error;
    return software(step);
}

int AlsaPcm::hardware(unsigned periods, unsigned rate, QString& step) {
    HwParams hw;
    int e = 0;
    auto failed = [&](const char* what) {
        step = QString::fromLatin1(what);
        return e;
    };
    if ((e = snd_pcm_hw_params_any(pcm, hw.p)) < 0) return failed("read the card's settings");
    snd_pcm_hw_params_set_rate_resample(pcm, hw.p, 0);  // the card's own samples, never resampled
    set.mmap = snd_pcm_hw_params_set_access(pcm, hw.p, SND_PCM_ACCESS_MMAP_INTERLEAVED) == 0;
    if (!set.mmap &&
        (e = snd_pcm_hw_params_set_access(pcm, hw.p, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0)
        return failed("set interleaved access");
    e = -EINVAL;
    for (const auto& [alsa, ours] : kFormats) {
        if (snd_pcm_hw_params_set_format(pcm, hw.p, alsa) == 0) {
            set.format = ours;
            e = 0;
            break;
        }
    }
    if (e < 0) return failed("find a sample format it shares");
    unsigned channels = fullChannels(hw.p);
    if ((e = snd_pcm_hw_params_set_channels_near(pcm, hw.p, &channels)) < 0)
        return failed("set the channel count");
    set.channels = static_cast<int>(channels);
    set.rate = rate;
    if ((e = snd_pcm_hw_params_set_rate_near(pcm, hw.p, &set.rate, nullptr)) < 0)
        return failed("set the rate");
    set.period = periodFrames;
    if ((e = snd_pcm_hw_params_set_period_size_near(pcm, hw.p, &set.period, nullptr)) < 0)
        return failed("set the period");
    // Whole periods: every period read is one piece of the ring.
    if ((e = snd_pcm_hw_params_set_periods_integer(pcm, hw.p)) < 0)
        return failed("set whole periods");
    if (periods == 0) {
        e = snd_pcm_hw_params_set_buffer_size_last(pcm, hw.p, &set.buffer);
    } else {
        e = snd_pcm_hw_params_set_periods_near(pcm, hw.p, &periods, nullptr);
    }
    if (e < 0) return failed("set the buffer");
    if ((e = snd_pcm_hw_params(pcm, hw.p)) < 0) return failed("apply the settings");
    snd_pcm_hw_params_get_period_size(hw.p, &set.period, nullptr);
    snd_pcm_hw_params_get_buffer_size(hw.p, &set.buffer);
    return 0;
}

int AlsaPcm::software(QString& step) {
    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    int e = snd_pcm_sw_params_current(pcm, sw);
    snd_pcm_sw_params_get_boundary(sw, &set.boundary);
    // Both streams start only when told. The capture never stops by itself:
    // its hardware pointer goes on counting through an overrun, which then
    // measures the loss to the frame. The headphones stop at an underrun and
    // are started again.
    const snd_pcm_uframes_t stop = stream == SND_PCM_STREAM_CAPTURE ? set.boundary : set.buffer;
    if (e >= 0) e = snd_pcm_sw_params_set_avail_min(pcm, sw, set.period);
    if (e >= 0) e = snd_pcm_sw_params_set_start_threshold(pcm, sw, set.boundary);
    if (e >= 0) e = snd_pcm_sw_params_set_stop_threshold(pcm, sw, stop);
    // Times a stop, on the clock the audio thread reads.
    if (e >= 0) e = snd_pcm_sw_params_set_tstamp_mode(pcm, sw, SND_PCM_TSTAMP_ENABLE);
    if (e >= 0) e = snd_pcm_sw_params_set_tstamp_type(pcm, sw, SND_PCM_TSTAMP_TYPE_MONOTONIC);
    if (e >= 0) e = snd_pcm_sw_params(pcm, sw);
    if (e < 0) step = QStringLiteral("set the thresholds");
    return e < 0 ? e : snd_pcm_prepare(pcm);
}
