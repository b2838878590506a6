#include "hardware/jack/JackSystem.h"

#include <QDebug>
#include <utility>

#include "hardware/alsa/AlsaCard.h"
#include "hardware/jack/JackStreams.h"

namespace {

// JACK_METADATA_PRETTY_NAME's value: the constant lives in the library, which
// is loaded at run time.
constexpr const char* kPrettyName = "http://jackaudio.org/metadata/pretty-name";

int onRate(jack_nframes_t, void* self) {
    static_cast<JackSystem*>(self)->post(AudioChange::rate);
    return 0;
}
void onClient(const char*, int, void* self) {
    static_cast<JackSystem*>(self)->post(AudioChange::configuration);
}
void onPort(jack_port_id_t, int, void* self) {
    static_cast<JackSystem*>(self)->post(AudioChange::configuration);
}

QString shortName(const QString& port) {
    return port.section(u':', 1);
}

// get_ports' list, freed with free.
QStringList portList(const JackLibrary& jack, jack_client_t* c, unsigned long flags) {
    QStringList out;
    if (const char** ports = jack.get_ports(c, nullptr, JACK_DEFAULT_AUDIO_TYPE, flags)) {
        for (const char** p = ports; *p; ++p) out.append(QString::fromUtf8(*p));
        jack.free(ports);
    }
    return out;
}

// The ALSA card behind a port, named by one of its aliases (jackd2's ALSA driver).
std::optional<AlsaCard> cardOf(const JackLibrary& jack, jack_client_t* c, const QString& port,
                               const QString& root) {
    jack_port_t* p = jack.port_by_name(c, port.toUtf8().constData());
    std::vector<char> a1(static_cast<std::size_t>(jack.port_name_size())), a2(a1.size());
    char* aliases[2] = {a1.data(), a2.data()};
    const int n = p ? jack.port_get_aliases(p, aliases) : 0;
    for (int i = 0; i < n; ++i) {
        if (auto card = AlsaCard::behind(QString::fromUtf8(aliases[i]), root)) return card;
    }
    return std::nullopt;
}

}  // namespace

JackSystem::JackSystem(QString systemRoot) : root(std::move(systemRoot)) {}

JackSystem::~JackSystem() {
    if (client && !dead(*clientNotice)) jack->client_close(client);
}

JackSystem::Notice* JackSystem::notice() {
    return &notices.emplace_back(this, shutdownCount.load());
}

void JackSystem::closed(Notice* n) {
    notices.remove_if([n](const Notice& each) { return &each == n; });
}

void JackSystem::onShutdown(jack_status_t, const char*, void* notice) {
    auto* n = static_cast<Notice*>(notice);
    n->heard.store(true);
    std::uint64_t epoch = n->epoch;
    if (n->system->shutdownCount.compare_exchange_strong(epoch, epoch + 1))
        n->system->notify(AudioChange::shutdown);
}

jack_client_t* JackSystem::control() {
    if (client && dead(*clientNotice)) {
        client = nullptr;  // a client of a dead server cannot even be closed safely
    }
    if (client) return client;
    // A running jackd first; PipeWire's own library when it has no server.
    for (const JackLibrary* lib : {JackLibrary::system(), JackLibrary::pipewire()}) {
        jack_status_t status{};
        if (lib && (client = lib->client_open("tessaly-devices", JackNoStartServer, &status))) {
            jack = lib;
            break;
        }
    }
    if (!client) return nullptr;
    if (std::exchange(announced, jack) != jack) {
        qInfo().noquote()
            << QStringLiteral("server: %1, through %2").arg(jack->server(), jack->file);
    }
    cards.clear();  // another server, perhaps on another card
    clientNotice = notice();
    jack->set_sample_rate_callback(client, onRate, this);
    jack->set_client_registration_callback(client, onClient, this);
    jack->set_port_registration_callback(client, onPort, this);
    jack->on_info_shutdown(client, onShutdown, clientNotice);
    if (jack->activate(client) != 0) {
        jack->client_close(client);
        closed(clientNotice);
        client = nullptr;
    }
    return client;
}

std::uint32_t JackSystem::idFor(const QString& name) {
    const auto found = ids.find(name);
    if (found != ids.end()) return found->second;
    const auto id = static_cast<std::uint32_t>(ids.size() + 1);
    ids.emplace(name, id);
    return id;
}

std::vector<JackSystem::Device> JackSystem::scan() {
    std::vector<Device> out;
    jack_client_t* c = control();
    if (!c) return out;
    for (const QString& port : portList(*jack, c, JackPortIsPhysical)) {
        const QString owner = port.section(u':', 0, 0);
        if (shortName(port).contains(QStringLiteral("monitor"), Qt::CaseInsensitive)) continue;
        auto dev = std::find_if(out.begin(), out.end(),
                                [&](const Device& d) { return d.client == owner; });
        if (dev == out.end()) dev = out.insert(out.end(), Device{owner, owner, owner, {}, {}});
        jack_port_t* p = jack->port_by_name(c, port.toUtf8().constData());
        if (!p) continue;
        if (jack->port_flags(p) & JackPortIsOutput) {
            dev->capture.append(port);
        } else {
            dev->playback.append(port);
        }
    }
    for (Device& d : out) {
        // jackd2 calls every card "system": the card behind it tells them apart.
        // A card found is kept for this server: the system is read once, and
        // what was stored under "system" is said to belong to it, once.
        const QString first = d.capture.isEmpty() ? d.playback.value(0) : d.capture[0];
        auto card = cards.find(first);
        if (card == cards.end()) {
            const auto found = cardOf(*jack, c, first, root);
            if (!found) continue;
            card = cards.emplace(first, *found).first;
            if (d.client == u"system") renamed(d.client, QStringLiteral("alsa:") + found->key);
        }
        d.uid = QStringLiteral("alsa:") + card->second.key;
        d.name = card->second.name;
    }
    return out;
}

std::optional<JackSystem::Device> JackSystem::deviceById(std::uint32_t id) {
    for (Device& d : scan()) {
        if (idFor(d.uid) == id) return d;
    }
    return std::nullopt;
}

QList<AudioDev> JackSystem::devices() {
    QList<AudioDev> out;
    for (const Device& d : scan()) {
        out.append(AudioDev{idFor(d.uid), d.name, d.uid, d.capture.size(), d.playback.size()});
    }
    return out;
}

double JackSystem::nominalRate(std::uint32_t id) {
    if (!deviceById(id)) return 0.0;
    return static_cast<double>(jack->get_sample_rate(control()));
}

std::optional<DeviceSnapshot> JackSystem::snapshot(const QString& uid) {
    // One scan, whatever the number of ports.
    for (const Device& d : scan()) {
        if (d.uid != uid) continue;
        DeviceSnapshot s{AudioDev{idFor(d.uid), d.name, d.uid, d.capture.size(), d.playback.size()},
                         static_cast<double>(jack->get_sample_rate(client)),
                         {},
                         d.capture};
        for (int c = 1; c <= std::max<qsizetype>(d.capture.size(), 1); ++c) {
            jack_port_t* port =
                jack->port_by_name(client, d.capture.value(c - 1).toUtf8().constData());
            char* value = nullptr;
            char* type = nullptr;
            QString name;
            if (port &&
                jack->get_property(jack->port_uuid(port), kPrettyName, &value, &type) == 0) {
                name = QString::fromUtf8(value);
                jack->free(value);
                jack->free(type);
            }
            s.inputNames.append(inputLabel(name, c));
        }
        return s;
    }
    return std::nullopt;
}

std::unique_ptr<CaptureStream> JackSystem::openCapture(const DeviceSnapshot& device,
                                                       RenderFn render, void* user,
                                                       CaptureError& error) {
    if (device.ports.isEmpty()) {
        error = CaptureError::noInputs();
        return nullptr;
    }
    auto capture = JackCapture::open(device.ports, render, user, *this, error);
    if (capture) captureClient = capture->client();
    return capture;
}

std::pair<int, double> JackSystem::defaultOutput() {
    jack_client_t* c = control();
    return {2, c ? static_cast<double>(jack->get_sample_rate(c)) : 0.0};
}

PlaybackResult JackSystem::openPlayback(const AudioDev* device, int channels, PullFn pull,
                                        void* user) {
    PlaybackResult result;
    QStringList targets;
    if (device) {
        if (const auto dev = deviceById(device->id)) {
            targets = dev->playback;
        } else {
            result.deviceError = deviceGone();
        }
    }
    // No output device, or the chosen one is gone: the server's default
    // playback, its first two physical playback ports, as a desktop plays it.
    if (targets.isEmpty() && control())
        targets = portList(*jack, client, JackPortIsPhysical | JackPortIsInput).mid(0, 2);
    result.stream = JackPlayback::open(captureClient.lock(), targets, channels, pull, user, *this,
                                       result.startError);
    return result;
}
