// A recorder to be killed: records four inputs of a known signal into the
// folder given as its argument, at real-time pace, and reports on standard
// output the take folder and then, every few buffers, the frames processed.
#include <QCoreApplication>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <thread>

#include "room/RoomEngine.h"
#include "support/FakeAudio.h"
#include "support/Feed.h"

int main(int argc, char** argv) {
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QCoreApplication app(argc, argv);
    if (argc < 2) return 2;
    auto owned = std::make_unique<FakeAudio>();
    FakeAudio& audio = *owned;
    audio.list = {{1, "Test Interface", "dev", 4, 2}};
    for (int i = 1; i <= 4; ++i) audio.names[{1, i}] = QString("In %1").arg(i);
    AudioSystem::install(std::move(owned));
    RoomEngine engine;
    engine.setRoot(QString::fromLocal8Bit(argv[1]));
    engine.refreshDevices();
    engine.startEngine();
    engine.record();
    std::printf("take %s\n", qUtf8Printable(engine.recordingFolder()));
    std::fflush(stdout);
    Feed feed([&](const float* const* b, std::int64_t n,
                  std::int64_t frames) { audio.render(audio.renderUser, b, n, frames); },
              4);
    auto next = std::chrono::steady_clock::now();
    const auto period = std::chrono::microseconds(256 * 1'000'000 / 48'000);
    for (int b = 1;; ++b) {
        feed.buffers(1);
        if (b % 10 == 0) {
            std::printf("frames %lld\n", static_cast<long long>(feed.frames()));
            std::fflush(stdout);
        }
        next += period;
        std::this_thread::sleep_until(next);
    }
}
