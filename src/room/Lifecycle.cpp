#include "room/Lifecycle.h"

using State = Lifecycle::State;
using Do = Lifecycle::Do;

bool Lifecycle::capturing() const {
    return now == State::running || now == State::recording || now == State::steadying;
}

Lifecycle::Step Lifecycle::started(Time at, std::uint64_t buffers) {
    startedAt = lastBuffer = at;
    buffersSeen = buffers;
    quietAt.reset();
    recheckAt.reset();
    steadySince.reset();
    switch (now) {
        case State::lost:
            now = State::steadying;  // audio must come, and keep coming, first
            return {};
        case State::restarting:
            now = State::running;
            return {Do::carryOn, takeDay};
        case State::steadying:
            return {};
        default:
            now = State::running;
            return {};
    }
}

void Lifecycle::failed(Time at) {
    lookAgain(at, now == State::lost || now == State::steadying || now == State::restarting);
}

void Lifecycle::lookAgain(Time at, bool takeWaits) {
    now = takeWaits ? State::lost : State::waiting;
    retryAt = at + std::chrono::duration_cast<Time::duration>(retryInterval);
}

void Lifecycle::stopped() {
    now = State::stopped;
}

void Lifecycle::takeStarted(const QString& dayFolder) {
    now = State::recording;
    takeDay = dayFolder;
}

void Lifecycle::takeEnded() {
    if (now == State::recording) now = State::running;
}

bool Lifecycle::cancelResume() {
    const State was = now;
    if (now == State::lost || now == State::restarting) now = State::waiting;
    if (now == State::steadying) now = State::running;
    return now != was;
}

Lifecycle::Step Lifecycle::lose(Time at) {
    lookAgain(at, now != State::running);  // a take, or one waiting to go on, is kept
    return {Do::lose, {}};
}

Lifecycle::Step Lifecycle::changed(Time at, Change judged) {
    if (now == State::waiting || now == State::lost) {
        // Perhaps it is ours, back: looked for once its ports stop coming.
        quietAt = at + std::chrono::duration_cast<Time::duration>(quietFor);
        return {};
    }
    if (!capturing()) return {};
    // A loss is never put off: nothing would tell of it again.
    if (judged == Change::gone) return lose(at);
    if (judged == Change::same) return {};
    // Just after a start, what differs may be the start itself settling, or
    // ports still appearing one by one: looked at again later.
    if (at - startedAt <= changeGuard) {
        recheckAt = at + std::chrono::duration_cast<Time::duration>(recheckAfter);
        return {};
    }
    if (now == State::recording) now = State::restarting;
    if (now == State::steadying) now = State::lost;
    if (now == State::running) now = State::waiting;
    return {Do::restart, {}};
}

Lifecycle::Step Lifecycle::tick(Time at, std::uint64_t buffers) {
    if (now == State::waiting || now == State::lost) {
        if (at < retryAt && (!quietAt || at < *quietAt)) return {};
        quietAt.reset();
        retryAt = at + std::chrono::duration_cast<Time::duration>(retryInterval);
        return {Do::look, {}};
    }
    if (!capturing()) return {};
    if (recheckAt && at >= *recheckAt) {
        recheckAt.reset();
        return {Do::judge, {}};
    }
    if (buffers != buffersSeen) {
        if (!steadySince || at - lastBuffer >= gapOver) steadySince = at;
        buffersSeen = buffers;
        lastBuffer = at;
        if (now == State::steadying && at - *steadySince >= steadyFor) {
            now = State::running;  // the take starts afresh from here
            return {Do::resume, takeDay};
        }
        return {};
    }
    // A take, or a take waiting to go on, needs audio to keep coming.
    if (now != State::running && at - lastBuffer >= silentCapture) return lose(at);
    return {};
}
