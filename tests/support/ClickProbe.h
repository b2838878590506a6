#pragma once

#include <jack/jack.h>
#include <unistd.h>

#include <QString>
#include <algorithm>
#include <atomic>
#include <cmath>

// A JACK client that clicks into one port and listens on another: the round trip of each click, in
// frames, from the cycle it was sent in to the first sample heard. Its own loop costs one period;
// the rest is what lies between. With `stallEvery`, it sleeps (30 ms) in every so many cycles: the
// server skips cycles of the clients after it.
class ClickProbe {
public:
    ClickProbe(const char* into, const char* from, int stallEvery = 0, int stallMicros = 30000)
        : stalls(stallEvery), stall(stallMicros) {
        if (!(client = jack_client_open("click-probe", JackNoStartServer, nullptr))) return;
        out = jack_port_register(client, "click", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        in = jack_port_register(client, "listen", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        period = jack_get_buffer_size(client);
        jack_set_process_callback(client, &ClickProbe::process, this);
        jack_activate(client);
        connected = jack_connect(client, jack_port_name(out), into) == 0 &&
                    jack_connect(client, from, jack_port_name(in)) == 0;
    }
    ~ClickProbe() {
        if (client) jack_client_close(client);
    }
    // The ports `port` is connected to, each followed by a space.
    QString linked(const char* port) const {
        QString all;
        const char** to = jack_port_get_all_connections(client, jack_port_by_name(client, port));
        for (const char** p = to; p && *p; ++p) all += QString(*p) + ' ';
        return jack_free(to), all;
    }
    bool connected = false;
    jack_nframes_t period = 0;
    std::atomic<int> heard{0};         // round trips measured, in `trips`
    std::atomic<float> loudest{0.0f};  // the largest sample heard
    std::atomic<float> level{0.0f};    // sent instead of clicks when above 0
    long trips[64] = {};

private:
    static int process(jack_nframes_t frames, void* self) {
        auto* p = static_cast<ClickProbe*>(self);
        if (p->stalls > 0 && ++p->cycles % p->stalls == 0) usleep(p->stall);
        const long now = static_cast<long>(jack_last_frame_time(p->client));
        auto* click = static_cast<float*>(jack_port_get_buffer(p->out, frames));
        const auto* listen = static_cast<const float*>(jack_port_get_buffer(p->in, frames));
        if (p->level > 0.0f) {  // a steady level instead of clicks
            std::fill(click, click + frames, p->level.load());
            return 0;
        }
        std::fill(click, click + frames, 0.0f);
        for (jack_nframes_t f = 0; f < frames; ++f)
            if (std::abs(listen[f]) > p->loudest) p->loudest = std::abs(listen[f]);
        const auto loud = std::find_if(listen, listen + frames, [](float s) { return s > 0.5f; });
        if (p->sentAt >= 0 && loud != listen + frames) {
            if (p->heard < 64) p->trips[p->heard] = now + (loud - listen) - p->sentAt;
            ++p->heard;
            p->sentAt = -1;
            p->quiet = 0;
        } else if (p->sentAt < 0 && ++p->quiet > 8) {  // the last click has died away
            click[0] = 1.0f;
            p->sentAt = now;
        }
        return 0;
    }
    jack_client_t* client = nullptr;
    jack_port_t* out = nullptr;
    jack_port_t* in = nullptr;
    long sentAt = -1;  // frame time of the click on its way, -1 when none
    int quiet = 0;
    const int stalls, stall;
    int cycles = 0;
};
