#pragma once

#include <QString>
#include <cstdint>
#include <optional>

#include "base/Clock.h"
#include "base/Status.h"
#include "engine/Dropouts.h"

// What a take lost, as the engineer is told it: a note after the status while
// the take runs (" · 2 dropouts (0.02 s), first at 00:12:31", " · disk too
// slow: 1.3 s lost, first at 01:02:07", or " · disk slow" while the block
// ring is more than half full and nothing is lost yet), and the log, one line
// per loss and at most one a second, with the take's totals at its end. The
// server's xrun notices only label a log line: they also come for other
// programs' trouble, so they never count as a loss.
//
// Main thread only.
class DropoutReport {
public:
    explicit DropoutReport(const Clock& c) : clock(c) {}

    // A take begins; `take` is its number as the audio thread has it, and
    // `notices` the server's xrun notices so far.
    void begin(std::uint64_t take, std::uint64_t notices = 0);
    // Every tick of the take: the audio thread's latest counts (until they
    // are this take's, it lost nothing), how full the block ring is (0 to 1),
    // the rate and the server's xrun notices so far. True when the note changed.
    bool update(const Dropouts& latest, double ringFill, int rate, std::uint64_t notices = 0);
    const Status& note() const { return shown; }
    // The take in `folder` ended, having lost `latest`: the log says what it
    // had not said yet, and the totals; the note goes.
    void end(const Dropouts& latest, const QString& folder);

private:
    Status noteFor(bool slow) const;
    void logNew();

    const Clock& clock;
    std::uint64_t take = 0;
    int rate = 48000;
    Dropouts counts;  // this take's, as of the last update
    Dropouts logged;  // as far as the log has said them
    std::uint64_t notices = 0, loggedNotices = 0;
    std::optional<Clock::SteadyTime> loggedAt;
    bool slow = false;  // the ring was more than half full, and not yet below a quarter
    Status shown;
};
