#include "recording/DiskSpace.h"

#include <pthread.h>
#include <sys/statvfs.h>

#include <QDir>
#include <filesystem>

namespace {
constexpr double kAnswerWithin = 1.0;  // seconds
}

std::optional<std::uint64_t> DiskSpace::freeBytes(const std::string& path) {
    struct statvfs fs {};
    if (::statvfs(path.c_str(), &fs) != 0) return std::nullopt;
    return std::uint64_t{fs.f_bavail} * fs.f_frsize;
}

DiskSpace::DiskSpace(const Clock& c, Source source, std::chrono::milliseconds interval) : clock(c) {
    thread = std::thread(&DiskSpace::run, state, std::move(source), interval);
    pthread_setname_np(thread.native_handle(), "tessaly.disk");
}

DiskSpace::~DiskSpace() {
    std::unique_lock guard(state->lock);
    state->stopping = true;
    state->wake.notify_all();
    // A read that hangs on a dead volume must not hold up the end of the
    // program: the thread is then let go, with the state it shares.
    const bool ended = state->wake.wait_for(guard, std::chrono::milliseconds(200),
                                            [this] { return state->ended; });
    guard.unlock();
    ended ? thread.join() : thread.detach();
}

void DiskSpace::watch(const QString& folder, std::optional<std::uint64_t> known) {
    // Only words here: looking at the folder itself may hang as statvfs does.
    const std::string wanted =
        QFile::encodeName(QDir::cleanPath(QDir::current().absoluteFilePath(folder))).toStdString();
    {
        std::lock_guard guard(state->lock);
        if (wanted == state->path) return;
        // Another folder may be on another volume: the last figure is not its.
        state->path = wanted;
        state->free = known;
    }
    state->wake.notify_all();
}

DiskSpace::Reading DiskSpace::latest() const {
    std::lock_guard guard(state->lock);
    if (state->reading && state->seenRead != state->reads) {
        state->seenRead = state->reads;
        state->seenSince = clock.ticks();
    }
    const bool hung =
        state->reading && secondsBetween(state->seenSince, clock.ticks()) > kAnswerWithin;
    return {!hung, hung ? std::nullopt : state->free};
}

void DiskSpace::run(std::shared_ptr<State> s, Source source, std::chrono::milliseconds interval) {
    std::unique_lock guard(s->lock);
    while (!s->stopping) {
        const std::string asked = s->path;
        if (!asked.empty()) {
            s->reading = true;
            ++s->reads;
            guard.unlock();
            std::filesystem::path existing(asked);
            std::error_code ignored;
            while (!std::filesystem::is_directory(existing, ignored) &&
                   existing.has_parent_path() && existing != existing.parent_path())
                existing = existing.parent_path();
            const std::optional<std::uint64_t> answer = source(existing.string());
            guard.lock();
            s->reading = false;
            if (asked == s->path) s->free = answer;
        }
        s->wake.wait_for(guard, interval, [&] { return s->stopping || s->path != asked; });
    }
    s->ended = true;
    s->wake.notify_all();
}
