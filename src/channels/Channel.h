#pragma once

#include <QString>
#include <cstdint>

// One hardware input of the current device, as the window and the link see it.
struct Channel {
    std::int64_t id = 0;  // zero-based input index; key of its label and its writer
    QString hwName;       // the device's own name for the input
    QString name;         // the user's label; may be empty
    bool armed = false;   // recorded to its own file and part of the mix
    bool solo = false;    // routed alone (with other soloed inputs) to the headphones
    float peak = 0.0f;    // displayed level, linear, decayed by the tick

    // The name used in files and labels: the user's name, else the hardware name.
    const QString& displayName() const { return name.isEmpty() ? hwName : name; }

    bool operator==(const Channel&) const = default;
};
