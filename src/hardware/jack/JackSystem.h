#pragma once

#include <jack/jack.h>

#include <QStringList>
#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "hardware/AudioSystem.h"

class JackClient;

// Audio hardware as a JACK server shows it (jackd2, or PipeWire's JACK
// layer). A device is a client that owns physical audio ports: its capture
// ports are the inputs, its playback ports the outputs; its UID is the client
// name. No server means no devices: a server is never started on our behalf.
//
// A small control client, opened on first use and again after the server
// went away, lists the ports and hears of rate changes, clients and ports
// coming and going, and the server's shutdown.
class JackSystem final : public AudioSystem {
public:
    JackSystem();
    ~JackSystem() override;

    QList<AudioDev> devices() override;
    double nominalRate(std::uint32_t id) override;
    bool setNominalRate(std::uint32_t id, double rate) override;
    QString inputName(std::uint32_t id, int channel) override;
    std::unique_ptr<CaptureStream> openCapture(std::uint32_t device, RenderFn render, void* user,
                                               CaptureError& error) override;
    std::pair<int, double> defaultOutput() override;
    PlaybackResult openPlayback(const AudioDev* device, int channels, PullFn pull,
                                void* user) override;

    // Notifications from JACK's own threads; they only write to the dispatcher's pipe.
    void post(AudioChange change) { notify(change); }
    // A client opened at `epoch` heard its server end. Only the first notice
    // of a server counts: a late one from an older client changes nothing.
    void serverShutDown(std::uint64_t epoch);
    // Any thread: servers lost so far. A client opened before the last loss
    // belongs to a dead server, even if its own notice has not come yet.
    std::uint64_t shutdowns() const { return shutdownCount.load(); }

private:
    struct Device {
        QString client;
        QString name;
        QStringList capture;  // port names, in the server's order
        QStringList playback;
    };
    jack_client_t* control();
    std::vector<Device> scan();
    std::optional<Device> deviceById(std::uint32_t id);
    std::uint32_t idFor(const QString& client);

    jack_client_t* client = nullptr;
    std::uint64_t clientEpoch = 0;  // the shutdown count when it opened
    // What each control client's shutdown notice is given: this system and
    // that client's epoch. Kept as long as the system, since a client of a
    // dead server is never closed.
    std::vector<std::unique_ptr<std::pair<JackSystem*, std::uint64_t>>> tags;
    std::atomic<std::uint64_t> shutdownCount{0};
    std::map<QString, std::uint32_t> ids;     // client name → id, stable while we run
    std::weak_ptr<JackClient> captureClient;  // the headphones join it while it lives
};

// The ALSA card's name behind a jackd2 port alias such as "alsa_pcm:hw:USB:out1",
// looked up in the text of /proc/asound/cards; empty when there is none.
QString alsaCardName(const QString& alias, const QString& cards);
