#include "hardware/AudioSystem.h"

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

AudioSystem& AudioSystem::current() {
    // JACK unless a backend was chosen at start-up.
    if (!installed()) installed() = std::make_unique<JackSystem>();
    return *installed();
}

void AudioSystem::install(std::unique_ptr<AudioSystem> system) {
    installed() = std::move(system);
}
