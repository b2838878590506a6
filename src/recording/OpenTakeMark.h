#pragma once

#include <QString>
#include <memory>

// A take folder marked as open while its take runs: a small file under
// $XDG_STATE_HOME/Tessaly (~/.local/state/Tessaly) that holds the folder's
// path, on stable storage before the first file of the take exists, and
// removed when the take ends cleanly. A marker left behind names a take cut
// off by a crash; the next start repairs it (TakeRepair) without searching
// the recording root.
//
// The process that writes the take holds the marker with flock(): another
// Tessaly, or another part of this one, can tell that the take is still being
// written. The lock is taken before the marker gets its name, so no one ever
// sees an unlocked marker of a running take.
class OpenTakeMark {
public:
    // Marks `takeFolder`; nothing when the marker cannot be written (the take
    // runs anyway, only unmarked: the reason is logged).
    static std::unique_ptr<OpenTakeMark> create(const QString& takeFolder);
    // The take ended: the marker goes, and its going is on stable storage;
    // unless kept.
    ~OpenTakeMark();
    // A file of the take may not be exact: the marker stays for the repair
    // at the next start.
    void keep() { kept = true; }
    OpenTakeMark(const OpenTakeMark&) = delete;
    OpenTakeMark& operator=(const OpenTakeMark&) = delete;

    // Where markers are kept.
    static QString folder();
    // A marker's file name ends so; a marker being made ends in `making`.
    static constexpr const char* suffix = ".take";
    static constexpr const char* making = ".making";

private:
    OpenTakeMark(QString file, int held) : path(std::move(file)), fd(held) {}
    const QString path;
    const int fd;
    bool kept = false;
};
