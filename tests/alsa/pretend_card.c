/* A pretend USB interface for the tests, as an ALSA plugin (ioplug): paced by
 * a timerfd like a card by its clock, every capture channel carrying its own
 * frame counter (see support/PretendCard.h), the playback's loudest sample
 * kept. Its hardware pointer is the time since the start, so a reader that
 * stalls finds its unread frames beyond the buffer, and an overrun is told
 * as the kernel tells it: once the unread frames reach the stop threshold.
 *
 *   pcm.NAME { type tessaly_card channels 20 rate 48000 format S32_LE
 *              buffer 1024 access mmap control "/dir" }
 *
 * Files in the control folder: "busy" and "forbidden" make opening fail with
 * -EBUSY and -EACCES, "gone" makes the card vanish (-ENODEV); at close the playback writes
 * "played": its frames and loudest sample. */
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <errno.h>
#include <math.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

typedef struct {
    snd_pcm_ioplug_t io;
    unsigned channels, rate;
    snd_pcm_format_t format;
    char control[512];
    struct timespec start;
    snd_pcm_uframes_t stop_threshold, boundary;
    uint64_t checked; /* frame at which "gone" was last looked for */
    int gone, running;
    uint64_t played;
    double loudest;
} card_t;

/* The value of capture channel `ch` at frame `f`, as support/PretendCard.h has it. */
static int32_t counter(uint64_t f, unsigned ch, int bits) {
    const uint64_t span = bits == 16 ? 65535 : 16777215;
    return (int32_t)((f + ch * (bits == 16 ? 1021u : 524309u)) % span) - (int32_t)(span / 2);
}

static int has(const card_t* c, const char* what) {
    char path[600];
    snprintf(path, sizeof path, "%s/%s", c->control, what);
    return access(path, F_OK) == 0;
}

static uint64_t elapsed(const card_t* c) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const double ns =
        (double)(now.tv_sec - c->start.tv_sec) * 1e9 + (double)(now.tv_nsec - c->start.tv_nsec);
    return (uint64_t)(ns * c->rate / 1e9);
}

static int arm(card_t* c, snd_pcm_uframes_t period) {
    const long ns = (long)(period * 1000000000ULL / c->rate);
    const struct itimerspec t = {{ns / 1000000000, ns % 1000000000},
                                 {ns / 1000000000, ns % 1000000000}};
    return timerfd_settime(c->io.poll_fd, 0, &t, NULL);
}

static int card_start(snd_pcm_ioplug_t* io) {
    card_t* c = io->private_data;
    clock_gettime(CLOCK_MONOTONIC, &c->start);
    c->running = 1;
    return arm(c, io->period_size);
}

static int card_stop(snd_pcm_ioplug_t* io) {
    ((card_t*)io->private_data)->running = 0;
    const struct itimerspec off = {{0, 0}, {0, 0}};
    return timerfd_settime(io->poll_fd, 0, &off, NULL);
}

static snd_pcm_sframes_t card_pointer(snd_pcm_ioplug_t* io) {
    card_t* c = io->private_data;
    if (!c->running) return 0; /* prepared: nothing moved yet */
    const uint64_t hw = elapsed(c);
    if (hw >= c->checked + c->rate / 20) { /* looked for every 50 ms */
        c->checked = hw;
        c->gone = c->gone || has(c, "gone");
    }
    if (c->gone) return -ENODEV;
    const uint64_t appl = io->appl_ptr;
    const int stops = c->stop_threshold < c->boundary;
    if (io->stream == SND_PCM_STREAM_CAPTURE && stops && hw - appl >= c->stop_threshold)
        return -EPIPE;
    if (io->stream == SND_PCM_STREAM_PLAYBACK && stops && hw > appl) return -EPIPE;
    return (snd_pcm_sframes_t)(hw % c->boundary);
}

static char* frame_at(const snd_pcm_channel_area_t* a, snd_pcm_uframes_t frame) {
    return (char*)a->addr + (a->first + frame * a->step) / 8;
}

static snd_pcm_sframes_t card_transfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas,
                                       snd_pcm_uframes_t offset, snd_pcm_uframes_t size) {
    card_t* c = io->private_data;
    const uint64_t hw = c->running ? elapsed(c) : 0;
    for (snd_pcm_uframes_t i = 0; i < size; ++i) {
        /* A slot of the ring holds the last frame the card wrote there: a
         * frame left unread for longer than the buffer is overwritten. */
        const uint64_t f = io->appl_ptr + i;
        const uint64_t newest = hw > f ? f + (hw - 1 - f) / io->buffer_size * io->buffer_size : f;
        for (unsigned ch = 0; ch < c->channels; ++ch) {
            char* p = frame_at(&areas[ch], offset + i);
            if (io->stream == SND_PCM_STREAM_PLAYBACK) {
                const double v =
                    c->format == SND_PCM_FORMAT_S16_LE ? *(int16_t*)p / 32767.0
                    : c->format == SND_PCM_FORMAT_S24_3LE
                        ? (double)(((int32_t)((uint8_t)p[0] << 8 | (uint8_t)p[1] << 16 |
                                              (uint32_t)(uint8_t)p[2] << 24)) >>
                                   8) /
                              8388607.0
                        : (double)(*(int32_t*)p >> 8) / 8388607.0;
                if (fabs(v) > c->loudest) c->loudest = fabs(v);
                continue;
            }
            const int32_t v = counter(newest, ch, c->format == SND_PCM_FORMAT_S16_LE ? 16 : 24);
            if (c->format == SND_PCM_FORMAT_S16_LE) {
                *(int16_t*)p = (int16_t)v;
            } else if (c->format == SND_PCM_FORMAT_S24_3LE) {
                p[0] = (char)(v & 0xFF), p[1] = (char)(v >> 8 & 0xFF),
                p[2] = (char)(v >> 16 & 0xFF);
            } else {
                *(int32_t*)p = (int32_t)((uint32_t)v << 8);
            }
        }
    }
    if (io->stream == SND_PCM_STREAM_PLAYBACK) c->played += size;
    return (snd_pcm_sframes_t)size;
}

static int card_sw_params(snd_pcm_ioplug_t* io, snd_pcm_sw_params_t* params) {
    card_t* c = io->private_data;
    snd_pcm_sw_params_get_stop_threshold(params, &c->stop_threshold);
    snd_pcm_sw_params_get_boundary(params, &c->boundary);
    return 0;
}

static int card_prepare(snd_pcm_ioplug_t* io) {
    card_t* c = io->private_data;
    c->checked = 0;
    c->running = 0;
    return c->gone || has(c, "gone") ? -ENODEV : 0;
}

static int card_poll_revents(snd_pcm_ioplug_t* io, struct pollfd* pfd, unsigned int nfds,
                             unsigned short* revents) {
    card_t* c = io->private_data;
    uint64_t ticks;
    (void)nfds;
    if (pfd[0].revents & POLLIN) (void)!read(io->poll_fd, &ticks, sizeof ticks);
    if (c->gone || has(c, "gone")) { /* unplugged: as the kernel says it */
        c->gone = 1;
        io->state = SND_PCM_STATE_DISCONNECTED;
        *revents = POLLERR;
        return 0;
    }
    *revents =
        pfd[0].revents & POLLIN ? (io->stream == SND_PCM_STREAM_CAPTURE ? POLLIN : POLLOUT) : 0;
    return 0;
}

static int card_close(snd_pcm_ioplug_t* io) {
    card_t* c = io->private_data;
    if (c->played) {
        char path[600];
        snprintf(path, sizeof path, "%s/played", c->control);
        FILE* f = fopen(path, "w");
        if (f) fprintf(f, "%llu %.6f\n", (unsigned long long)c->played, c->loudest), fclose(f);
    }
    close(io->poll_fd);
    free(c);
    return 0;
}

static const snd_pcm_ioplug_callback_t callbacks = {
    .start = card_start,
    .stop = card_stop,
    .pointer = card_pointer,
    .transfer = card_transfer,
    .close = card_close,
    .sw_params = card_sw_params,
    .prepare = card_prepare,
    .poll_revents = card_poll_revents,
};

SND_PCM_PLUGIN_DEFINE_FUNC(tessaly_card) {
    snd_config_iterator_t i, next;
    long channels = 20, rate = 48000, buffer = 1024;
    const char *format = "S32_LE", *access_ = "mmap", *control = "/nonexistent";
    (void)root;
    snd_config_for_each(i, next, conf) {
        snd_config_t* n = snd_config_iterator_entry(i);
        const char* id;
        if (snd_config_get_id(n, &id) < 0) continue;
        if (!strcmp(id, "comment") || !strcmp(id, "type") || !strcmp(id, "hint")) continue;
        if (!strcmp(id, "channels"))
            snd_config_get_integer(n, &channels);
        else if (!strcmp(id, "rate"))
            snd_config_get_integer(n, &rate);
        else if (!strcmp(id, "buffer"))
            snd_config_get_integer(n, &buffer);
        else if (!strcmp(id, "format"))
            snd_config_get_string(n, &format);
        else if (!strcmp(id, "access"))
            snd_config_get_string(n, &access_);
        else if (!strcmp(id, "control"))
            snd_config_get_string(n, &control);
        else
            return -EINVAL;
    }
    card_t* c = calloc(1, sizeof *c);
    if (!c) return -ENOMEM;
    c->channels = (unsigned)channels, c->rate = (unsigned)rate;
    c->format = snd_pcm_format_value(format);
    snprintf(c->control, sizeof c->control, "%s", control);
    c->boundary = c->stop_threshold = (snd_pcm_uframes_t)-1 / 2;
    if (has(c, "busy") || has(c, "forbidden") || has(c, "gone")) {
        const int e = has(c, "busy") ? -EBUSY : has(c, "forbidden") ? -EACCES : -ENODEV;
        free(c);
        return e;
    }
    c->io.version = SND_PCM_IOPLUG_VERSION;
    c->io.name = "Tessaly pretend card";
    c->io.flags = SND_PCM_IOPLUG_FLAG_BOUNDARY_WA | SND_PCM_IOPLUG_FLAG_MONOTONIC;
    c->io.callback = &callbacks;
    c->io.private_data = c;
    c->io.poll_fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    c->io.poll_events = POLLIN;
    int e = snd_pcm_ioplug_create(&c->io, name, stream, mode);
    if (e < 0) {
        close(c->io.poll_fd);
        free(c);
        return e;
    }
    const unsigned fb = c->channels * (unsigned)snd_pcm_format_physical_width(c->format) / 8;
    const unsigned mmap_rw[] = {SND_PCM_ACCESS_MMAP_INTERLEAVED, SND_PCM_ACCESS_RW_INTERLEAVED};
    const unsigned formats[] = {(unsigned)c->format};
    const int rw_only = !strcmp(access_, "rw");
    if ((e = snd_pcm_ioplug_set_param_list(&c->io, SND_PCM_IOPLUG_HW_ACCESS, rw_only ? 1 : 2,
                                           rw_only ? mmap_rw + 1 : mmap_rw)) < 0 ||
        (e = snd_pcm_ioplug_set_param_list(&c->io, SND_PCM_IOPLUG_HW_FORMAT, 1, formats)) < 0 ||
        (e = snd_pcm_ioplug_set_param_minmax(&c->io, SND_PCM_IOPLUG_HW_CHANNELS, c->channels,
                                             c->channels)) < 0 ||
        (e = snd_pcm_ioplug_set_param_minmax(&c->io, SND_PCM_IOPLUG_HW_RATE, c->rate, c->rate)) <
            0 ||
        (e = snd_pcm_ioplug_set_param_minmax(&c->io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64 * fb,
                                             4096 * fb)) < 0 ||
        (e = snd_pcm_ioplug_set_param_minmax(&c->io, SND_PCM_IOPLUG_HW_BUFFER_BYTES, 128 * fb,
                                             (unsigned)buffer * fb)) < 0 ||
        (e = snd_pcm_ioplug_set_param_minmax(&c->io, SND_PCM_IOPLUG_HW_PERIODS, 2, 1024)) < 0) {
        snd_pcm_ioplug_delete(&c->io);
        return e;
    }
    *pcmp = c->io.pcm;
    return 0;
}

SND_PCM_PLUGIN_SYMBOL(tessaly_card)
