#pragma once

#include "base/Status.h"

// The status line, put together in one place from its parts, each of which
// brings its own separator: what the engine or the take says, a note on the
// take going on (" · recording resumed …"), what the take lost, and the
// disk warning.
struct StatusLine {
    Status base;
    Status note;
    Status losses;
    Status disk;

    Status whole() const { return base + note + losses + disk; }
};
