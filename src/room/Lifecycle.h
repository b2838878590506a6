#pragma once

#include <QString>
#include <chrono>
#include <cstdint>
#include <optional>

#include "base/Clock.h"
#include "hardware/DeviceSession.h"

// The life of capture and take as one state machine: whether an interface
// runs, whether it feeds a take, and, when it went away mid-take, the take
// to go on with once it is back and its audio is steady. It owns every delay
// of that life (looking for an interface again, a second look at a change
// just after a start, waiting for changes to end, the silent-capture
// watchdog, waiting for steady audio) and is the only place where a resume
// is armed or cancelled.
//
// It decides; the engine acts. Each event returns the step the engine must
// take now. Time comes in with the events (the engine's tick, every 0.05 s):
// no timer of its own, so it is tested as a table on a hand-moved clock.
// Main thread only.
class Lifecycle {
public:
    enum class State {
        stopped,     // nothing runs and nothing is looked for
        waiting,     // no interface runs: looked for again and again
        running,     // capture runs, no take
        recording,   // capture feeds a take
        lost,        // the interface went mid-take: looked for, to go on with the take
        steadying,   // it is back: the take goes on after a second of steady audio
        restarting,  // the interface changed mid-take: the take goes on once it runs again
    };
    enum class Do {
        nothing,
        look,     // list the devices; start the interface waited for when it is there
        judge,    // look at the running interface again (a change just after a start)
        lose,     // the interface is gone: close the take, say so
        restart,  // what runs no longer matches the interface: start it again
        resume,   // start a take in `folder`: the interface came back
        carryOn,  // start a take in `folder`: the interface changed under a take
    };
    struct Step {
        Do what = Do::nothing;
        QString folder;  // the day folder of the take that goes on
        bool operator==(const Step&) const = default;
    };
    using Change = DeviceSession::Change;

    using Time = Clock::SteadyTime;
    using Seconds = std::chrono::duration<double>;
    // How often an interface that is not there is looked for.
    Seconds retryInterval{2.0};
    static constexpr Seconds changeGuard{1.5};   // after a start: changes looked at again
    static constexpr Seconds recheckAfter{1.6};  // … this long after they came
    static constexpr Seconds quietFor{1.0};  // while waiting: changes over (ports come one by one)
    static constexpr Seconds silentCapture{2.0};  // a take without buffers this long: lost
    static constexpr Seconds steadyFor{1.0};      // buffers with no gap this long: steady
    static constexpr Seconds gapOver{0.5};        // a gap this long breaks steadiness

    State state() const { return now; }
    // Capture runs: running, recording or steadying.
    bool capturing() const;
    // A take runs or waits to go on: the machine must stay awake.
    bool takeAlive() const {
        return now != State::stopped && now != State::waiting && now != State::running;
    }

    // The engine opened the interface; `buffers` is the capture's count so far.
    Step started(Time at, std::uint64_t buffers);
    // It could not: the interface is looked for again after the retry interval.
    void failed(Time at);
    // The user stopped the engine: nothing is looked for any more.
    void stopped();
    // A take was asked for in `dayFolder` (empty: today's), or its folder is
    // known; whoever began it, a take cut off is not taken up after it.
    void takeStarted(const QString& dayFolder);
    // The take ended (a stop, a full disk, its files failed).
    void takeEnded();
    // The user's own stop, choice of device or refresh: the take that was
    // cut off stays ended. True when one was waited for.
    bool cancelResume();

    // The hardware changed, judged against what runs (when capturing).
    Step changed(Time at, Change judged);
    // Every tick, with the capture's buffer count.
    Step tick(Time at, std::uint64_t buffers);

private:
    Step lose(Time at);
    void lookAgain(Time at, bool takeWaits);

    State now = State::stopped;
    QString takeDay;  // of the take that runs, or is to go on
    Time retryAt{}, startedAt{}, lastBuffer{};
    std::optional<Time> quietAt, recheckAt, steadySince;
    std::uint64_t buffersSeen = 0;
};
