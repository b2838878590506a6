#pragma once

#include <QString>
#include <cstdint>
#include <filesystem>
#include <vector>

// How recordings are named on disk.

// A display name made fit for a file name: "/" becomes "-", ":" becomes ".",
// control characters (NUL, line breaks, …) become spaces, then spaces and
// tabs are trimmed from both ends.
QString safeName(const QString& displayName);

// A formatted date or time made fit for a path component ("/" and control
// characters would split or garble it).
QString pathSafe(const QString& text);

// The longest file name the file systems we write to accept, in UTF-8 bytes.
inline constexpr int kMaxFileNameBytes = 255;

// One armed input of a set of files.
struct SetInput {
    std::int64_t id;
    QString safe;  // safeName() of its display name
};

// File names for one set: one per input, in order, then the mix. Every name
// is unique within the set (compared without regard to case, for file
// systems that ignore it) and names no file that already exists in `folder`.
// The first input keeps the plain name; a later input with the same name, or
// one called "Mix", gets its input number: "Vocal (input 5) - <stamp>.wav".
// Names too long for the file system are shortened at a character boundary.
std::vector<QString> setFileNames(const std::vector<SetInput>& inputs, const QString& stamp,
                                  const std::filesystem::path& folder);
