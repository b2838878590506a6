#pragma once

#include <jack/jack.h>

#include <QStringList>
#include <atomic>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "hardware/AudioSystem.h"
#include "hardware/alsa/AlsaCard.h"
#include "hardware/jack/JackLibrary.h"

class JackClient;

// Audio hardware as a JACK server shows it: a running jackd, or else
// PipeWire through its own JACK library (see JackLibrary), chosen again
// whenever no server is connected. A device is a client that owns physical audio ports: its capture
// ports are the inputs, its playback ports the outputs. Its UID is the client
// name; but behind jackd2's "system" client, whose ports name an ALSA card in
// their aliases, it is "alsa:" and the card's key (its id, and a USB card's
// serial), and its name the card's. No server means no devices: a server is
// never started on our behalf.
//
// A small control client, opened on first use and again after the server
// went away, lists the ports and hears of rate changes, clients and ports
// coming and going, and the server's shutdown.
class JackSystem final : public AudioSystem {
public:
    // `systemRoot` is put before /proc and /sys when cards are looked up (tests).
    explicit JackSystem(QString systemRoot = {});
    ~JackSystem() override;

    QList<AudioDev> devices() override;
    double nominalRate(std::uint32_t id) override;
    std::optional<DeviceSnapshot> snapshot(const QString& uid) override;
    std::unique_ptr<CaptureStream> openCapture(const DeviceSnapshot& device, RenderFn render,
                                               void* user, CaptureError& error) override;
    std::pair<int, double> defaultOutput() override;
    PlaybackResult openPlayback(const AudioDev* device, int channels, PullFn pull,
                                void* user) override;

    // Notifications from JACK's own threads; they only write to the dispatcher's pipe.
    void post(AudioChange change) { notify(change); }
    // What one client's shutdown notice is given. Kept until its client is
    // closed; for the life of the system when its server died first, since
    // that client is never closed and its notice may still come.
    struct Notice {
        JackSystem* system;
        std::uint64_t epoch;  // the servers lost when its client opened
        std::atomic<bool> heard{false};
    };
    // Main thread: the library of the server found last (after control()).
    const JackLibrary& library() const { return *jack; }
    // Main thread: one for a client just opened; and its client is closed.
    Notice* notice();
    void closed(Notice* notice);
    // JACK's thread: a client heard its server end. Only the first notice of
    // a server counts: a late one from an older client changes nothing.
    static void onShutdown(jack_status_t, const char*, void* notice);
    // Any thread: whether that client's server went away. A client opened
    // before the last loss belongs to a dead server, even if its own notice
    // has not come yet.
    bool dead(const Notice& n) const { return n.heard.load() || shutdownCount.load() != n.epoch; }

    // A test's switch: the next capture cycle takes `micros` longer than it
    // may (our own overrun). The audio thread takes it up once.
    void overrunOnce(std::int64_t micros) { overrun.store(micros); }
    std::int64_t takeOverrun() { return overrun.exchange(0, std::memory_order_relaxed); }

private:
    struct Device {
        QString client;
        QString uid;
        QString name;
        QStringList capture;  // port names, in the server's order
        QStringList playback;
    };
    jack_client_t* control();
    std::vector<Device> scan();
    std::optional<Device> deviceById(std::uint32_t id);
    std::uint32_t idFor(const QString& client);

    const QString root;
    const JackLibrary* jack = nullptr;       // the library of `client`
    const JackLibrary* announced = nullptr;  // the library the log named last
    jack_client_t* client = nullptr;
    Notice* clientNotice = nullptr;
    std::list<Notice> notices;  // a list: a notice never moves
    std::atomic<std::uint64_t> shutdownCount{0};
    std::atomic<std::int64_t> overrun{0};
    std::map<QString, std::uint32_t> ids;     // uid → id, stable while we run
    std::map<QString, AlsaCard> cards;        // by a device's first port, on this server
    std::weak_ptr<JackClient> captureClient;  // the headphones join it while it lives
};
