#pragma once

#include <QString>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "base/Clock.h"

// The free space of the volume that holds a folder, read once a second on a
// thread of its own ("tessaly.disk"): statvfs can block for minutes on a dead
// network or USB volume, and neither the audio thread nor the main thread may
// wait for it. A volume that has not answered for more than a second is said
// to be not answering; its last figure is not used.
class DiskSpace {
public:
    // Free bytes of the volume holding `path` (for an unprivileged user);
    // nothing when that cannot be told.
    using Source = std::function<std::optional<std::uint64_t>(const std::string& path)>;
    static std::optional<std::uint64_t> freeBytes(const std::string& path);

    explicit DiskSpace(const Clock& clock, Source source = &DiskSpace::freeBytes,
                       std::chrono::milliseconds interval = std::chrono::seconds(1));
    ~DiskSpace();
    DiskSpace(const DiskSpace&) = delete;
    DiskSpace& operator=(const DiskSpace&) = delete;

    // Main thread: the folder to watch; while it does not exist yet, its
    // nearest existing parent (looked up on the disk thread). Until it is
    // read, its free space is `known` (what the caller just read of it), or
    // not known.
    void watch(const QString& folder, std::optional<std::uint64_t> known = std::nullopt);

    struct Reading {
        bool answering = true;              // false: a read has hung for over a second
        std::optional<std::uint64_t> free;  // the last answer for the watched folder
    };
    // Any thread.
    Reading latest() const;

private:
    // Shared with the thread, which may outlive this object while a read hangs.
    struct State {
        std::mutex lock;  // guards everything below
        std::condition_variable wake;
        std::string path;
        std::optional<std::uint64_t> free;
        bool reading = false;
        std::uint64_t reads = 0;  // begun so far
        // When the read under way was first seen under way, by latest().
        std::uint64_t seenRead = 0;
        Clock::SteadyTime seenSince{};
        bool stopping = false;
        bool ended = false;
    };
    // The thread knows no clock: it may outlive this object and the clock.
    static void run(std::shared_ptr<State> state, Source source,
                    std::chrono::milliseconds interval);

    const Clock& clock;
    const std::shared_ptr<State> state = std::make_shared<State>();
    std::thread thread;
};
