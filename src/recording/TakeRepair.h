#pragma once

#include <QString>
#include <QStringList>
#include <filesystem>
#include <vector>

// Repairs takes cut off by a crash or a power cut, found through the markers
// they left (OpenTakeMark). A file of ours whose header describes less (or
// more) than the whole frames it holds gets sizes for exactly those frames;
// a partial last frame is cut off, and so is the disk space reserved ahead of
// the file; nothing else in it changes. Anything else is left alone.
namespace TakeRepair {

enum class Outcome {
    exact,     // already described its whole frames: untouched
    repaired,  // sizes rewritten and/or a partial frame cut, on stable storage
    tooShort,  // shorter than our header: left alone
    tooLarge,  // more than a header can describe: left alone
    foreign,   // not our header layout: left alone
    failed,    // ours, but it could not be read or written: tried again next time
};
Outcome repairFile(const std::filesystem::path& file);

struct Take {
    QString folder;
    int repaired = 0;       // files whose sizes were made exact
    QStringList leftAlone;  // "name (why)"
    bool done = true;       // false: a file could not be repaired; its marker stays
};
// Main thread, before capture starts: every take whose marker in `markers`
// is left behind and held by no running process, repaired, its marker
// removed. A marker whose folder cannot be reached now, or with a file that
// could not be written (a volume mounted read-only), is kept for a later
// start. Each take is logged.
std::vector<Take> recoverOpenTakes(const QString& markers);

}  // namespace TakeRepair
