#pragma once

#include <QSet>
#include <QString>

// How recordings are named on disk.

// The longest file name the file systems we write to accept, in UTF-8 bytes.
inline constexpr int kMaxFileNameBytes = 255;

// A text made into one name that every file system a recorder writes to
// accepts (ext4, exFAT and FAT on cards and sticks, NTFS, network shares):
// "/" becomes "-", ":" becomes ".", each of \ * ? " < > | and every control
// character becomes "-"; spaces and tabs are trimmed from both ends, and
// dots and spaces from its end; a reserved device name of the other desktop
// system (CON, NUL, COM1, …, with or without an extension) gets a "-" after
// it; at most 255 bytes, cut at a character boundary. Empty when nothing is
// left: the caller says what stands in.
QString safeName(const QString& text);

// The names the files of one set try, in order. The mix's own name is kept
// for it; an input's is its safe label, then with its input number, then
// with a count: "Vocal (input 5) 2 - <stamp>.wav". No two names of a set are
// alike, letter case aside (for file systems that ignore it). Each name is
// tried with an exclusive create, so a name taken on disk moves on to the
// next, and no file is ever replaced.
class SetNames {
public:
    // `stamp`: the set's day and time, as they stand in its names.
    explicit SetNames(const QString& stamp);

    // The mix's next name: "Mix - <stamp>.wav", then "Mix 2 - …", …
    QString nextMix() { return next(QStringLiteral("Mix"), QString(), mixTried); }
    // The next name for input `number` (1-based) labelled `label` (its
    // display name); `tried` counts the names it has had, starting from 0.
    QString nextInput(const QString& label, int number, int& tried);
    // The plain name an input falls back on when a file system refuses its
    // own: "Input N - <stamp>.wav", then "Input N (input N) - …", …
    QString nextFallback(int number, int& tried);
    // Whether a create that failed with `error` (an errno) was refused for its
    // name, rather than for the disk, its rights or the volume.
    static bool refusesName(int error);

private:
    QString next(const QString& base, const QString& alternative, int& tried);

    QString tail;  // " - <stamp>.wav"
    QSet<QString> used;
    int mixTried = 0;
};
