#include "hardware/AudioSystem.h"

#include <algorithm>

#include "hardware/ChangeDispatcher.h"
#include "hardware/jack/JackSystem.h"

namespace {
std::unique_ptr<AudioSystem>& installed() {
    static std::unique_ptr<AudioSystem> system;
    return system;
}
}  // namespace

AudioSystem::AudioSystem() : dispatcher(std::make_unique<ChangeDispatcher>()) {}

AudioSystem::~AudioSystem() = default;

void AudioSystem::onChange(std::function<void(AudioChange)> handler) {
    dispatcher->handler = std::move(handler);
}

void AudioSystem::notify(AudioChange change) {
    dispatcher->post(change);
}

QString AudioSystem::inputName(std::uint32_t, int) {
    return {};
}

std::optional<DeviceSnapshot> AudioSystem::snapshot(const QString& uid) {
    for (const AudioDev& d : devices()) {
        if (d.uid != uid) continue;
        DeviceSnapshot s{d, nominalRate(d.id), {}, {}};
        for (int c = 1; c <= std::max<std::int64_t>(d.inputs, 1); ++c)
            s.inputNames.append(inputLabel(inputName(d.id, c), c));
        return s;
    }
    return std::nullopt;
}

AudioSystem& AudioSystem::current() {
    // JACK unless a backend was chosen at start-up.
    if (!installed()) installed() = std::make_unique<JackSystem>();
    return *installed();
}

void AudioSystem::install(std::unique_ptr<AudioSystem> system) {
    installed() = std::move(system);
}
