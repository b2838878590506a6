// A recorder to be killed: records four inputs of a known signal into the
// folder given as its argument, at real-time pace, and reports on standard
// output the take folder and then, every few buffers, the frames processed.
#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <thread>

#include "support/Feed.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) return 2;
    RoomEngine engine;
    engine.setRoot(QString::fromLocal8Bit(argv[1]));
    RoomEngineProbe::open(engine, "dev", {"In 1", "In 2", "In 3", "In 4"});
    engine.record();
    std::printf("take %s\n", qUtf8Printable(engine.recordingFolder()));
    std::fflush(stdout);
    Feed feed(engine, 4);
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
