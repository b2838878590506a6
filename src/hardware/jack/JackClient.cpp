#include "hardware/jack/JackClient.h"

#include <QDebug>
#include <cerrno>

#include "hardware/RealtimeScope.h"
#include "hardware/jack/JackSystem.h"

std::shared_ptr<JackClient> JackClient::open(const char* name, JackSystem& system,
                                             CaptureError& error) {
    const JackLibrary& lib = system.library();
    jack_status_t status{};
    jack_client_t* handle = lib.client_open(name, JackNoStartServer, &status);
    if (!handle) {
        error = {QStringLiteral("open client"), static_cast<std::int32_t>(status)};
        return nullptr;
    }
    std::shared_ptr<JackClient> c(new JackClient(handle, system));
    lib.set_process_callback(handle, &JackClient::process, c.get());
    lib.set_xrun_callback(
        handle,
        [](void* self) {
            static_cast<JackClient*>(self)->xrunCount.fetch_add(1, std::memory_order_relaxed);
            return 0;
        },
        c.get());
    // Not the client itself: its notice may come after it is gone.
    lib.on_info_shutdown(handle, &JackSystem::onShutdown, c->notice);
    if (const int code = lib.activate(handle)) {
        error = {QStringLiteral("activate"), code};
        return nullptr;
    }
    return c;
}

JackClient::JackClient(jack_client_t* handle, JackSystem& s)
    : client(handle),
      system(s),
      jack(s.library()),
      notice(s.notice()),
      hz(static_cast<double>(jack.get_sample_rate(handle))) {}

bool JackClient::alive() const {
    return !system.dead(*notice);
}

JackClient::~JackClient() {
    detachInputs();
    detachOutputs();
    // A client whose server died is left alone: libjack crashes in both
    // deactivate and client_close on it, and its thread is gone.
    if (system.dead(*notice)) return;
    jack.deactivate(client);  // no process callback runs after this
    jack.client_close(client);
    system.closed(notice);
}

bool JackClient::registerPorts(const char* prefix, int count, unsigned long flags,
                               std::vector<jack_port_t*>& ports) {
    for (int i = 1; i <= count; ++i) {
        const QByteArray name = QByteArray(prefix) + QByteArray::number(i);
        jack_port_t* p =
            jack.port_register(client, name.constData(), JACK_DEFAULT_AUDIO_TYPE, flags, 0);
        if (!p) {
            unregister(ports);
            ports.clear();
            return false;
        }
        ports.push_back(p);
    }
    return true;
}

void JackClient::unregister(const std::vector<jack_port_t*>& ports) {
    if (system.dead(*notice)) return;
    for (jack_port_t* p : ports) jack.port_unregister(client, p);
}

bool JackClient::attachInputs(const QStringList& sources, RenderFn render, void* user,
                              CaptureError& error) {
    auto side = std::make_unique<Inputs>();
    if (!registerPorts("in_", static_cast<int>(sources.size()), JackPortIsInput, side->ports)) {
        error = {QStringLiteral("register ports"), -1};
        return false;
    }
    side->buffers.assign(side->ports.size(), nullptr);
    side->render = render;
    side->user = user;
    for (qsizetype i = 0; i < sources.size(); ++i) {
        const int code = jack.connect(client, sources[i].toUtf8().constData(),
                                      jack.port_name(side->ports[static_cast<std::size_t>(i)]));
        if (code != 0 && code != EEXIST) {
            unregister(side->ports);
            error = {QStringLiteral("connect inputs"), code};
            return false;
        }
    }
    inputChannels = static_cast<int>(side->ports.size());
    delete inputs.exchange(side.release());
    return true;
}

bool JackClient::attachOutputs(const QStringList& targets, int count, PullFn pull, void* user,
                               QString& error) {
    auto side = std::make_unique<Outputs>();
    if (!registerPorts("out_", count, JackPortIsOutput, side->ports)) {
        error = QStringLiteral("JACK refused the output ports");
        return false;
    }
    side->buffers.assign(side->ports.size(), nullptr);
    side->pull = pull;
    side->user = user;
    const qsizetype linked = std::min<qsizetype>(count, targets.size());
    for (qsizetype i = 0; i < linked; ++i) {
        const char* ours = jack.port_name(side->ports[static_cast<std::size_t>(i)]);
        const int code = jack.connect(client, ours, targets[i].toUtf8().constData());
        if (code != 0 && code != EEXIST) {
            qInfo().noquote() << QStringLiteral("headphones: could not connect ") +
                                     QString::fromUtf8(ours) + QStringLiteral(" to ") + targets[i] +
                                     QStringLiteral(" (") + QString::number(code) + u')';
        }
    }
    delete outputs.exchange(side.release());
    return true;
}

void JackClient::detachInputs() {
    if (Inputs* side = inputs.exchange(nullptr)) {
        unregister(side->ports);
        delete side;
    }
    inputChannels = 0;
}

void JackClient::detachOutputs() {
    if (Outputs* side = outputs.exchange(nullptr)) {
        unregister(side->ports);
        delete side;
    }
}

int JackClient::process(jack_nframes_t frames, void* self) {
    RealtimeScope realtime;
    auto* c = static_cast<JackClient*>(self);
    // Time first, as the cycle begins. Losses are told from the frame clock
    // and this time alone: the server's xrun notice also comes for other
    // clients' xruns, and its cycle times smooth a jump over seconds.
    const BufferClock clock{c->jack.last_frame_time(c->client), c->jack.get_time()};
    // Capture first: the monitor ring is written, then read, in the same cycle.
    c->inputs.use([c, frames, &clock](Inputs& in) {
        for (std::size_t i = 0; i < in.ports.size(); ++i) {
            in.buffers[i] = static_cast<const float*>(c->jack.port_get_buffer(in.ports[i], frames));
        }
        in.render(in.user, in.buffers.data(), static_cast<std::int64_t>(in.buffers.size()), frames,
                  clock);
        if (const std::int64_t late = c->system.takeOverrun()) {
            while (c->jack.get_time() < clock.micros + static_cast<std::uint64_t>(late)) {
            }
        }
    });
    c->outputs.use([c, frames](Outputs& out) {
        for (std::size_t i = 0; i < out.ports.size(); ++i) {
            out.buffers[i] = static_cast<float*>(c->jack.port_get_buffer(out.ports[i], frames));
        }
        out.pull(out.user, out.buffers.data(), static_cast<int>(out.buffers.size()), frames);
    });
    return 0;
}
