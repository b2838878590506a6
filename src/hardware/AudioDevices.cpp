#include "hardware/AudioDevices.h"

#include <array>

#include "hardware/AudioSystem.h"

namespace AudioDevices {

namespace {

// Names of loopback drivers, aggregates, conferencing and screen-capture
// devices: none of them is the interface on the desk.
constexpr std::array<const char*, 15> kVirtualWords = {
    "blackhole",   "ndi",      "obs",          "virtual",       "aggregate",
    "soundflower", "loopback", "multi-output", "iphone",        "ipad",
    "continuity",  "zoom",     "teams",        "screen record", "stacked",
};

QList<AudioDev> keep(const QList<AudioDev>& devices, bool (*wanted)(const AudioDev&)) {
    QList<AudioDev> out;
    for (const AudioDev& d : devices) {
        if (wanted(d) && isReal(d.name)) out.append(d);
    }
    return out;
}

}  // namespace

QList<AudioDev> all() {
    return AudioSystem::current().devices();
}

QList<AudioDev> inputs(const QList<AudioDev>& devices) {
    return keep(devices, [](const AudioDev& d) { return d.inputs >= 1; });
}

QList<AudioDev> outputs(const QList<AudioDev>& devices) {
    return keep(devices, [](const AudioDev& d) { return d.outputs >= 1; });
}

bool isReal(const QString& name) {
    const QString lower = name.toLower();
    for (const char* word : kVirtualWords) {
        if (lower.contains(QLatin1String(word))) return false;
    }
    return true;
}

std::optional<AudioDev> find(const QString& uid) {
    for (const AudioDev& d : all()) {
        if (d.uid == uid) return d;
    }
    return std::nullopt;
}

double sampleRate(std::uint32_t id) {
    return AudioSystem::current().nominalRate(id);
}

}  // namespace AudioDevices
