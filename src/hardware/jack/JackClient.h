#pragma once

#include <jack/jack.h>

#include <QStringList>
#include <atomic>
#include <memory>
#include <vector>

#include "hardware/AudioSystem.h"
#include "hardware/CallbackSlot.h"
#include "hardware/jack/JackSystem.h"

// One of our JACK clients. Its process callback runs the capture side (input
// ports handed to a render function) and then the headphone side (output
// ports filled by a pull function), each when attached. With both on one
// client, a buffer captured in a cycle leaves on the headphones in that same
// cycle, whatever order the server runs other clients in.
//
// Sides are attached and detached on the main thread while the client runs;
// the process callback takes them through callback slots, never a lock.
// Shared by the capture and headphone streams; closed when the last goes.
class JackClient {
public:
    // Opens and activates a client; nothing on failure, with the step that
    // failed ("open client": the JACK status; "activate": its code).
    static std::shared_ptr<JackClient> open(const char* name, JackSystem& system,
                                            CaptureError& error);
    ~JackClient();
    JackClient(const JackClient&) = delete;
    JackClient& operator=(const JackClient&) = delete;

    // Main thread: registers `count` ports named prefix1, prefix2, … and
    // attaches them as the capture side, connected from `sources`.
    bool attachInputs(const QStringList& sources, RenderFn render, void* user, CaptureError& error);
    // Main thread: the same for the headphone side, connected to `targets`
    // (a port that will not connect is logged, not fatal).
    bool attachOutputs(const QStringList& targets, int count, PullFn pull, void* user,
                       QString& error);
    // Main thread: after these return, no call of that side runs; its ports are gone.
    void detachInputs();
    void detachOutputs();

    double rate() const { return hz; }
    int bufferFrames() const { return static_cast<int>(jack.get_buffer_size(client)); }
    int inputCount() const { return inputChannels; }
    // Any thread: false once the server went away under this client, or
    // under any client opened with or after it.
    bool alive() const;
    std::uint64_t xrunNotices() const { return xrunCount.load(std::memory_order_relaxed); }

private:
    struct Inputs {
        std::vector<jack_port_t*> ports;
        std::vector<const float*> buffers;  // filled each cycle; sized once
        RenderFn render = nullptr;
        void* user = nullptr;
    };
    struct Outputs {
        std::vector<jack_port_t*> ports;
        std::vector<float*> buffers;
        PullFn pull = nullptr;
        void* user = nullptr;
    };

    JackClient(jack_client_t* handle, JackSystem& system);
    static int process(jack_nframes_t frames, void* self);
    bool registerPorts(const char* prefix, int count, unsigned long flags,
                       std::vector<jack_port_t*>& ports);
    void unregister(const std::vector<jack_port_t*>& ports);

    jack_client_t* const client;
    JackSystem& system;
    const JackLibrary& jack;           // the library the client was opened with
    JackSystem::Notice* const notice;  // what its shutdown notice is given
    double hz = 0.0;
    int inputChannels = 0;
    CallbackSlot<Inputs> inputs;
    CallbackSlot<Outputs> outputs;
    std::atomic<std::uint64_t> xrunCount{0};
};
