#pragma once

#include <QString>
#include <QStringList>
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

// One device as it stands at one moment, read from the backend in one go:
// what judges a change, what opens the capture and what names the inputs
// all see the same reading.
struct DeviceSnapshot {
    AudioDev device;
    double rate = 0.0;       // nominal, Hz; 0.0 when unknown
    QStringList inputNames;  // one per input, at least one: its own name, else "Input N"
    QStringList ports;       // the backend's own names of the capture ports, where it has them
};
