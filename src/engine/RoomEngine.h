#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/AudioControls.h"
#include "engine/Channel.h"
#include "engine/Clock.h"
#include "engine/HeadphoneFeed.h"
#include "engine/PeakMeters.h"
#include "engine/RingBuffer.h"
#include "engine/TripleBuffer.h"
#include "hardware/AudioDev.h"
#include "hardware/AudioSystem.h"
#include "hardware/InputCapture.h"
#include "recording/DateText.h"
#include "recording/FileNames.h"
#include "recording/FileQueue.h"

// The one engine at the centre of the program. It holds every piece of state
// that the window, the Control Room link and the self-test read, and it owns
// the monitor ring, the file thread and the open recording files.
//
// Threads: observable properties are assigned on the main thread only, and
// every assignment emits changed(). The audio thread enters through process();
// it takes no lock: its controls come through a triple buffer and its peaks
// go back through atomics.
class RoomEngine : public QObject {
    Q_OBJECT

public:
    static constexpr int rate = 48000;          // nominal sample rate, Hz
    static constexpr double rollover = 3600.0;  // length of one set of files, seconds

    // The program's engine, made on first use.
    static RoomEngine& shared();

    explicit RoomEngine(const Clock& clock = Clock::system(), QObject* parent = nullptr);
    ~RoomEngine() override;

    // Observable state; main thread only.
    const QList<AudioDev>& inputs() const { return inputs_; }
    const QList<AudioDev>& outputs() const { return outputs_; }
    const QString& inputUID() const { return inputUID_; }
    const QString& outputUID() const { return outputUID_; }
    const QList<Channel>& channels() const { return channels_; }
    float mixPeak() const { return mixPeak_; }
    float monPeak() const { return monPeak_; }
    const QString& monLabel() const { return monLabel_; }
    bool running() const { return running_; }
    bool recording() const { return recording_; }
    double elapsed() const { return elapsed_; }
    const QString& status() const { return status_; }
    const QString& folderName() const { return folderName_; }
    const QString& rootPath() const { return rootPath_; }
    bool linkConnected() const { return linkConnected_; }
    bool showAll() const { return showAll_; }

    // The capture rate of the open device (48000 while stopped).
    int hwRate() const { return hwRate_; }

    // Main thread. Asks for microphone access, starts the 0.05 s tick, and
    // once access is granted lists the devices and starts the engine.
    void boot();
    // Main thread. Lists the devices again and chooses input and output: the
    // stored ones while present, else a Scarlett, else the first.
    void refreshDevices();
    // Main thread. Stops, then opens the chosen input, builds the channel
    // list, starts the headphones and says what runs in the status line.
    void startEngine();
    // Main thread. Ends a take, stops capture and headphones.
    void stopEngine();
    // Main thread. Explicit device choices, stored; ignored during a take.
    void selectInput(const QString& uid);
    void selectOutput(const QString& uid);

    // Main thread. The link reports whether the Control Room is connected.
    void setLinkConnected(bool connected);
    // Main thread. The recording root for the next take; stored under "rootPath".
    void setRoot(const QString& path);
    // Main thread. Whether the window lists every input; stored under "showAll".
    void setShowAll(bool flag);
    // Main thread. Lays the 1000 Hz test tone over the headphone feed for `seconds`.
    void testTone(double seconds = 0.7);

    // Main thread. Starts a take: a take folder in the day folder (today's
    // under the root, or `dayFolder`) and one set of files. Does nothing
    // unless running and not yet recording.
    void record(const std::optional<QString>& dayFolder = std::nullopt);
    // Main thread. Ends the take; every file is closed with exact sizes.
    void stopRecording();
    // The current or last take folder; empty before the first take.
    const QString& recordingFolder() const { return recFolder; }

    // Main thread. Channel controls, by position in channels(). Arming is
    // frozen during a take; names may change at any time and reach the files
    // from the next set on. Names and armed flags are stored per interface.
    void setArmed(int index, bool on);
    void setName(int index, const QString& name);
    void setSolo(int index, bool on);
    void clearSolo();

    // Audio thread: one captured buffer, one float array per channel, valid only
    // during the call. Never allocates, blocks or touches a file.
    void process(const float* const* buffers, std::int64_t channelCount, std::int64_t frames);

    // Any thread: buffers the audio backend lost (xruns) in the current capture.
    std::uint64_t xruns() const { return capture.xruns(); }
    // Any thread: recorded blocks dropped because the file thread fell behind.
    std::uint64_t droppedBlocks() const { return ioQ.droppedBlocks(); }

Q_SIGNALS:
    // Emitted on every assignment of an observable property, changed or not.
    void changed();

private:
    friend struct RoomEngineProbe;  // tests reach the private state through it

    template <typename T, typename V>
    void assign(T& field, V&& value) {
        field = std::forward<V>(value);
        Q_EMIT changed();
    }

    // Main thread, capture stopped: adopts the capture format and sizes
    // everything the audio thread uses for it.
    void setCaptureFormat(int channels, int hz);
    // Main thread: publishes a fresh channel list and rebuilds the audio
    // thread's copies of its armed and solo flags.
    void publishChannels(QList<Channel> list);
    // Main thread: tells the audio thread whether to hand blocks to the file thread.
    void setCaptureRecording(bool on);
    // Main thread: publishes `controls` to the audio thread as one set.
    void publishControls();
    // Main thread: the channel list for an interface with these input names,
    // with the names and armed flags stored for it.
    QList<Channel> loadChannels(const QString& uid, const QStringList& hwNames) const;
    void saveLabels();

    // Main thread: a device's rate or the configuration changed. Restarts
    // (continuing a take as a new one) when what runs no longer matches.
    void deviceChanged();
    // Main thread: the headphone output on `device` (or the default output);
    // returns what failed, empty when nothing did.
    QString startHeadphones(const std::optional<AudioDev>& device);
    // The started status text.
    QString startedText(const AudioDev& input, const std::optional<AudioDev>& output) const;

    // Main thread, every 0.05 s: meters, headphone label, elapsed time, and a
    // new set of files when the current one is an hour old or a file nears
    // the 4 GiB that its header can describe.
    void tick();

    // What a new set of files needs from the main thread.
    struct SetPlan {
        QString folder;
        QString stamp;
        std::vector<SetInput> inputs;
        QStringList descriptions;  // display names, as the files describe their input
        int hz = rate;
        Clock::WallTime start;
    };
    struct SetOpened {
        bool any = false;  // at least one file of the set is open
        std::vector<FileFailure> failures;
        std::uint64_t generation = 0;
    };
    SetPlan planFiles(Clock::Instant at) const;
    // File thread: opens the planned set (an empty folder opens nothing).
    SetOpened openFiles(const SetPlan& plan);
    void rollFiles();
    // Main thread: files failed while the file thread wrote them.
    void filesFailed(const std::vector<FileFailure>& failures, bool exhausted, std::uint64_t set);
    // Ends the take after the files could not go on, saying why.
    void endTakeAfterFailure(const std::vector<FileFailure>& failures);

    // Audio thread: one run of at most kChunk frames starting at `offset`.
    void processChunk(const float* const* buffers, int n, std::int64_t offset, int frames);

    const Clock& clock;

    QList<AudioDev> inputs_;
    QList<AudioDev> outputs_;
    QString inputUID_;
    QString outputUID_;
    QList<Channel> channels_;
    float mixPeak_ = 0.0f;
    float monPeak_ = 0.0f;
    QString monLabel_ = QStringLiteral("Mix");
    bool running_ = false;
    bool recording_ = false;
    double elapsed_ = 0.0;
    QString status_;
    QString folderName_;
    QString rootPath_;
    bool linkConnected_ = false;
    bool showAll_ = false;

    int hwChannels = 0;
    int hwRate_ = rate;
    RingBuffer ring{rate};
    FileQueue ioQ;

    // Lifecycle, main thread.
    InputCapture capture;
    std::unique_ptr<HeadphoneFeed> feed;     // held by the headphone callback
    std::unique_ptr<PlaybackStream> source;  // the running headphone output
    QObject* timer = nullptr;
    Clock::SteadyTime startedAt{};  // the distant past until a start finishes

    // Recording, main thread.
    DateText dayFmt{"MMM d"};
    DateText minuteFmt{"h.mm a"};
    DateText secondFmt{"h.mm.ss a"};
    QString recFolder;
    Clock::Instant recStart;
    Clock::Instant fileStart;
    std::uint64_t fileSet = 0;  // generation of the open set of files
    // A set rolls over before any of its files passes this much sample data:
    // the header's 32-bit sizes end there.
    std::uint64_t maxFileBytes = 0xFFFFFFFFull - 646;
    // Dropped blocks already reported to the user.
    std::uint64_t dropsShown = 0;

    // Main → audio: the main thread's copy of the controls, and their hand-over.
    AudioControls controls;
    TripleBuffer<AudioControls> published;
    // Audio → main.
    PeakMeters meters;
    std::vector<float> peaks;  // main thread: the tick's copy

    // Audio thread only: the tone and working storage, sized by
    // setCaptureFormat so that process() never allocates.
    std::uint64_t toneSeen = 0;  // the last tone request taken up
    std::int64_t toneLeft = 0;
    float tonePhase = 0.0f;
    static constexpr int kChunk = 1024;
    struct Work {
        const std::uint8_t* armed = nullptr;  // the flags of the controls in use
        const std::uint8_t* solo = nullptr;
        std::size_t armedLen = 0, soloLen = 0;
        std::vector<int> armedIdx, soloIdx;  // channels feeding the mix and the headphones
        int armedCount = 0, soloCount = 0;
        bool anySolo = false, recording = false;
        float toneStep = 0.0f;  // radians per frame of the 1000 Hz tone
        float mixGain = 1.0f, monGain = 1.0f;
        std::vector<float> peaks;
        std::vector<float> mix, monitor;
        float mixPeak = 0.0f, monPeak = 0.0f;
    } work;
};
