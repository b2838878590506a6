#include "hardware/jack/JackStreams.h"

#include <QDebug>
#include <cerrno>

#include "hardware/RealtimeScope.h"
#include "hardware/jack/JackSystem.h"

namespace {

// Closes a client. One whose server died is left alone: libjack crashes in
// both jack_deactivate and jack_client_close on it, and its thread is gone.
void closeClient(jack_client_t* client, const JackSystem& system, std::uint64_t epoch) {
    if (!client || system.shutdowns() != epoch) return;
    jack_deactivate(client);  // no process callback runs after this
    jack_client_close(client);
}

jack_client_t* openClient(const char* name, jack_status_t& status) {
    return jack_client_open(name, JackNoStartServer, &status);
}

// Registers `count` audio ports named prefix + 1, prefix + 2, …
bool registerPorts(jack_client_t* c, const char* prefix, int count, unsigned long flags,
                   std::vector<jack_port_t*>& ports) {
    for (int i = 1; i <= count; ++i) {
        const QByteArray name = QByteArray(prefix) + QByteArray::number(i);
        jack_port_t* p = jack_port_register(c, name.constData(), JACK_DEFAULT_AUDIO_TYPE, flags, 0);
        if (!p) return false;
        ports.push_back(p);
    }
    return true;
}

}  // namespace

std::unique_ptr<JackCapture> JackCapture::open(const QStringList& sources, RenderFn render,
                                               void* user, JackSystem& system,
                                               CaptureError& error) {
    std::unique_ptr<JackCapture> cap(new JackCapture());
    cap->render = render;
    cap->user = user;
    cap->system = &system;
    cap->epoch = system.shutdowns();
    jack_status_t status{};
    cap->client = openClient("tessaly", status);
    if (!cap->client) {
        error = {QStringLiteral("open client"), static_cast<std::int32_t>(status)};
        return nullptr;
    }
    if (!registerPorts(cap->client, "in_", static_cast<int>(sources.size()), JackPortIsInput,
                       cap->ports)) {
        error = {QStringLiteral("register ports"), -1};
        return nullptr;
    }
    cap->buffers.assign(cap->ports.size(), nullptr);
    cap->hz = static_cast<double>(jack_get_sample_rate(cap->client));
    jack_set_process_callback(cap->client, &JackCapture::process, cap.get());
    jack_set_xrun_callback(cap->client, &JackCapture::xrun, cap.get());
    jack_on_info_shutdown(
        cap->client,
        [](jack_status_t, const char*, void* self) {
            static_cast<JackCapture*>(self)->system->serverShutDown();
        },
        cap.get());
    if (const int code = jack_activate(cap->client)) {
        error = {QStringLiteral("activate"), code};
        return nullptr;
    }
    for (qsizetype i = 0; i < sources.size(); ++i) {
        const int code = jack_connect(cap->client, sources[i].toUtf8().constData(),
                                      jack_port_name(cap->ports[static_cast<std::size_t>(i)]));
        if (code != 0 && code != EEXIST) {
            error = {QStringLiteral("connect inputs"), code};
            return nullptr;
        }
    }
    return cap;
}

JackCapture::~JackCapture() {
    closeClient(client, *system, epoch);
}

int JackCapture::process(jack_nframes_t frames, void* self) {
    RealtimeScope realtime;
    auto* cap = static_cast<JackCapture*>(self);
    for (std::size_t i = 0; i < cap->ports.size(); ++i) {
        cap->buffers[i] = static_cast<const float*>(jack_port_get_buffer(cap->ports[i], frames));
    }
    cap->render(cap->user, cap->buffers.data(), static_cast<std::int64_t>(cap->buffers.size()),
                frames);
    return 0;
}

int JackCapture::xrun(void* self) {
    static_cast<JackCapture*>(self)->xrunCount.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

std::unique_ptr<JackPlayback> JackPlayback::open(const QStringList& targets, int channels,
                                                 PullFn pull, void* user, JackSystem& system,
                                                 QString& error) {
    std::unique_ptr<JackPlayback> out(new JackPlayback());
    out->pull = pull;
    out->user = user;
    out->system = &system;
    out->epoch = system.shutdowns();
    jack_status_t status{};
    out->client = openClient("tessaly-headphones", status);
    if (!out->client) {
        error = (status & JackServerFailed)
                    ? QStringLiteral("no JACK server is running")
                    : QStringLiteral("JACK refused a client (status %1)").arg(status);
        return nullptr;
    }
    if (!registerPorts(out->client, "out_", channels, JackPortIsOutput, out->ports)) {
        error = QStringLiteral("JACK refused the output ports");
        return nullptr;
    }
    out->buffers.assign(out->ports.size(), nullptr);
    jack_set_process_callback(out->client, &JackPlayback::process, out.get());
    jack_on_info_shutdown(
        out->client,
        [](jack_status_t, const char*, void* self) {
            auto* playback = static_cast<JackPlayback*>(self);
            playback->alive.store(false);
            playback->system->serverShutDown();
        },
        out.get());
    if (const int code = jack_activate(out->client)) {
        error = QStringLiteral("JACK could not activate the output (%1)").arg(code);
        return nullptr;
    }
    out->alive.store(true);
    const qsizetype linked = std::min<qsizetype>(channels, targets.size());
    for (qsizetype i = 0; i < linked; ++i) {
        const char* ours = jack_port_name(out->ports[static_cast<std::size_t>(i)]);
        const int code = jack_connect(out->client, ours, targets[i].toUtf8().constData());
        if (code != 0 && code != EEXIST) {
            qInfo().noquote() << QStringLiteral("headphones: could not connect %1 to %2 (%3)")
                                     .arg(QString::fromUtf8(ours), targets[i])
                                     .arg(code);
        }
    }
    return out;
}

JackPlayback::~JackPlayback() {
    closeClient(client, *system, epoch);
}

int JackPlayback::process(jack_nframes_t frames, void* self) {
    RealtimeScope realtime;
    auto* out = static_cast<JackPlayback*>(self);
    for (std::size_t i = 0; i < out->ports.size(); ++i) {
        out->buffers[i] = static_cast<float*>(jack_port_get_buffer(out->ports[i], frames));
    }
    out->pull(out->user, out->buffers.data(), static_cast<int>(out->buffers.size()), frames);
    return 0;
}
