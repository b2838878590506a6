#pragma once

#include <QObject>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

#include "base/Clock.h"
#include "engine/AudioControls.h"
#include "engine/BufferProcessor.h"
#include "engine/HeadphoneFeed.h"
#include "hardware/DeviceSession.h"
#include "recording/DiskSpace.h"
#include "recording/TakeRecorder.h"
#include "room/DropoutReport.h"
#include "room/Lifecycle.h"
#include "room/RoomCommands.h"
#include "room/RoomState.h"
#include "room/StatusLine.h"
#include "system/SleepInhibitor.h"

// The one engine at the centre of the program: a thin coordinator of its
// parts (the device session, the per-buffer processor, the take recorder and
// the channel list) that keeps the observable state and carries out the
// commands that involve more than one of them.
//
// Main thread only, like everything it owns but the processor's audio side
// and the recorder's file thread. Tests may drive the tick themselves.
class QTimer;

class RoomEngine final : public RoomState, public RoomCommands {
public:
    static constexpr double rollover = TakeRecorder::rollover;

    // The program's engine, made on first use; it lives until the process ends.
    static RoomEngine& shared();

    explicit RoomEngine(const Clock& clock = Clock::system(), QObject* parent = nullptr);
    ~RoomEngine() override;

    // Repairs the takes a crash left open, asks for microphone access,
    // starts the 0.05 s tick, and once access is granted lists the devices
    // and starts the engine.
    void boot();
    // Ends a take, stops capture and headphones, and stops waiting for an
    // interface to come back.
    void stopEngine();
    // How often an interface that is not there is looked for again (2 s),
    // on the engine's clock.
    void setRetryInterval(std::chrono::milliseconds interval);
    // How long one piece of file work may take before the disk shows as not
    // answering (5 s; tests).
    void answerWithin(std::chrono::duration<double> limit) { recorder.answerWithin(limit); }
    // Where the free disk space comes from, and how often it is read (tests).
    void setFreeSpace(DiskSpace::Source source, std::chrono::milliseconds interval);

    void refreshDevices() override;
    void startEngine() override;
    void selectInput(const QString& uid) override;
    void selectOutput(const QString& uid) override;
    void setRoot(const QString& path) override;
    void setShowAll(bool on) override;
    void record(const std::optional<QString>& dayFolder = std::nullopt) override;
    void stopRecording() override;
    void setArmed(int index, bool on) override;
    void setName(int index, const QString& name) override;
    void setSolo(int index, bool on) override;
    void clearSolo() override;
    void testTone(double seconds = 0.7) override;
    void setLinkConnected(bool connected) override;

    // Every 0.05 s: meters, headphone label, elapsed time, the disk, audio
    // lost, the life of capture and take (an interface looked for, one that
    // fell silent, a cut-off take to go on with), and a new set of files
    // when the current one is due.
    void tick();

    // Any thread: the audio backend's notices of lost buffers, and recorded
    // blocks lost because the disk fell behind.
    std::uint64_t xrunNotices() const { return session.xrunNotices(); }
    std::uint64_t droppedBlocks() const { return recorder.droppedBlocks(); }
    // A take was asked for and the file thread is opening it.
    bool takeStarting() const { return recorder.starting(); }
    // How long the end of the program waits for the files to be closed.
    static constexpr std::chrono::seconds filesWait{10};
    // Waits until the file thread has done all it was asked (every block
    // recorded so far written, every file closed), at most `limit`. False
    // when it has not: the log then names each file whose sync did not
    // finish. Tests, and the end of the program, after stopEngine().
    bool waitForFiles(std::chrono::milliseconds limit = std::chrono::hours(24));

private:
    // Carries out what the life of capture and take decided.
    void act(const Lifecycle::Step& step);
    // The user's own choice: a take cut off is not taken up again.
    void cancelResume();
    // A hardware change reported, judged against what runs.
    void deviceChanged();
    // Waiting: the interface in use, or (none chosen yet) any, when it is
    // there, is started.
    void lookForInterface();
    // One reading of the devices, published; the choice made from it for the
    // given stored choices (by default the engine's own).
    DeviceSession::Devices listDevices(const QString& inputUID = {}, const QString& outputUID = {});
    // Starts a take in `dayFolder` (a path), or in today's under the root;
    // `then` once it runs.
    void startTake(const std::optional<QString>& dayFolder, const std::function<void()>& then = {});
    void stopCapture();
    void rollFiles();
    // After a failure report or a roll: the take may have ended.
    void showTakeStatus(const Status& status);
    // Ends the take, its files closed; the status says `saying` and the folder.
    void endTake(const Status& saying);
    void endTakeState();
    void publishControls();
    std::vector<TakeInput> armedInputs() const;
    // A new status; the note, the take's losses and the disk warning follow it.
    void setStatus(const Status& status);
    // The status as it stands, with a note on the take after it.
    void addNote(const QString& words);
    void showStatus();
    // Every tick: the volume's free space as recording time; the warning;
    // a take stopped before the disk is full.
    void watchDisk();
    // Bytes a second that a take of the armed inputs writes; whether the
    // space a take keeps free (the larger of 64 MiB and 10 s of that) is gone.
    double takeBytesPerSecond() const;
    static double reserveFor(double perSecond);
    bool belowReserve(const DiskSpace::Reading& reading, double perSecond) const;

    const Clock& clock;
    TakeRecorder recorder;
    BufferProcessor processor;
    AudioControls controls;  // the main thread's copy of what the audio thread needs
    int hwChannels = 0;
    std::unique_ptr<HeadphoneFeed> feed;  // held by the headphone callback
    DeviceSession session;
    Lifecycle life;
    QObject* timer = nullptr;
    std::vector<float> peaks;  // the tick's copy
    QString recovered;         // what the start-up repaired, said with the next start
    DiskSpace::Source freeSpace = &DiskSpace::freeBytes;  // asked once as a take begins
    std::unique_ptr<DiskSpace> disk;
    StatusLine line;
    std::uint64_t statusesSet = 0;  // counts setStatus(): a late answer finds it moved on
    DropoutReport losses;
    SleepInhibitor awake;  // held while a take runs
};
