#pragma once

#include <QString>
#include <cstdint>

// One audio device as the catalogue reports it.
struct AudioDev {
    std::uint32_t id = 0;  // backend handle, valid only while the device is present
    QString name;          // human-readable name; empty when unknown
    QString uid;           // persistent key for stored device choices and labels
    std::int64_t inputs = 0;
    std::int64_t outputs = 0;

    bool operator==(const AudioDev&) const = default;
};
