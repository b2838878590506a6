#include "hardware/jack/JackStreams.h"

#include "hardware/jack/JackClient.h"
#include "hardware/jack/JackSystem.h"

std::unique_ptr<JackCapture> JackCapture::open(const QStringList& sources, RenderFn render,
                                               void* user, JackSystem& system,
                                               CaptureError& error) {
    auto client = JackClient::open("tessaly", system, error);
    if (!client || !client->attachInputs(sources, render, user, error)) return nullptr;
    return std::unique_ptr<JackCapture>(new JackCapture(std::move(client)));
}

JackCapture::~JackCapture() {
    owner->detachInputs();
}

int JackCapture::channels() const {
    return owner->inputCount();
}

double JackCapture::rate() const {
    return owner->rate();
}

int JackCapture::bufferFrames() const {
    return owner->bufferFrames();
}

std::uint64_t JackCapture::xrunNotices() const {
    return owner->xrunNotices();
}

bool JackCapture::alive() const {
    return owner->alive();
}

std::unique_ptr<JackPlayback> JackPlayback::open(std::shared_ptr<JackClient> client,
                                                 const QStringList& targets, int channels,
                                                 PullFn pull, void* user, JackSystem& system,
                                                 QString& error) {
    if (!client || !client->alive()) {
        CaptureError failed;
        client = JackClient::open("tessaly-headphones", system, failed);
        if (!client) {
            error = failed.step == u"activate"
                        ? QStringLiteral("JACK could not activate the output (%1)").arg(failed.code)
                    : (failed.code & JackServerFailed)
                        ? QStringLiteral("no JACK server is running")
                        : QStringLiteral("JACK refused a client (status %1)").arg(failed.code);
            return nullptr;
        }
    }
    if (!client->attachOutputs(targets, channels, pull, user, error)) return nullptr;
    return std::unique_ptr<JackPlayback>(new JackPlayback(std::move(client)));
}

JackPlayback::~JackPlayback() {
    owner->detachOutputs();
}

bool JackPlayback::running() const {
    return owner->alive();
}
